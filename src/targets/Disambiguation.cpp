#include "targets/Targeting.h"

#include <stdexcept>

// Being written: every function here is replaced before this lands for good.
#pragma GCC diagnostic ignored "-Wunused-parameter"

namespace vanto {

Targeting::Resolution Targeting::whichOne(const Step& step, std::int32_t pid, const std::vector<AXElement>& among,
                                          bool recording) {
    throw std::logic_error("unfinished: whichOne");
}

std::vector<Step> Targeting::answered(std::vector<Step> steps, std::int32_t pid) {
    throw std::logic_error("unfinished: answered");
}

std::optional<AXElement> Targeting::answering(const Correction& correction, const std::vector<AXElement>& elements) {
    throw std::logic_error("unfinished: answering");
}

std::vector<AXElement> Targeting::look(const Wanted& wanted, std::int32_t pid, std::int64_t limit) {
    throw std::logic_error("unfinished: look");
}

std::vector<AXElement> Targeting::stableMatches(const Step& step, std::int32_t pid,
                                                const std::optional<std::string>& text) {
    throw std::logic_error("unfinished: stableMatches");
}

std::optional<AXElement> Targeting::backToWhereItWasShown(const Correction& correction, std::int32_t pid) {
    throw std::logic_error("unfinished: backToWhereItWasShown");
}

std::optional<std::string> Targeting::anchorText(const AXElement& element, std::int32_t pid) {
    throw std::logic_error("unfinished: anchorText");
}

std::optional<std::int64_t> Targeting::ordinal(const AXElement& element, std::int32_t pid) {
    throw std::logic_error("unfinished: ordinal");
}

std::string Targeting::answerKey(const Step& step) {
    throw std::logic_error("unfinished: answerKey");
}

std::string Targeting::asking(const Step& step) {
    throw std::logic_error("unfinished: asking");
}

} // namespace vanto
