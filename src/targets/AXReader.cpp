#include "targets/AXReader.h"

#include "base/Text.h"
#include "targets/AXRoles.h"
#include "targets/AXValues.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <limits>
#include <map>
#include <set>
#include <string_view>

namespace vanto {
namespace {

using axvalue::as;

constexpr const char* webAreaRole = "AXWebArea";

// The texts that name any element, in the order its names are listed, and those that
// name only things one acts on (a field's placeholder, a button's help).
constexpr std::array<const char*, 3> nameAttributes{ax::title, ax::description, ax::value};
constexpr std::array<const char*, 2> actionNameAttributes{ax::help, ax::placeholderValue};

// Fields a toolkit may leave nameless, naming them through their labels instead (a GTK
// entry beside its label): such a field takes the first of its labels' texts.
const std::set<std::string, std::less<>> labelledRoles{"AXTextField", "AXTextArea", "AXComboBox"};

bool bigEnough(const Rect& frame) {
    return frame.width >= 4 && frame.height >= 4;
}

void addName(std::vector<std::string>& names, const AXValue& value) {
    auto text = as<std::string>(value);
    if (!text) return;
    auto trimmed = text::trimWhitespaceAndNewlines(*text);
    if (trimmed.empty() || std::find(names.begin(), names.end(), trimmed) != names.end()) return;
    names.push_back(std::move(trimmed));
}

std::string joinedAlt(const std::vector<std::string>& names) {
    std::string alt;
    for (std::size_t i = 1; i < names.size(); ++i) {
        if (i > 1) alt += ' ';
        alt += names[i];
    }
    return alt;
}

// The record for a named element with a frame, or none when it is too small or its
// frame does not fit in 64-bit integers.
std::optional<AXElement> record(const std::string& role, const std::vector<std::string>& names, const Rect& frame) {
    if (names.empty() || !bigEnough(frame)) return std::nullopt;
    auto element = AXElement::withFrame(role, names.front(), frame.x, frame.y, frame.width, frame.height);
    if (element) element->alt = joinedAlt(names);
    return element;
}

// A label's words on the element it titles: that element's role, frame and state.
std::optional<AXElement> titledRecord(const std::string& text, const std::string& role, const Rect& frame,
                                      bool enabled) {
    if (!bigEnough(frame)) return std::nullopt;
    auto element = AXElement::withFrame(role, text, frame.x, frame.y, frame.width, frame.height);
    if (element) element->enabled = enabled;
    return element;
}

// A label leads to what it titles only when that is one element.
AXRef soleTitled(const AXValue& titles) {
    auto elements = axvalue::elements(titles);
    return elements.size() == 1 ? std::move(elements.front()) : nullptr;
}

// The first web area breadth first under start, looking at no more than maxLevels levels
// and maxSeen elements; each level's roles and children are read in one batch.
AXRef firstWebArea(Accessibility& ax, const AXRef& start, int maxLevels, std::size_t maxSeen) {
    std::vector<AXRef> level{start};
    std::size_t seen = 0;
    for (int depth = 0; depth < maxLevels && !level.empty() && seen < maxSeen; ++depth) {
        if (level.size() > maxSeen - seen) level.resize(maxSeen - seen);
        seen += level.size();
        const auto roles = ax.copyAttributeValues(level, ax::role);
        for (std::size_t i = 0; i < level.size(); ++i)
            if (as<std::string>(roles[i]) == webAreaRole) return level[i];
        std::vector<AXRef> next;
        for (const auto& children : ax.copyAttributeValues(level, ax::children))
            for (auto& child : axvalue::elements(children)) next.push_back(std::move(child));
        level = std::move(next);
    }
    return nullptr;
}

} // namespace

AXReader::AXReader(Accessibility& accessibility, AXAccess& access, Clock& clock)
    : ax_(accessibility), access_(access), clock_(clock) {}

// ---- attribute readers ----

std::optional<std::string> AXReader::string(const AXRef& element, const std::string& attribute) {
    return as<std::string>(ax_.copyAttributeValue(element, attribute));
}

std::optional<Rect> AXReader::frame(const AXRef& element) {
    return axvalue::frame(ax_.copyAttributeValue(element, ax::position), ax_.copyAttributeValue(element, ax::size));
}

bool AXReader::isEnabled(const AXRef& element) {
    return as<bool>(ax_.copyAttributeValue(element, ax::enabled)).value_or(true);
}

std::vector<AXRef> AXReader::children(const AXRef& element, const std::string& attribute) {
    return axvalue::elements(ax_.copyAttributeValue(element, attribute));
}

AXRef AXReader::focusedWindow(const AXRef& application) {
    return axvalue::element(ax_.copyAttributeValue(application, ax::focusedWindow));
}

// ---- names ----

std::vector<std::string> AXReader::namesFrom(const std::string& role, const std::function<AXValue(const char*)>& read) {
    std::vector<std::string> found;
    for (const char* attribute : nameAttributes) addName(found, read(attribute));
    if (AXRoles::actionable().contains(role))
        for (const char* attribute : actionNameAttributes) addName(found, read(attribute));
    return found;
}

std::vector<std::string> AXReader::names(const AXRef& element, const std::string& role) {
    return namesFrom(role, [&](const char* attribute) {
        if (std::string_view(attribute) != ax::title) return ax_.copyAttributeValue(element, attribute);
        const auto own = string(element, ax::title).value_or("");
        if (!own.empty() || !labelledRoles.contains(role)) return AXValue(own);
        std::vector<AXRelated> labels;
        for (auto& label : axvalue::elements(ax_.copyAttributeValue(element, ax::titleUIElements)))
            labels.push_back({std::move(label), std::nullopt});
        return titleFrom(role, own, labels, {});
    });
}

AXValue AXReader::titleFrom(const std::string& role, const std::string& own, const std::vector<AXRelated>& labels,
                            const std::vector<AXNodeRecord>& nodes) {
    if (!own.empty() || !labelledRoles.contains(role)) return own;
    for (const auto& label : labels) {
        const auto text = label.index ? nodes[*label.index].title : string(label.element, ax::title).value_or("");
        if (!text.empty()) return text;
    }
    return own;
}

std::optional<AXElement> AXReader::describe(const AXRef& element) {
    const std::string role = string(element, ax::role).value_or("");
    const auto found = names(element, role);
    if (found.empty()) return std::nullopt;
    const auto bounds = frame(element);
    if (!bounds) return std::nullopt;
    auto described = record(role, found, *bounds);
    if (!described) return std::nullopt;
    described->identity = string(element, ax::identifier).value_or("");
    described->enabled = isEnabled(element);
    return described;
}

std::optional<AXElement> AXReader::titled(const AXRef& label, const std::string& text) {
    const AXRef target = soleTitled(ax_.copyAttributeValue(label, ax::servesAsTitleForUIElements));
    if (!target) return std::nullopt;
    const auto bounds = frame(target);
    if (!bounds) return std::nullopt;
    return titledRecord(text, string(target, ax::role).value_or(""), *bounds, isEnabled(target));
}

bool AXReader::isUnderWebContent(const AXRef& element) {
    AXRef current = element;
    for (int i = 0; i < maxDepth && current; ++i) {
        if (string(current, ax::role) == webAreaRole) return true;
        current = axvalue::element(ax_.copyAttributeValue(current, ax::parent));
    }
    return false;
}

bool AXReader::containsWebContent(const std::vector<AXElement>& elements) {
    return std::any_of(elements.begin(), elements.end(),
                       [](const AXElement& element) { return AXRoles::web().contains(element.role); });
}

// ---- the walk ----

std::vector<AXElement> AXReader::walk(const AXRef& root, bool onScreenOnly) {
    if (!root) return {};
    const auto nodes = ax_.snapshot(root, {maxDepth, static_cast<std::size_t>(maxVisited) + 1, onScreenOnly});

    // A record's attributes as describe reads them, the title named by its labels.
    auto attributeOf = [&](std::size_t i, const char* attribute) -> AXValue {
        const AXNodeRecord& node = nodes[i];
        const std::string_view name = attribute;
        if (name == ax::title) return titleFrom(node.role, node.title, node.labelledBy, nodes);
        if (name == ax::description) return node.description;
        if (name == ax::value) return node.value;
        if (name == ax::help) return node.help;
        if (name == ax::placeholderValue) return node.placeholder;
        return {};
    };
    std::vector<std::optional<AXElement>> records(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        const AXNodeRecord& node = nodes[i];
        const auto found = namesFrom(node.role, [&](const char* attribute) { return attributeOf(i, attribute); });
        if (found.empty() || !node.frame) continue;
        records[i] = record(node.role, found, *node.frame);
        if (!records[i]) continue;
        records[i]->identity = node.identifier;
        records[i]->enabled = node.enabled.value_or(true);
        // A label that titles exactly one element leads to that element.
        if (node.titles.size() != 1) continue;
        const AXRelated& target = node.titles.front();
        std::optional<AXElement> field;
        if (target.index) {
            const AXNodeRecord& titled = nodes[*target.index];
            if (titled.frame)
                field = titledRecord(records[i]->text, titled.role, *titled.frame, titled.enabled.value_or(true));
        } else {
            field = this->titled(node.element, records[i]->text);
        }
        if (field) records[i] = field;
    }

    // Document order, with the in-page flag handed down from each web area.
    std::vector<bool> inPage(nodes.size(), false);
    std::vector<AXElement> list;
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        inPage[i] = (nodes[i].parent && inPage[*nodes[i].parent]) || nodes[i].role == webAreaRole;
        if (records[i]) {
            records[i]->inPage = inPage[i];
            list.push_back(std::move(*records[i]));
        }
    }
    return list;
}

AXReader::Snapshot AXReader::snapshot(const FindParams& params) {
    const std::int32_t pid = access_.resolvePID(params.pid);
    access_.require(pid);
    const AXRef application = access_.preparedApplication(pid);

    AXRef root = application;
    std::optional<Rect> clipping;
    if (!params.allWindows)
        if (AXRef window = focusedWindow(application)) {
            root = window;
            if (!params.unclipped) clipping = frame(window);
        }

    // A list cut to its window wants only what shows there: what shows nowhere is not read.
    const bool onScreenOnly = clipping.has_value();
    // A page that is still loading shows no content yet: give it a moment.
    auto elements = walk(root, onScreenOnly);
    for (int retry = 0; retry < snapshotRetries && !containsWebContent(elements); ++retry) {
        clock_.sleep(retryInterval);
        elements = walk(root, onScreenOnly);
    }
    sawWebContent_ = containsWebContent(elements);
    return Snapshot{std::move(elements), clipping};
}

// ---- point and state queries ----

std::optional<Focus> AXReader::focused(std::int32_t pid) {
    access_.require(pid);
    const AXRef element = axvalue::element(ax_.copyAttributeValue(ax_.application(pid), ax::focusedUIElement));
    if (!element) return std::nullopt;
    Focus focus;
    focus.role = string(element, ax::role).value_or("");
    focus.value = string(element, ax::value).value_or("");
    focus.frame = frame(element).value_or(Rect{});
    focus.inPage = isUnderWebContent(element);
    return focus;
}

std::optional<std::string> AXReader::pageURL(std::int32_t pid) {
    access_.require(pid);
    const AXRef window = focusedWindow(access_.preparedApplication(pid));
    if (!window) return std::nullopt;
    const AXRef web = firstWebArea(ax_, window, std::numeric_limits<int>::max(), 400);
    if (!web) return std::nullopt;
    if (auto url = as<AXURL>(ax_.copyAttributeValue(web, ax::url))) return url->absolute;
    return std::nullopt;
}

std::optional<Rect> AXReader::webArea(std::int32_t pid) {
    if (!ax_.isProcessTrusted()) return std::nullopt;
    const AXRef application = access_.preparedApplication(pid);
    AXRef start = focusedWindow(application);
    if (!start) {
        const auto windows = children(application, ax::windows);
        if (windows.empty()) return std::nullopt;
        start = windows.front();
    }
    const AXRef web = firstWebArea(ax_, start, 16, std::numeric_limits<std::size_t>::max());
    if (!web) return std::nullopt;
    return frame(web);
}

std::optional<std::string> AXReader::value(Point at, std::int32_t pid) {
    access_.require(pid);
    const AXRef element = ax_.copyElementAtPosition(ax_.application(pid), at);
    if (!element) return std::nullopt;
    const AXValue held = ax_.copyAttributeValue(element, ax::value);
    if (auto text = as<std::string>(held)) return text;
    // A check box, radio button or switch holds its state as a number or a flag; as text
    // it still tells a click that flipped it from one that did nothing.
    if (auto number = as<double>(held)) {
        std::array<char, 32> buffer{};
        const auto written = std::to_chars(buffer.data(), buffer.data() + buffer.size(), *number);
        return std::string(buffer.data(), written.ptr);
    }
    if (auto flag = as<bool>(held)) return *flag ? "1" : "0";
    return std::nullopt;
}

std::optional<AXElement> AXReader::elementAt(Point at, std::optional<std::int32_t> pid) {
    const std::int32_t resolved = access_.resolvePID(pid);
    access_.require(resolved);
    AXRef element = ax_.copyElementAtPosition(ax_.application(resolved), at);
    for (int i = 0; i < 8 && element; ++i) {
        if (auto described = describe(element)) return described;
        element = axvalue::element(ax_.copyAttributeValue(element, ax::parent));
    }
    return std::nullopt;
}

bool AXReader::hits(const AXElement& element, Point at, std::int32_t pid) {
    if (!access_.mayDrive(pid)) return true;
    AXRef hit = ax_.copyElementAtPosition(ax_.application(pid), at);
    if (!hit) return true;
    const Rect grown{static_cast<double>(element.x) - 2, static_cast<double>(element.y) - 2,
                     static_cast<double>(element.width) + 4, static_cast<double>(element.height) + 4};
    // The window or page behind the element answers where it has no part of its own; but
    // a dialog drawn inside a page (which some desktops report as a window) lies over it.
    if (const auto role = string(hit, ax::role);
        role && AXRoles::roots().contains(*role) && !(*role == "AXWindow" && isUnderWebContent(hit)))
        if (const auto bounds = frame(hit); bounds && contains(*bounds, grown)) return true;
    for (int i = 0; i < 5 && hit; ++i) {
        if (const auto bounds = frame(hit); bounds && contains(grown, *bounds)) return true;
        hit = axvalue::element(ax_.copyAttributeValue(hit, ax::parent));
    }
    return false;
}

} // namespace vanto
