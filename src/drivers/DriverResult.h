#pragma once

#include "drivers/DriverLook.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// The program's answer to a driver's command.
struct DriverResult {
    enum class Outcome { started, done, unchanged, failed, looked, ended };

    std::int64_t id = 0; // 0 for the opening answer
    Outcome outcome = Outcome::started;
    std::optional<std::string> error;
    std::optional<DriverLook> look;

    bool operator==(const DriverResult&) const = default;

    static std::string_view text(Outcome outcome);
};

// Keys sorted (a plain json object); absent fields left out.
nlohmann::json toJSON(const DriverResult& result);

} // namespace vanto
