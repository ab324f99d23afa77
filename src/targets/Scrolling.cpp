#include "targets/Targeting.h"

#include <stdexcept>

// Being written: every function here is replaced before this lands for good.
#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace vanto {

std::optional<AXElement> Targeting::scrollTo(const Wanted& wanted, std::int32_t pid) {
    throw std::logic_error("unfinished: scrollTo");
}

std::vector<AXElement> Targeting::lookByScrolling(const Step& step, const std::string& target, std::int32_t pid) {
    throw std::logic_error("unfinished: lookByScrolling");
}

AXElement Targeting::broughtIntoView(const AXElement& element, std::int32_t pid) {
    throw std::logic_error("unfinished: broughtIntoView");
}

std::optional<std::int64_t> Targeting::bringIntoView(const Rect& rect, std::int32_t pid) {
    throw std::logic_error("unfinished: bringIntoView");
}

std::optional<AXElement> Targeting::whereItWent(const AXElement& element, std::int64_t after, const Rect& from,
                                                std::int32_t pid) {
    throw std::logic_error("unfinished: whereItWent");
}

bool Targeting::isFullyInView(const Rect& rect, const Rect& window) {
    throw std::logic_error("unfinished: isFullyInView");
}

void Targeting::scrollBy(std::int64_t distance, const std::optional<WindowInfo>& within) {
    throw std::logic_error("unfinished: scrollBy");
}

bool Targeting::scroll(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording) {
    throw std::logic_error("unfinished: scroll");
}

void Targeting::escalate(Escalation escalation, std::int32_t pid, const std::string& name) {
    throw std::logic_error("unfinished: escalate");
}

} // namespace vanto
