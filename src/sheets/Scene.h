#pragma once

#include <nlohmann/json.hpp>

#include <filesystem>
#include <optional>
#include <string>

namespace vanto {

// One scene of a demo sheet: a take the program records from a prompt, or a hold,
// a frozen frame made later in the editor and never recorded.
struct Scene {
    enum class Kind { take, hold };

    Kind kind = Kind::take;
    std::string name;
    std::optional<std::string> summary;
    std::optional<std::string> startState;
    std::optional<double> seconds;
    std::optional<std::string> prompt;
    std::optional<std::string> freezeOn;
    std::optional<std::string> startURL;
    bool pageOnly = false;
    // Filled in by code that builds sheets in memory; a sheet file cannot set them.
    std::optional<std::filesystem::path> planFile;
    std::optional<std::string> clientKey;
    bool driven = false;

    bool operator==(const Scene&) const = default;

    // Strict about types and kinds (only "take" and "hold"); throws DecodeError.
    static Scene fromJSON(const nlohmann::json& object);
};

} // namespace vanto
