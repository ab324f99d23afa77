#include "targets/Targeting.h"

#include "plan/AgentError.h"
#include "targets/AXRanking.h"
#include "targets/AXRoles.h"

#include <utility>

namespace vanto {

Targeting::Wanted Targeting::Wanted::from(const Step& step) {
    Wanted wanted;
    wanted.text = step.target;
    wanted.role = step.role;
    wanted.near = step.near;
    wanted.nth = step.nth;
    if (step.fromAnswer) wanted.heldTo = step.target;
    return wanted;
}

Targeting::Wanted Targeting::Wanted::from(const Correction& correction) {
    Wanted wanted;
    wanted.text = correction.label;
    wanted.role = correction.role;
    wanted.near = correction.near;
    wanted.nth = correction.nth;
    wanted.heldTo = correction.label;
    wanted.side = correction.inPage;
    wanted.identity = correction.identity;
    return wanted;
}

bool Targeting::Wanted::accepts(const AXElement& element) const {
    if (!heldTo) return true;
    return (identity && !identity->empty() && element.identity == *identity) ||
           AXRanking::normalise(element.text) == AXRanking::normalise(*heldTo) || acceptsByPrefix(element);
}

bool Targeting::Wanted::acceptsByPrefix(const AXElement& element) const {
    return heldTo && AXRoles::actionable().contains(element.role) &&
           AXRanking::normalise(element.text).starts_with(AXRanking::normalise(*heldTo) + " ") &&
           (!side || *side == element.inPage);
}

Targeting::Targeting(Seams seams, Callbacks callbacks) : seams_(seams), callbacks_(std::move(callbacks)) {}

std::optional<WindowInfo> Targeting::firstWindow(std::int32_t pid) {
    for (auto& window : WindowList::onScreen(seams_.windows))
        if (window.pid == pid) return window;
    return std::nullopt;
}

std::optional<std::string> Targeting::applicationID(std::int32_t pid) {
    // The platform names every application it can (on X11 the class of its windows).
    auto id = seams_.accessibility.bundleIdentifier(pid);
    if (id && id->empty()) return std::nullopt;
    return id;
}

void Targeting::checkStop() {
    if (callbacks_.stop.stop_requested() || (callbacks_.stopped && callbacks_.stopped())) throw AgentError::stopped();
}

void Targeting::pause(double seconds) {
    checkStop();
    if (!seams_.clock.sleep(seconds, callbacks_.stop)) throw AgentError::stopped();
}

void Targeting::log(const std::string& line) {
    if (callbacks_.log) callbacks_.log(line);
}

} // namespace vanto
