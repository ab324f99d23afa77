#include "plan/AgentError.h"

namespace vanto {

AgentError AgentError::noWindow(const std::string& app) {
    return {Case::noWindow, "found no on-screen window for " + app};
}
AgentError AgentError::noWindowOnThisDesktop(const std::string& app) {
    return {Case::noWindowOnThisDesktop,
            app + " is running but put no window on this desktop; it may be full screen on another space"};
}
AgentError AgentError::couldNotLaunch(const std::string& app, const std::string& reason) {
    return {Case::couldNotLaunch, "could not start " + app + (reason.empty() ? "" : ": " + reason)};
}
AgentError AgentError::unresolved(const std::string& label) {
    return {Case::unresolved, "could not find \"" + label + "\" on screen"};
}
AgentError AgentError::ambiguous(const std::string& label, std::int64_t count) {
    return {Case::ambiguous, std::to_string(count) + " things answer to \"" + label +
                                 "\" and nothing says which one - rehearse it again and point at the right one"};
}
AgentError AgentError::stuck(const std::string& description) {
    return {Case::stuck, "gave up after " + description + " kept doing nothing"};
}
AgentError AgentError::unknownAction(const std::string& action) {
    return {Case::unknownAction, "unknown action: " + action};
}
AgentError AgentError::notInADrivenTake(const std::string& action) {
    return {Case::notInADrivenTake,
            action + " is not available in a driven take: every step happens in the stage browser"};
}
AgentError AgentError::declined() {
    return {Case::declined, "stopped: the plan was not approved"};
}
AgentError AgentError::stopped() {
    return {Case::stopped, "you stopped it before the flow finished"};
}
AgentError AgentError::nothingToFrame() {
    return {Case::nothingToFrame, "found no window for the application being driven, so there is nothing to frame; "
                                  "pass --screen to record the whole display instead"};
}
AgentError AgentError::cannotDriveItself() {
    return {Case::cannotDriveItself, "a demo cannot drive Vanto itself - name the app the demo is about, and record "
                                     "Vanto from a second machine if Vanto is the subject"};
}
AgentError AgentError::abortedByDriver() {
    return {Case::abortedByDriver, "the agent driving the take threw it away"};
}

} // namespace vanto
