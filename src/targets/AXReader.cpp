#include "targets/AXReader.h"

#include "base/Text.h"
#include "targets/AXRoles.h"
#include "targets/AXValues.h"

#include <algorithm>
#include <array>
#include <deque>
#include <map>

namespace vanto {
namespace {

using axvalue::as;

constexpr const char* webAreaRole = "AXWebArea";

// The texts that name any element, in the order its names are listed, and those that
// name only things one acts on (a field's placeholder, a button's help).
constexpr std::array<const char*, 3> nameAttributes{ax::title, ax::description, ax::value};
constexpr std::array<const char*, 2> actionNameAttributes{ax::help, ax::placeholderValue};

bool bigEnough(const Rect& frame) {
    return frame.width >= 4 && frame.height >= 4;
}

bool contains(const Rect& outer, const Rect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.x + inner.width <= outer.x + outer.width &&
           inner.y + inner.height <= outer.y + outer.height;
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
    return namesFrom(role, [&](const char* attribute) { return ax_.copyAttributeValue(element, attribute); });
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

namespace {

struct WalkNode {
    AXRef ref;
    int depth = 0;
    std::vector<std::size_t> children;
};

// Pre-order positions of the nodes fetched so far. A node's position can only grow as
// deeper levels arrive, so one already past the bound will never be visited.
std::vector<std::size_t> preorder(const std::vector<WalkNode>& nodes) {
    std::vector<std::size_t> order;
    order.reserve(nodes.size());
    std::vector<std::size_t> stack{0};
    while (!stack.empty()) {
        const std::size_t index = stack.back();
        stack.pop_back();
        order.push_back(index);
        const auto& kids = nodes[index].children;
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
    }
    return order;
}

// One attribute of some of the visited elements, read in one batch; the answers sit
// at the elements' places in the visit order.
class BatchReader {
public:
    BatchReader(Accessibility& ax, const std::vector<AXRef>& visited) : ax_(ax), visited_(visited) {}

    std::vector<AXValue> read(const std::vector<AXRef>& elements, const std::string& attribute) {
        if (elements.empty()) return {};
        return ax_.copyAttributeValues(elements, attribute);
    }

    std::vector<AXValue> readAt(const std::vector<std::size_t>& places, const std::string& attribute) {
        std::vector<AXRef> refs;
        refs.reserve(places.size());
        for (std::size_t place : places) refs.push_back(visited_[place]);
        const auto values = read(refs, attribute);
        std::vector<AXValue> spread(visited_.size());
        for (std::size_t k = 0; k < places.size(); ++k) spread[places[k]] = values[k];
        return spread;
    }

private:
    Accessibility& ax_;
    const std::vector<AXRef>& visited_;
};

} // namespace

std::vector<AXElement> AXReader::walk(const AXRef& root) {
    if (!root) return {};
    constexpr std::size_t visitLimit = static_cast<std::size_t>(maxVisited) + 1;

    // The tree, level by level: children are read only for nodes that may still be
    // visited, so a huge tree costs no more than the bounds allow.
    std::vector<WalkNode> nodes{{root, 0, {}}};
    std::vector<std::size_t> level{0};
    while (!level.empty()) {
        std::vector<std::size_t> position(nodes.size());
        const auto order = preorder(nodes);
        for (std::size_t i = 0; i < order.size(); ++i) position[order[i]] = i;
        std::vector<std::size_t> expand;
        std::vector<AXRef> refs;
        for (std::size_t index : level)
            if (nodes[index].depth < maxDepth && position[index] < visitLimit) {
                expand.push_back(index);
                refs.push_back(nodes[index].ref);
            }
        const auto values = refs.empty() ? std::vector<AXValue>{} : ax_.copyAttributeValues(refs, ax::children);
        std::vector<std::size_t> next;
        for (std::size_t i = 0; i < expand.size(); ++i)
            for (auto& child : axvalue::elements(values[i])) {
                nodes.push_back({std::move(child), nodes[expand[i]].depth + 1, {}});
                nodes[expand[i]].children.push_back(nodes.size() - 1);
                next.push_back(nodes.size() - 1);
            }
        level = std::move(next);
    }

    auto order = preorder(nodes);
    if (order.size() > visitLimit) order.resize(visitLimit);
    std::vector<AXRef> visited;
    visited.reserve(order.size());
    for (std::size_t index : order) visited.push_back(nodes[index].ref);
    BatchReader reader(ax_, visited);
    std::vector<std::size_t> all(order.size());
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;

    // Names, by the rule describe follows, each attribute read for all who need it.
    std::vector<std::string> roles(order.size());
    {
        const auto values = reader.readAt(all, ax::role);
        for (std::size_t i = 0; i < order.size(); ++i) roles[i] = as<std::string>(values[i]).value_or("");
    }
    std::map<std::string, std::vector<AXValue>, std::less<>> nameValues;
    for (const char* attribute : nameAttributes) nameValues[attribute] = reader.readAt(all, attribute);
    std::vector<std::size_t> actionable;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (AXRoles::actionable().contains(roles[i])) actionable.push_back(i);
    for (const char* attribute : actionNameAttributes) nameValues[attribute] = reader.readAt(actionable, attribute);
    std::vector<std::vector<std::string>> found(order.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        found[i] = namesFrom(roles[i], [&](const char* attribute) { return nameValues.find(attribute)->second[i]; });

    // Frames of the named ones, then the rest of the record for those big enough.
    std::vector<std::size_t> named;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (!found[i].empty()) named.push_back(i);
    std::vector<std::optional<AXElement>> records(order.size());
    {
        const auto positions = reader.readAt(named, ax::position);
        const auto sizes = reader.readAt(named, ax::size);
        for (std::size_t i : named)
            if (auto bounds = axvalue::frame(positions[i], sizes[i])) records[i] = record(roles[i], found[i], *bounds);
    }
    std::vector<std::size_t> described;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (records[i]) described.push_back(i);
    {
        const auto identities = reader.readAt(described, ax::identifier);
        const auto enabled = reader.readAt(described, ax::enabled);
        for (std::size_t i : described) {
            records[i]->identity = as<std::string>(identities[i]).value_or("");
            records[i]->enabled = as<bool>(enabled[i]).value_or(true);
        }
    }

    // Labels that title exactly one element lead to that element.
    std::vector<std::size_t> labels;
    std::vector<AXRef> targets;
    {
        const auto titles = reader.readAt(described, ax::servesAsTitleForUIElements);
        for (std::size_t i : described)
            if (AXRef target = soleTitled(titles[i])) {
                labels.push_back(i);
                targets.push_back(std::move(target));
            }
    }
    {
        const auto positions = reader.read(targets, ax::position);
        const auto sizes = reader.read(targets, ax::size);
        std::vector<std::size_t> framed;
        std::vector<Rect> frames;
        std::vector<AXRef> framedRefs;
        for (std::size_t k = 0; k < targets.size(); ++k)
            if (auto bounds = axvalue::frame(positions[k], sizes[k])) {
                framed.push_back(k);
                frames.push_back(*bounds);
                framedRefs.push_back(targets[k]);
            }
        const auto targetRoles = reader.read(framedRefs, ax::role);
        const auto targetEnabled = reader.read(framedRefs, ax::enabled);
        for (std::size_t f = 0; f < framed.size(); ++f) {
            auto& label = records[labels[framed[f]]];
            if (auto field = titledRecord(label->text, as<std::string>(targetRoles[f]).value_or(""), frames[f],
                                          as<bool>(targetEnabled[f]).value_or(true)))
                label = field;
        }
    }

    // Document order, with the in-page flag handed down from each web area.
    std::vector<bool> inPage(nodes.size(), false);
    std::vector<int> parentOf(nodes.size(), -1);
    for (std::size_t i = 0; i < nodes.size(); ++i)
        for (std::size_t child : nodes[i].children) parentOf[child] = static_cast<int>(i);
    std::vector<AXElement> list;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const std::size_t index = order[i];
        const bool inherited = parentOf[index] >= 0 && inPage[static_cast<std::size_t>(parentOf[index])];
        inPage[index] = inherited || roles[i] == webAreaRole;
        if (records[i]) {
            records[i]->inPage = inPage[index];
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

    // A page that is still loading shows no content yet: give it a moment.
    auto elements = walk(root);
    for (int retry = 0; retry < snapshotRetries && !containsWebContent(elements); ++retry) {
        clock_.sleep(retryInterval);
        elements = walk(root);
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
    std::deque<AXRef> queue{window};
    for (int seen = 0; !queue.empty() && seen < 400; ++seen) {
        AXRef element = std::move(queue.front());
        queue.pop_front();
        if (string(element, ax::role) == webAreaRole) {
            if (auto url = as<AXURL>(ax_.copyAttributeValue(element, ax::url))) return url->absolute;
            return std::nullopt;
        }
        for (auto& child : children(element)) queue.push_back(std::move(child));
    }
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
    std::vector<AXRef> level{start};
    for (int depth = 0; depth < 16 && !level.empty(); ++depth) {
        std::vector<AXRef> next;
        for (const auto& element : level) {
            if (string(element, ax::role) == webAreaRole) return frame(element);
            for (auto& child : children(element)) next.push_back(std::move(child));
        }
        level = std::move(next);
    }
    return std::nullopt;
}

std::optional<std::string> AXReader::value(Point at, std::int32_t pid) {
    access_.require(pid);
    const AXRef element = ax_.copyElementAtPosition(ax_.application(pid), at);
    if (!element) return std::nullopt;
    return string(element, ax::value);
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
    if (const auto role = string(hit, ax::role); role && AXRoles::roots().contains(*role))
        if (const auto bounds = frame(hit); bounds && contains(*bounds, grown)) return true;
    for (int i = 0; i < 5 && hit; ++i) {
        if (const auto bounds = frame(hit); bounds && contains(grown, *bounds)) return true;
        hit = axvalue::element(ax_.copyAttributeValue(hit, ax::parent));
    }
    return false;
}

} // namespace vanto
