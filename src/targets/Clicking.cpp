#include "targets/Targeting.h"

#include <stdexcept>

// Being written: every function here is replaced before this lands for good.
#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace vanto {

bool Targeting::click(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording) {
    throw std::logic_error("unfinished: click");
}

std::vector<AXElement> Targeting::candidates(const Step& step, std::int32_t pid, std::optional<double> patience,
                                             bool hunting) {
    throw std::logic_error("unfinished: candidates");
}

std::vector<AXElement> Targeting::meant(std::vector<AXElement> candidates, const Step& step) {
    throw std::logic_error("unfinished: meant");
}

Targeting::Attempt::Outcome Targeting::attempt(const Attempt::Params& params) {
    throw std::logic_error("unfinished: attempt");
}

Point Targeting::aim(const AXElement& element, std::int32_t pid) {
    throw std::logic_error("unfinished: aim");
}

std::optional<Point> Targeting::reaim(const Step& step, std::int32_t pid, const AXElement& candidate, Point from) {
    throw std::logic_error("unfinished: reaim");
}

Targeting::Fingerprint Targeting::snapshot(std::int32_t pid) {
    throw std::logic_error("unfinished: snapshot");
}

bool Targeting::changed(const Fingerprint& before, std::int32_t pid, double within) {
    throw std::logic_error("unfinished: changed");
}

void Targeting::settle(std::int32_t pid) {
    throw std::logic_error("unfinished: settle");
}

bool Targeting::waitForFocusToMove(const std::optional<Focus>& before, std::int32_t pid, double within) {
    throw std::logic_error("unfinished: waitForFocusToMove");
}

bool Targeting::focusMoved(const std::optional<Focus>& before, const Focus& after) {
    throw std::logic_error("unfinished: focusMoved");
}

bool Targeting::flipped(Point at, std::int32_t pid, const std::optional<std::string>& before) {
    throw std::logic_error("unfinished: flipped");
}

bool Targeting::clickBack(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording) {
    throw std::logic_error("unfinished: clickBack");
}

bool Targeting::samePage(std::string_view a, std::string_view b) {
    throw std::logic_error("unfinished: samePage");
}

std::string Targeting::kind(std::string_view role) {
    throw std::logic_error("unfinished: kind");
}

} // namespace vanto
