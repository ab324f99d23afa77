#include "agent/PlanSteps.h"

#include "base/Text.h"
#include "targets/AXRanking.h"

#include <map>

namespace vanto::PlanSteps {
namespace {

std::string pageKey(const std::string& address) {
    auto key = text::asciiLower(address);
    for (std::string prefix : {"https://", "http://", "www."})
        if (key.starts_with(prefix)) key.erase(0, prefix.size());
    while (!key.empty() && key.back() == '/') key.pop_back();
    return key;
}

} // namespace

std::string planned(const std::string& prompt, const std::optional<std::string>& startPage) {
    if (!startPage) return prompt;
    return "Google Chrome is already open on " + *startPage + ". Start from that page; " +
           "do not navigate to it again. " + prompt;
}

bool samePage(const std::string& a, const std::string& b) {
    return pageKey(a) == pageKey(b);
}

std::vector<Step> skippingTheStart(std::vector<Step> steps, const std::optional<std::string>& startPage) {
    if (!startPage) return steps;
    for (auto it = steps.begin(); it != steps.end(); ++it) {
        if (it->action == "open") continue;
        if (it->action == "navigate" && it->url && samePage(*it->url, *startPage)) steps.erase(it);
        break;
    }
    return steps;
}

std::vector<Step> numbered(std::vector<Step> steps) {
    std::map<std::string, std::int64_t> counts;
    for (auto& step : steps) {
        std::string key;
        if (step.target && !step.target->empty())
            key = *step.target;
        else if (step.role && !step.role->empty())
            key = *step.role;
        else if (step.action == "back")
            key = "back";
        else
            continue;
        step.occurrence = ++counts[AXRanking::normalise(key)];
    }
    return steps;
}

std::string describe(const Step& step) {
    if (step.label) return *step.label;
    std::string object = step.target ? *step.target : step.url.value_or("");
    if (object.empty()) return step.action;
    if (step.action.empty()) return object;
    return step.action + " " + object;
}

} // namespace vanto::PlanSteps
