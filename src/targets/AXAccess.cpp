#include "targets/AXAccess.h"

#include "capture/RecorderError.h"

namespace vanto {

AXAccess::AXAccess(Accessibility& accessibility, Processes& processes)
    : ax_(accessibility), processes_(processes), ourselves_(processes.currentPID()) {}

std::int32_t AXAccess::resolvePID(std::optional<std::int32_t> pid) {
    if (pid) return *pid;
    if (auto frontmost = ax_.frontmostApplicationPID()) return *frontmost;
    if (!ax_.isProcessTrusted()) throw RecorderError::accessibilityDenied();
    throw RecorderError::missingField("pid");
}

bool AXAccess::isSelf(std::int32_t pid) {
    if (pid == ourselves_) return true;
    // Another process started from the same executable file (another copy of this
    // build, say) is this program too, bundle or not.
    const auto executable = processes_.executablePath(pid);
    if (executable && !executable->empty() && executable == processes_.executablePath(processes_.currentPID()))
        return true;
    const auto own = processes_.bundleIdentifier();
    if (!own) return false;
    const auto theirs = ax_.bundleIdentifier(pid);
    return theirs && *theirs == *own;
}

void AXAccess::require(std::int32_t pid) {
    if (isSelf(pid)) throw RecorderError::drivingItself();
    if (!ax_.isProcessTrusted()) throw RecorderError::accessibilityDenied();
}

bool AXAccess::mayDrive(std::int32_t pid) {
    return ax_.isProcessTrusted() && !isSelf(pid);
}

AXRef AXAccess::preparedApplication(std::int32_t pid) {
    AXRef application = ax_.application(pid);
    ax_.setMessagingTimeout(application, messagingTimeout);
    // Some applications build their tree only when asked to; refusals are harmless.
    ax_.setAttributeValue(application, ax::enhancedUserInterface, true);
    ax_.setAttributeValue(application, ax::manualAccessibility, true);
    return application;
}

} // namespace vanto
