#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vanto {

// The size of the web page area a cloud run records, in points.
struct CloudStage {
    std::int64_t width = 0;
    std::int64_t height = 0;

    bool operator==(const CloudStage&) const = default;
    static CloudStage fromJSON(const nlohmann::json& object);
};

// One scene as the service sends it. Two keys are snake case ("call_to_action",
// "take_id") beside camel-case ones, as the service writes them.
struct CloudScene {
    std::string kind; // "take", "hold" or "card"; anything else is recorded as a take
    std::optional<std::string> name;
    std::optional<std::string> startURL;
    std::optional<std::string> prompt;
    std::optional<double> seconds;
    std::optional<std::string> freezeOn;
    std::optional<std::string> title;
    std::optional<std::string> subtitle;
    std::optional<std::string> callToAction;
    std::optional<std::string> takeID;
    std::optional<std::int64_t> attempt;
    std::optional<bool> driven;

    bool operator==(const CloudScene&) const = default;
    static CloudScene fromJSON(const nlohmann::json& object);
};

struct CloudSheet {
    std::string title;
    std::optional<std::string> project;
    std::optional<bool> projectSettings;
    CloudStage stage;
    std::vector<CloudScene> scenes;

    bool operator==(const CloudSheet&) const = default;
    static CloudSheet fromJSON(const nlohmann::json& object);
};

// A request an assistant made that this machine now holds. The claim token proves
// the hold and is a credential: it goes back with every request about the run and
// is stored nowhere but the held-run file.
struct CloudClaim {
    // How long a run may record when the service sets no "run_ms": 20 minutes.
    static constexpr std::int64_t defaultRunMs = 1'200'000;

    std::string id;
    std::int64_t attempt = 0;
    std::string requestedBy;
    CloudSheet sheet;
    std::optional<std::string> intoVideoID;
    std::string claimToken;
    std::map<std::string, std::int64_t> limits;
    bool resume = false;

    bool operator==(const CloudClaim&) const = default;

    // Strict: a required key that is missing or any key of the wrong type throws
    // DecodeError naming it; unknown keys are ignored.
    static CloudClaim fromJSON(const nlohmann::json& object);

    // The longest the run may record, in milliseconds.
    std::int64_t runMs() const;
};

} // namespace vanto
