#pragma once

#include "platform/Geometry.h"
#include "targets/AXElement.h"
#include "targets/FindParams.h"

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vanto {

// Which elements of a snapshot answer to a step's words, best first. Pure: it reads
// nothing but the list it is given.
class AXRanking {
public:
    AXRanking() = delete;

    using Scored = std::pair<AXElement, int>;

    static std::vector<AXElement> rank(const std::vector<AXElement>& elements, const FindParams& params);
    // 0 for the same words, up to 5 for a match on another name only; none for no match.
    static std::optional<int> score(const AXElement& element, const std::string& query);
    static std::string normalise(std::string_view text);
    static std::set<std::string> wordsOf(std::string_view text);
    static std::vector<std::string> synonymVariants(const std::string& query);
    // Without the non-actionable matches that repeat an actionable match's text.
    static std::vector<Scored> redundant(const std::vector<Scored>& pairs);
    // Reading order, or only its nth element (from the end when negative).
    static std::vector<AXElement> ordered(const std::vector<AXElement>& elements, std::optional<std::int64_t> nth);
    // Cut to a window's rectangle; partly visible elements are aimed at their visible part.
    static std::vector<AXElement> clip(const std::vector<AXElement>& elements, std::optional<Rect> to);
};

} // namespace vanto
