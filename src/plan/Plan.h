#pragma once

#include "plan/Step.h"
#include "base/Error.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vanto {

struct Plan {
    std::vector<Step> steps;
    bool operator==(const Plan&) const = default;
};

// The planner needs more from the person; what() is its question, unchanged.
class PlanError : public Error {
public:
    enum class Case { question };
    static PlanError question(std::string text) { return PlanError(std::move(text)); }
    Case kind() const { return Case::question; }

private:
    using Error::Error;
};

// Strict decoding: a step without `action`, or a key of the wrong type, fails the
// whole plan with DecodeError. Unknown keys are ignored.
Plan decodePlan(const nlohmann::json& value);
Plan decodePlan(const std::string& text);

nlohmann::ordered_json toJSON(const Plan& plan);

// How long a "wait" step pauses: `ms` clamped to 0...10000, 800 when absent.
double waitSeconds(const Step& step);

} // namespace vanto
