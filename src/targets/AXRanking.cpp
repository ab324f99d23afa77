// Search and ranking: which elements of a snapshot answer to a step's words, best first.

#include "targets/AXRanking.h"
#include "targets/AXRoles.h"

#include "base/Numbers.h"
#include "base/Text.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>

namespace vanto {
namespace {

struct FreeDeleter {
    void operator()(utf8proc_uint8_t* bytes) const { std::free(bytes); }
};

bool isASCII(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool isASCIIAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Case, diacritics and width folded away; no locale. Plain ASCII folds to its lower
// case, which is what the full mapping gives it, without the cost.
std::string folded(std::string_view text) {
    if (isASCII(text)) return text::asciiLower(text);
    utf8proc_uint8_t* raw = nullptr;
    const auto options = static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPAT | UTF8PROC_COMPOSE |
                                                        UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK);
    const auto length = utf8proc_map(reinterpret_cast<const utf8proc_uint8_t*>(text.data()),
                                     static_cast<utf8proc_ssize_t>(text.size()), &raw, options);
    std::unique_ptr<utf8proc_uint8_t, FreeDeleter> mapped(raw);
    if (length < 0) return text::asciiLower(text); // not UTF-8: compare its bytes
    return std::string(reinterpret_cast<const char*>(mapped.get()), static_cast<std::size_t>(length));
}

bool isLetterOrNumber(utf8proc_int32_t codePoint) {
    switch (utf8proc_category(codePoint)) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
        return true;
    default:
        return false;
    }
}

// The words of a folded text joined by single spaces; empty when it has none.
std::string joinedWords(const std::string& text) {
    std::string words;
    bool inWord = false;
    auto extend = [&](std::string_view piece, bool wordCharacter) {
        if (!wordCharacter) {
            inWord = false;
            return;
        }
        if (!inWord && !words.empty()) words += ' ';
        words += piece;
        inWord = true;
    };
    if (isASCII(text)) {
        for (char c : text) extend(std::string_view(&c, 1), isASCIIAlphanumeric(c));
        return words;
    }
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    std::size_t at = 0;
    while (at < text.size()) {
        utf8proc_int32_t codePoint = -1;
        auto length = utf8proc_iterate(bytes + at, static_cast<utf8proc_ssize_t>(text.size() - at), &codePoint);
        if (length <= 0) {
            extend({}, false);
            ++at;
            continue;
        }
        extend(std::string_view(text).substr(at, static_cast<std::size_t>(length)), isLetterOrNumber(codePoint));
        at += static_cast<std::size_t>(length);
    }
    return words;
}

bool containsText(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

// Whether word is one of the space-separated words of text, without splitting it.
bool hasWord(std::string_view text, std::string_view word) {
    for (std::size_t at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
        const bool starts = at == 0 || text[at - 1] == ' ';
        const bool ends = at + word.size() == text.size() || text[at + word.size()] == ' ';
        if (starts && ends) return true;
    }
    return false;
}

std::string replacingAll(const std::string& text, const std::string& what, const std::string& with) {
    std::string result;
    std::size_t from = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, from)) {
        result.append(text, from, at - from);
        result += with;
        from = at + what.size();
    }
    result.append(text, from, std::string::npos);
    return result;
}

const std::array<std::vector<std::string>, 9>& synonymGroups() {
    static const std::array<std::vector<std::string>, 9> groups{{
        {"log in", "login", "sign in", "signin"},
        {"log out", "logout", "sign out", "signout"},
        {"sign up", "signup", "register", "create account"},
        {"settings", "preferences"},
        {"delete", "remove"},
        {"next", "continue"},
        {"close", "dismiss"},
        {"search", "find"},
        {"ok", "okay"},
    }};
    return groups;
}

// A normalised query with what depends on it alone worked out once.
struct Query {
    explicit Query(std::string normalised)
        : text(std::move(normalised)), words(AXRanking::wordsOf(text)), variants(AXRanking::synonymVariants(text)) {}
    std::string text;
    std::set<std::string> words;
    std::vector<std::string> variants;
};

std::optional<int> scoreAgainst(const AXElement& element, const Query& query) {
    const std::string t = AXRanking::normalise(element.text);
    const std::string& q = query.text;
    if (t == q) return 0;
    if (t.starts_with(q)) return 1;
    if (containsText(t, q)) return 2;
    if (!q.empty() &&
        std::all_of(query.words.begin(), query.words.end(), [&](const std::string& word) { return hasWord(t, word); }))
        return 3;
    for (const auto& variant : query.variants)
        if (containsText(t, variant)) return 4;
    if (!element.alt.empty()) {
        const std::string a = AXRanking::normalise(element.alt);
        if (!a.empty() && containsText(a, q)) return 5;
    }
    return std::nullopt;
}

bool isActionable(const AXElement& element) {
    return AXRoles::actionable().contains(element.role);
}

std::vector<AXElement> firstOf(std::vector<AXElement> elements, std::int64_t limit) {
    const auto keep = static_cast<std::size_t>(std::max<std::int64_t>(limit, 0));
    if (elements.size() > keep) elements.resize(keep);
    return elements;
}

// In doubles: exact for any screen, and no overflow for absurd frames.
double squaredDistance(const AXElement& a, const AXElement& b) {
    const double dx = static_cast<double>(a.cx) - static_cast<double>(b.cx);
    const double dy = static_cast<double>(a.cy) - static_cast<double>(b.cy);
    return dx * dx + dy * dy;
}

double area(const AXElement& element) {
    return static_cast<double>(element.width) * static_cast<double>(element.height);
}

} // namespace

std::string AXRanking::normalise(std::string_view text) {
    if (isASCII(text)) {
        // One pass for plain ASCII, the common case, giving what the general path gives.
        std::string words;
        words.reserve(text.size());
        bool inWord = false;
        for (char c : text) {
            if (!isASCIIAlphanumeric(c)) {
                inWord = false;
                continue;
            }
            if (!inWord && !words.empty()) words += ' ';
            words += (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            inWord = true;
        }
        if (!words.empty()) return words;
    }
    const std::string fold = folded(text);
    std::string words = joinedWords(fold);
    if (!words.empty()) return words;
    // A lone symbol such as "+" still has to match itself.
    return text::asciiLower(text::trimWhitespaceAndNewlines(fold));
}

std::set<std::string> AXRanking::wordsOf(std::string_view text) {
    std::set<std::string> words;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t space = std::min(text.find(' ', from), text.size());
        if (space > from) words.emplace(text.substr(from, space - from));
        from = space + 1;
    }
    return words;
}

std::vector<std::string> AXRanking::synonymVariants(const std::string& query) {
    std::vector<std::string> variants;
    for (const auto& group : synonymGroups()) {
        std::vector<const std::string*> present;
        for (const auto& member : group)
            if (containsText(query, member)) present.push_back(&member);
        for (const auto& member : group)
            for (const std::string* replaced : present) {
                std::string variant = replacingAll(query, *replaced, member);
                if (variant != query && std::find(variants.begin(), variants.end(), variant) == variants.end())
                    variants.push_back(std::move(variant));
            }
    }
    return variants;
}

std::optional<int> AXRanking::score(const AXElement& element, const std::string& query) {
    return scoreAgainst(element, Query(query));
}

std::vector<AXRanking::Scored> AXRanking::redundant(const std::vector<Scored>& pairs) {
    std::set<std::string> actionableTexts;
    for (const auto& [element, score] : pairs)
        if (isActionable(element)) actionableTexts.insert(normalise(element.text));
    if (actionableTexts.empty()) return pairs;
    std::vector<Scored> kept;
    for (const auto& pair : pairs)
        if (isActionable(pair.first) || !actionableTexts.contains(normalise(pair.first.text))) kept.push_back(pair);
    return kept;
}

std::vector<AXElement> AXRanking::ordered(const std::vector<AXElement>& elements, std::optional<std::int64_t> nth) {
    std::vector<AXElement> sorted = elements;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const AXElement& a, const AXElement& b) { return a.y != b.y ? a.y < b.y : a.x < b.x; });
    if (!nth || *nth == 0) return sorted;
    const auto count = static_cast<std::int64_t>(sorted.size());
    const std::int64_t index = *nth > 0 ? *nth - 1 : count + *nth;
    if (index < 0 || index >= count) return {};
    return {sorted[static_cast<std::size_t>(index)]};
}

std::vector<AXElement> AXRanking::clip(const std::vector<AXElement>& elements, std::optional<Rect> to) {
    if (!to || to->width < 100 || to->height < 100) return elements;
    std::vector<AXElement> kept;
    for (const auto& element : elements) {
        const double x = static_cast<double>(element.x), y = static_cast<double>(element.y);
        const double right = x + static_cast<double>(element.width), bottom = y + static_cast<double>(element.height);
        const double left = std::max(x, to->x), top = std::max(y, to->y);
        const double width = std::min(right, to->x + to->width) - left;
        const double height = std::min(bottom, to->y + to->height) - top;
        if (width <= 0 || height <= 0 || width < 4 || height < 4) continue;
        if (left == x && top == y && width == static_cast<double>(element.width) &&
            height == static_cast<double>(element.height)) {
            kept.push_back(element);
            continue;
        }
        // Partly outside: aim at the visible part; the identity no longer names what is seen.
        AXElement visible = element;
        visible.cx = truncatedToInt64(left + width / 2).value_or(element.cx);
        visible.cy = truncatedToInt64(top + height / 2).value_or(element.cy);
        visible.identity.clear();
        visible.inPage = false;
        kept.push_back(std::move(visible));
    }
    return kept;
}

std::vector<AXElement> AXRanking::rank(const std::vector<AXElement>& elements, const FindParams& params) {
    std::vector<AXElement> filtered;
    if (params.role && !params.role->empty()) {
        const auto wanted = AXRoles::forWord(*params.role);
        for (const auto& element : elements)
            if (wanted.contains(text::asciiLower(element.role))) filtered.push_back(element);
    }
    // A role word that matches nothing never hides a target.
    if (filtered.empty()) filtered = elements;

    if (!params.text || text::trimWhitespaceAndNewlines(*params.text).empty())
        return firstOf(ordered(filtered, params.nth), params.limit);

    const Query query(normalise(*params.text));
    std::vector<Scored> pairs;
    for (const auto& element : filtered)
        if (auto score = scoreAgainst(element, query)) pairs.emplace_back(element, *score);
    pairs = redundant(pairs);

    if (params.nth) {
        std::vector<AXElement> matches;
        matches.reserve(pairs.size());
        for (auto& pair : pairs) matches.push_back(std::move(pair.first));
        return ordered(matches, params.nth);
    }

    std::optional<AXElement> anchor;
    if (params.near) {
        const std::string near = normalise(*params.near);
        for (const auto& element : elements)
            if (containsText(normalise(element.text), near)) {
                anchor = element;
                break;
            }
    }

    std::stable_sort(pairs.begin(), pairs.end(), [&](const Scored& a, const Scored& b) {
        if (a.first.enabled != b.first.enabled) return a.first.enabled;
        if (a.second != b.second) return a.second < b.second;
        if (anchor) {
            const auto da = squaredDistance(a.first, *anchor), db = squaredDistance(b.first, *anchor);
            if (da != db) return da < db;
        }
        if (isActionable(a.first) != isActionable(b.first)) return isActionable(a.first);
        return area(a.first) < area(b.first);
    });

    std::vector<AXElement> ranked;
    ranked.reserve(pairs.size());
    for (auto& pair : pairs) ranked.push_back(std::move(pair.first));
    return firstOf(std::move(ranked), params.limit);
}

} // namespace vanto
