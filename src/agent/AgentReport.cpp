#include "agent/AgentReport.h"

#include <nlohmann/json.hpp>

namespace vanto {

void AgentReport::warn(const std::string& sentence) {
    warning = warning ? *warning + " " + sentence : sentence;
}

std::string AgentReport::json() const {
    nlohmann::ordered_json out;
    out["prompt"] = prompt;
    out["steps"] = steps;
    out["path"] = path;
    out["duration"] = duration;
    out["events"] = events;
    if (warning) out["warning"] = *warning;
    if (uploadID) out["uploadID"] = *uploadID;
    if (uploadURL) out["uploadURL"] = *uploadURL;
    if (insertedInto) out["insertedInto"] = *insertedInto;
    if (insertedAtMs) out["insertedAtMs"] = *insertedAtMs;
    if (idleMs) {
        auto& pairs = out["idleMs"] = nlohmann::ordered_json::array();
        for (const auto& [start, end] : *idleMs) pairs.push_back({start, end});
    }
    try {
        return out.dump();
    } catch (const nlohmann::json::type_error&) {
        return "{}";
    }
}

} // namespace vanto
