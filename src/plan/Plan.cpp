#include "plan/Plan.h"

#include "base/Json.h"

#include <algorithm>

namespace vanto {

Plan decodePlan(const nlohmann::json& value) {
    json::requireObject(value, "a plan");
    auto steps = value.find("steps");
    if (steps == value.end() || !steps->is_array()) throw DecodeError("a plan needs \"steps\", an array of steps");
    Plan plan;
    for (const auto& step : *steps) plan.steps.push_back(Step::fromJSON(step));
    return plan;
}

Plan decodePlan(const std::string& text) {
    nlohmann::json value;
    try {
        value = nlohmann::json::parse(text);
    } catch (const nlohmann::json::exception& error) {
        throw DecodeError("the plan is not valid JSON: " + json::description(error));
    }
    return decodePlan(value);
}

nlohmann::ordered_json toJSON(const Plan& plan) {
    auto steps = nlohmann::ordered_json::array();
    for (const auto& step : plan.steps) steps.push_back(toJSON(step));
    return {{"steps", steps}};
}

double waitSeconds(const Step& step) {
    if (!step.ms) return 0.8;
    return static_cast<double>(std::clamp<std::int64_t>(*step.ms, 0, 10000)) / 1000;
}

} // namespace vanto
