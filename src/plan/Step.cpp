#include "plan/Step.h"

#include "base/Json.h"

namespace vanto {

Step Step::fromJSON(const nlohmann::json& object) {
    json::requireObject(object, "a step");
    Step step;
    step.action = json::requireString(object, "action");
    step.url = json::optionalString(object, "url");
    step.app = json::optionalString(object, "app");
    step.fresh = json::optionalBool(object, "fresh");
    step.target = json::optionalString(object, "target");
    step.role = json::optionalString(object, "role");
    step.near = json::optionalString(object, "near");
    // Ordinals, distances and pauses fit an int: anything larger is a mistake, not a plan.
    step.nth = json::optionalInt32(object, "nth");
    step.text = json::optionalString(object, "text");
    step.key = json::optionalString(object, "key");
    step.dy = json::optionalInt32(object, "dy");
    step.ms = json::optionalInt32(object, "ms");
    step.label = json::optionalString(object, "label");
    return step;
}

nlohmann::ordered_json toJSON(const Step& step) {
    nlohmann::ordered_json out;
    out["action"] = step.action;
    auto put = [&](const char* key, const auto& value) {
        if (value) out[key] = *value;
    };
    put("url", step.url);
    put("app", step.app);
    put("fresh", step.fresh);
    put("target", step.target);
    put("role", step.role);
    put("near", step.near);
    put("nth", step.nth);
    put("text", step.text);
    put("key", step.key);
    put("dy", step.dy);
    put("ms", step.ms);
    put("label", step.label);
    return out;
}

} // namespace vanto
