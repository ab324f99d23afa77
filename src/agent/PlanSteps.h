#pragma once

#include "plan/Plan.h"

#include <optional>
#include <string>
#include <vector>

namespace vanto::PlanSteps {

// The prompt sent for a run that starts on a page already open in the stage browser.
std::string planned(const std::string& prompt, const std::optional<std::string>& startPage);

// Drops a first navigation (after any "open" steps) to the page already showing.
std::vector<Step> skippingTheStart(std::vector<Step> steps, const std::optional<std::string>& startPage);

// Whether two addresses name the same page, ignoring case, scheme, "www." and trailing slashes.
bool samePage(const std::string& a, const std::string& b);

// Sets each step's occurrence: how many steps up to and including it name the same
// target (or role, or "back"), compared as element texts are when matching.
std::vector<Step> numbered(std::vector<Step> steps);

// The step's label, else its action and target (or url).
std::string describe(const Step& step);

} // namespace vanto::PlanSteps
