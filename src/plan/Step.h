#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace vanto {

// One concrete action on screen, as plans and drivers write it. Only `action` is
// required in JSON.
struct Step {
    std::string action;
    std::optional<std::string> url;
    std::optional<std::string> app;
    std::optional<bool> fresh;
    std::optional<std::string> target;
    std::optional<std::string> role;
    std::optional<std::string> near;
    std::optional<std::int64_t> nth;
    std::optional<std::string> text;
    std::optional<std::string> key;
    std::optional<std::int64_t> dy;
    std::optional<std::int64_t> ms;
    std::optional<std::string> label;

    // Kept in memory only, never read from or written to JSON.
    std::int64_t occurrence = 1;
    bool fromAnswer = false;

    bool operator==(const Step&) const = default;

    // Strict: a missing action or a key of the wrong type throws DecodeError.
    static Step fromJSON(const nlohmann::json& object);
};

// The thirteen JSON keys in their order, absent ones left out.
nlohmann::ordered_json toJSON(const Step& step);

} // namespace vanto
