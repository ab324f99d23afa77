#pragma once

#include "platform/Accessibility.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "targets/AXAccess.h"
#include "targets/AXElement.h"
#include "targets/FindParams.h"
#include "targets/Focus.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vanto {

// Reads one application's accessibility tree into the flat list of named, on-screen
// things and answers point queries about it. The one place that decides which texts
// name an element and which element a label names. It keeps no state apart from
// whether the last snapshot saw web content.
class AXReader {
public:
    // A snapshot's list and the rectangle it is to be cut to.
    struct Snapshot {
        std::vector<AXElement> elements;
        std::optional<Rect> clip;
    };

    static constexpr int maxDepth = 40;
    static constexpr int maxVisited = 6000;
    static constexpr int snapshotRetries = 6;
    static constexpr double retryInterval = 0.25;

    AXReader(Accessibility& accessibility, AXAccess& access, Clock& clock);

    // Attribute readers: every failure is an absent value.
    std::optional<std::string> string(const AXRef& element, const std::string& attribute);
    std::optional<Rect> frame(const AXRef& element);
    bool isEnabled(const AXRef& element);
    std::vector<AXRef> children(const AXRef& element, const std::string& attribute = ax::children);
    AXRef focusedWindow(const AXRef& application);

    // An element's names, first name first, from a reader of its attributes (asked
    // only for the ones that can name an element of this role).
    static std::vector<std::string> namesFrom(const std::string& role, const std::function<AXValue(const char*)>& read);
    std::vector<std::string> names(const AXRef& element, const std::string& role);
    // The title of an element: its own, or for a nameless field the first text of its
    // labels (taken from nodes where a label has a record there, else read).
    AXValue titleFrom(const std::string& role, const std::string& own, const std::vector<AXRelated>& labels,
                      const std::vector<AXNodeRecord>& nodes);
    // The element's record when it is named, framed and big enough.
    std::optional<AXElement> describe(const AXRef& element);
    // The record a label's text stands for: the one element the label titles.
    std::optional<AXElement> titled(const AXRef& label, const std::string& text);
    bool isUnderWebContent(const AXRef& element);
    static bool containsWebContent(const std::vector<AXElement>& elements);

    // The named elements of a subtree in document order, within the depth and visit
    // bounds, from one bulk read of the subtree; with onScreenOnly, only those that show.
    std::vector<AXElement> walk(const AXRef& root, bool onScreenOnly = false);
    Snapshot snapshot(const FindParams& params);

    // Point and state queries.
    std::optional<Focus> focused(std::int32_t pid);
    std::optional<std::string> pageURL(std::int32_t pid);
    std::optional<Rect> webArea(std::int32_t pid);
    // The value of the element at the point as text; a number or flag is written out.
    std::optional<std::string> value(Point at, std::int32_t pid);
    std::optional<AXElement> elementAt(Point at, std::optional<std::int32_t> pid);
    // Whether a click at the point reaches the element rather than something over it;
    // true when that cannot be told.
    bool hits(const AXElement& element, Point at, std::int32_t pid);

    bool sawWebContent() const { return sawWebContent_; }

private:
    Accessibility& ax_;
    AXAccess& access_;
    Clock& clock_;
    std::atomic<bool> sawWebContent_{false};
};

} // namespace vanto
