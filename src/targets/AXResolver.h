#pragma once

#include "platform/Accessibility.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/Processes.h"
#include "targets/AXElement.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vanto {

// The element that holds keyboard focus, compared before and after an action.
struct Focus {
    std::string role;
    std::string value;
    Rect frame;
    bool inPage = false;
    bool operator==(const Focus&) const = default;
};

// Turns one application's accessibility tree into the flat list of named, on-screen
// things, answers point queries about it, and ranks the list against a step's words.
// It keeps no state of its own apart from this process's pid and whether the last
// snapshot saw web content.
class AXResolver {
public:
    struct FindParams {
        std::optional<std::int32_t> pid{};
        std::optional<std::string> text{};
        std::optional<std::string> role{};
        std::int64_t limit = 20;
        std::optional<std::string> near{};
        std::optional<std::int64_t> nth{};
        bool unclipped = false;
        bool allWindows = false;
    };

    // A snapshot's list and the rectangle it is to be cut to.
    struct Snapshot {
        std::vector<AXElement> elements;
        std::optional<Rect> clip;
    };

    using Scored = std::pair<AXElement, int>;

    static constexpr int maxDepth = 40;
    static constexpr int maxVisited = 6000;
    static constexpr int snapshotRetries = 6;
    static constexpr double retryInterval = 0.25;
    static constexpr double messagingTimeout = 2.0;

    AXResolver(Accessibility& accessibility, Processes& processes, Clock& clock);

    // Role tables.
    static const std::set<std::string>& actionableRoles();
    static const std::set<std::string>& webRoles();
    static const std::set<std::string>& rootRoles();
    // The lower-cased roles a planner's role word stands for.
    static std::set<std::string> roles(std::string_view word);

    // Attribute readers: every failure is an absent value.
    std::optional<std::string> string(const AXRef& element, const std::string& attribute);
    std::optional<Rect> frame(const AXRef& element);
    bool isEnabled(const AXRef& element);
    std::vector<AXRef> children(const AXRef& element, const std::string& attribute = ax::children);
    AXRef focusedWindow(const AXRef& application);
    std::vector<std::string> names(const AXRef& element, const std::string& role);
    std::optional<AXElement> describe(const AXRef& element);
    std::optional<AXElement> titled(const AXRef& label, const std::string& text);
    bool isUnderWebContent(const AXRef& element);
    static bool containsWebContent(const std::vector<AXElement>& elements);

    // The tree walk, one read at a time, exactly as the rules read.
    void collect(const AXRef& root, int depth, std::vector<AXElement>& into, int& visited, bool inPage);
    // The same walk and the same list, with each attribute read for many elements at once.
    std::vector<AXElement> walk(const AXRef& root);

    // Process and point queries.
    std::int32_t resolvePID(std::optional<std::int32_t> pid);
    bool isSelf(std::int32_t pid);
    Snapshot snapshot(const FindParams& params);
    std::optional<Focus> focused(std::int32_t pid);
    std::optional<std::string> pageURL(std::int32_t pid);
    std::optional<Rect> webArea(std::int32_t pid);
    std::optional<std::string> value(Point at, std::int32_t pid);
    std::optional<AXElement> elementAt(Point at, std::optional<std::int32_t> pid);
    int restoreMinimizedWindows(std::int32_t pid);
    bool focus(Rect windowAt, std::int32_t pid);
    bool place(std::int32_t windowOf, Rect at);
    bool hits(const AXElement& element, Point at, std::int32_t pid);

    bool sawWebContent() const { return sawWebContent_; }

    // Search and ranking.
    std::vector<AXElement> find(const FindParams& params);
    static std::vector<AXElement> rank(const std::vector<AXElement>& elements, const FindParams& params);
    static std::optional<int> score(const AXElement& element, const std::string& query);
    static std::string normalise(std::string_view text);
    static std::set<std::string> wordsOf(std::string_view text);
    static std::vector<std::string> synonymVariants(const std::string& query);
    static std::vector<Scored> redundant(const std::vector<Scored>& pairs);
    static std::vector<AXElement> ordered(const std::vector<AXElement>& elements, std::optional<std::int64_t> nth);
    static std::vector<AXElement> clip(const std::vector<AXElement>& elements, std::optional<Rect> to);

private:
    AXRef preparedApplication(std::int32_t pid);
    void requireAccess(std::int32_t pid);

    Accessibility& ax_;
    Processes& processes_;
    Clock& clock_;
    std::int32_t ourselves_;
    std::atomic<bool> sawWebContent_{false};
};

} // namespace vanto
