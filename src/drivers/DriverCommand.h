#pragma once

#include "plan/Step.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>

namespace vanto {

// One command from a take's driver. Every kind but idle carries the driver's id,
// which the answer repeats.
struct DriverCommand {
    enum class Kind { step, look, end, abort, idle };

    Kind kind = Kind::idle;
    std::int64_t id = 0;
    std::optional<Step> step; // with Kind::step only

    bool operator==(const DriverCommand&) const = default;

    static DriverCommand performing(std::int64_t id, Step step);
    static DriverCommand looking(std::int64_t id);
    static DriverCommand ending(std::int64_t id);
    static DriverCommand aborting(std::int64_t id);
    static DriverCommand idle();

    // A command as a driver writes it: "id" and one of "step", "abort", "end", "look",
    // taken in that order of precedence; false counts as absent. Throws DecodeError,
    // "it names no step, look, end or abort" when nothing is asked.
    static DriverCommand fromWire(const nlohmann::json& wire);
};

} // namespace vanto
