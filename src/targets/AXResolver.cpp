#include "targets/AXResolver.h"

#include "base/Text.h"
#include "capture/RecorderError.h"

#include <algorithm>
#include <cmath>
#include <deque>

namespace vanto {
namespace {

constexpr const char* webAreaRole = "AXWebArea";

template <class T> std::optional<T> as(const AXValue& value) {
    if (const T* held = std::get_if<T>(&value)) return *held;
    return std::nullopt;
}

AXRef asElement(const AXValue& value) {
    if (const AXRef* held = std::get_if<AXRef>(&value)) return *held;
    return nullptr;
}

std::vector<AXRef> asElements(const AXValue& value) {
    std::vector<AXRef> elements;
    if (const auto* held = std::get_if<std::vector<AXRef>>(&value))
        for (const auto& element : *held)
            if (element) elements.push_back(element);
    return elements;
}

std::optional<Rect> frameFrom(const AXValue& position, const AXValue& size) {
    auto origin = as<Point>(position);
    auto extent = as<AXSize>(size);
    if (!origin || !extent) return std::nullopt;
    return Rect{origin->x, origin->y, extent->width, extent->height};
}

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

} // namespace

AXResolver::AXResolver(Accessibility& accessibility, Processes& processes, Clock& clock)
    : ax_(accessibility), processes_(processes), clock_(clock), ourselves_(processes.currentPID()) {}

const std::set<std::string>& AXResolver::actionableRoles() {
    static const std::set<std::string> roles{"AXLink",        "AXButton",      "AXTextField", "AXCheckBox",
                                             "AXRadioButton", "AXPopUpButton", "AXMenuItem",  "AXMenuButton",
                                             "AXComboBox",    "AXTextArea"};
    return roles;
}

const std::set<std::string>& AXResolver::webRoles() {
    static const std::set<std::string> roles{"AXWebArea", "AXLink", "AXStaticText", "AXHeading"};
    return roles;
}

const std::set<std::string>& AXResolver::rootRoles() {
    static const std::set<std::string> roles{"AXWebArea", "AXScrollArea", "AXWindow", "AXApplication"};
    return roles;
}

std::set<std::string> AXResolver::roles(std::string_view word) {
    const std::string w = text::asciiLower(text::trimWhitespaceAndNewlines(word));
    if (w == "link" || w == "a") return {"axlink"};
    if (w == "button" || w == "btn") return {"axbutton", "axpopupbutton", "axmenubutton"};
    if (w == "input" || w == "field" || w == "textbox" || w == "textarea" || w == "searchbox")
        return {"axtextfield", "axtextarea", "axcombobox", "axsearchfield"};
    if (w == "checkbox" || w == "radio" || w == "toggle" || w == "switch")
        return {"axcheckbox", "axradiobutton", "axswitch"};
    if (w == "tab") return {"axtab", "axradiobutton"};
    if (w == "image" || w == "img") return {"aximage"};
    if (w == "heading") return {"axheading"};
    if (w.starts_with("ax")) return {w};
    return {};
}

// ---- attribute readers ----

std::optional<std::string> AXResolver::string(const AXRef& element, const std::string& attribute) {
    return as<std::string>(ax_.copyAttributeValue(element, attribute));
}

std::optional<Rect> AXResolver::frame(const AXRef& element) {
    return frameFrom(ax_.copyAttributeValue(element, ax::position), ax_.copyAttributeValue(element, ax::size));
}

bool AXResolver::isEnabled(const AXRef& element) {
    return as<bool>(ax_.copyAttributeValue(element, ax::enabled)).value_or(true);
}

std::vector<AXRef> AXResolver::children(const AXRef& element, const std::string& attribute) {
    return asElements(ax_.copyAttributeValue(element, attribute));
}

AXRef AXResolver::focusedWindow(const AXRef& application) {
    return asElement(ax_.copyAttributeValue(application, ax::focusedWindow));
}

std::vector<std::string> AXResolver::names(const AXRef& element, const std::string& role) {
    std::vector<std::string> found;
    for (const char* attribute : {ax::title, ax::description, ax::value})
        addName(found, ax_.copyAttributeValue(element, attribute));
    if (actionableRoles().contains(role))
        for (const char* attribute : {ax::help, ax::placeholderValue})
            addName(found, ax_.copyAttributeValue(element, attribute));
    return found;
}

std::optional<AXElement> AXResolver::describe(const AXRef& element) {
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

std::optional<AXElement> AXResolver::titled(const AXRef& label, const std::string& text) {
    const auto targets = asElements(ax_.copyAttributeValue(label, ax::servesAsTitleForUIElements));
    if (targets.size() != 1) return std::nullopt;
    const auto bounds = frame(targets.front());
    if (!bounds) return std::nullopt;
    return titledRecord(text, string(targets.front(), ax::role).value_or(""), *bounds, isEnabled(targets.front()));
}

bool AXResolver::isUnderWebContent(const AXRef& element) {
    AXRef current = element;
    for (int i = 0; i < maxDepth && current; ++i) {
        if (string(current, ax::role) == webAreaRole) return true;
        current = asElement(ax_.copyAttributeValue(current, ax::parent));
    }
    return false;
}

bool AXResolver::containsWebContent(const std::vector<AXElement>& elements) {
    return std::any_of(elements.begin(), elements.end(),
                       [](const AXElement& element) { return webRoles().contains(element.role); });
}

// ---- the walk ----

void AXResolver::collect(const AXRef& root, int depth, std::vector<AXElement>& into, int& visited, bool inPage) {
    if (depth > maxDepth || visited > maxVisited) return;
    ++visited;
    const bool here = inPage || string(root, ax::role) == webAreaRole;
    if (auto element = describe(root)) {
        if (auto field = titled(root, element->text)) element = field;
        element->inPage = here;
        into.push_back(std::move(*element));
    }
    for (const auto& child : children(root)) collect(child, depth + 1, into, visited, here);
}

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

// The values of one attribute for a subset of the nodes, read in one batch.
class BatchReader {
public:
    explicit BatchReader(Accessibility& ax) : ax_(ax) {}

    std::vector<AXValue> read(const std::vector<AXRef>& elements, const std::string& attribute) {
        if (elements.empty()) return {};
        return ax_.copyAttributeValues(elements, attribute);
    }

private:
    Accessibility& ax_;
};

} // namespace

std::vector<AXElement> AXResolver::walk(const AXRef& root) {
    if (!root) return {};
    BatchReader reader(ax_);
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
        const auto values = reader.read(refs, ax::children);
        std::vector<std::size_t> next;
        for (std::size_t i = 0; i < expand.size(); ++i)
            for (auto& child : asElements(values[i])) {
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

    // Names, in the order describe reads them.
    std::vector<std::string> roles(order.size());
    {
        const auto values = reader.read(visited, ax::role);
        for (std::size_t i = 0; i < order.size(); ++i) roles[i] = as<std::string>(values[i]).value_or("");
    }
    std::vector<std::vector<std::string>> found(order.size());
    for (const char* attribute : {ax::title, ax::description, ax::value}) {
        const auto values = reader.read(visited, attribute);
        for (std::size_t i = 0; i < order.size(); ++i) addName(found[i], values[i]);
    }
    std::vector<std::size_t> actionable;
    std::vector<AXRef> actionableRefs;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (actionableRoles().contains(roles[i])) {
            actionable.push_back(i);
            actionableRefs.push_back(visited[i]);
        }
    for (const char* attribute : {ax::help, ax::placeholderValue}) {
        const auto values = reader.read(actionableRefs, attribute);
        for (std::size_t k = 0; k < actionable.size(); ++k) addName(found[actionable[k]], values[k]);
    }

    // Frames of the named ones, then the rest of the record for those big enough.
    std::vector<std::size_t> named;
    std::vector<AXRef> namedRefs;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (!found[i].empty()) {
            named.push_back(i);
            namedRefs.push_back(visited[i]);
        }
    std::vector<std::optional<AXElement>> records(order.size());
    {
        const auto positions = reader.read(namedRefs, ax::position);
        const auto sizes = reader.read(namedRefs, ax::size);
        for (std::size_t k = 0; k < named.size(); ++k)
            if (auto bounds = frameFrom(positions[k], sizes[k]))
                records[named[k]] = record(roles[named[k]], found[named[k]], *bounds);
    }
    std::vector<std::size_t> described;
    std::vector<AXRef> describedRefs;
    for (std::size_t i = 0; i < order.size(); ++i)
        if (records[i]) {
            described.push_back(i);
            describedRefs.push_back(visited[i]);
        }
    {
        const auto identities = reader.read(describedRefs, ax::identifier);
        const auto enabled = reader.read(describedRefs, ax::enabled);
        for (std::size_t k = 0; k < described.size(); ++k) {
            records[described[k]]->identity = as<std::string>(identities[k]).value_or("");
            records[described[k]]->enabled = as<bool>(enabled[k]).value_or(true);
        }
    }

    // Labels that title exactly one element lead to that element.
    std::vector<std::size_t> labels;
    std::vector<AXRef> targets;
    {
        const auto titledElements = reader.read(describedRefs, ax::servesAsTitleForUIElements);
        for (std::size_t k = 0; k < described.size(); ++k) {
            auto elements = asElements(titledElements[k]);
            if (elements.size() != 1) continue;
            labels.push_back(described[k]);
            targets.push_back(std::move(elements.front()));
        }
    }
    {
        const auto positions = reader.read(targets, ax::position);
        const auto sizes = reader.read(targets, ax::size);
        std::vector<std::size_t> framed;
        std::vector<Rect> frames;
        std::vector<AXRef> framedRefs;
        for (std::size_t k = 0; k < targets.size(); ++k)
            if (auto bounds = frameFrom(positions[k], sizes[k])) {
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

// ---- process and point queries ----

bool AXResolver::isSelf(std::int32_t pid) {
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

std::int32_t AXResolver::resolvePID(std::optional<std::int32_t> pid) {
    if (pid) return *pid;
    if (auto frontmost = ax_.frontmostApplicationPID()) return *frontmost;
    if (!ax_.isProcessTrusted()) throw RecorderError::accessibilityDenied();
    throw RecorderError::missingField("pid");
}

void AXResolver::requireAccess(std::int32_t pid) {
    if (isSelf(pid)) throw RecorderError::drivingItself();
    if (!ax_.isProcessTrusted()) throw RecorderError::accessibilityDenied();
}

AXRef AXResolver::preparedApplication(std::int32_t pid) {
    AXRef application = ax_.application(pid);
    ax_.setMessagingTimeout(application, messagingTimeout);
    // Some applications build their tree only when asked to; refusals are harmless.
    ax_.setAttributeValue(application, ax::enhancedUserInterface, true);
    ax_.setAttributeValue(application, ax::manualAccessibility, true);
    return application;
}

AXResolver::Snapshot AXResolver::snapshot(const FindParams& params) {
    const std::int32_t pid = resolvePID(params.pid);
    requireAccess(pid);
    const AXRef application = preparedApplication(pid);

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

std::optional<Focus> AXResolver::focused(std::int32_t pid) {
    requireAccess(pid);
    const AXRef element = asElement(ax_.copyAttributeValue(ax_.application(pid), ax::focusedUIElement));
    if (!element) return std::nullopt;
    Focus focus;
    focus.role = string(element, ax::role).value_or("");
    focus.value = string(element, ax::value).value_or("");
    focus.frame = frame(element).value_or(Rect{});
    focus.inPage = isUnderWebContent(element);
    return focus;
}

std::optional<std::string> AXResolver::pageURL(std::int32_t pid) {
    requireAccess(pid);
    const AXRef window = focusedWindow(preparedApplication(pid));
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

std::optional<Rect> AXResolver::webArea(std::int32_t pid) {
    if (!ax_.isProcessTrusted()) return std::nullopt;
    const AXRef application = preparedApplication(pid);
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

std::optional<std::string> AXResolver::value(Point at, std::int32_t pid) {
    requireAccess(pid);
    const AXRef element = ax_.copyElementAtPosition(ax_.application(pid), at);
    if (!element) return std::nullopt;
    return string(element, ax::value);
}

std::optional<AXElement> AXResolver::elementAt(Point at, std::optional<std::int32_t> pid) {
    const std::int32_t resolved = resolvePID(pid);
    requireAccess(resolved);
    AXRef element = ax_.copyElementAtPosition(ax_.application(resolved), at);
    for (int i = 0; i < 8 && element; ++i) {
        if (auto described = describe(element)) return described;
        element = asElement(ax_.copyAttributeValue(element, ax::parent));
    }
    return std::nullopt;
}

int AXResolver::restoreMinimizedWindows(std::int32_t pid) {
    if (!ax_.isProcessTrusted() || isSelf(pid)) return 0;
    int restored = 0;
    for (const auto& window : children(ax_.application(pid), ax::windows))
        if (as<bool>(ax_.copyAttributeValue(window, ax::minimized)) == true &&
            ax_.setAttributeValue(window, ax::minimized, false))
            ++restored;
    return restored;
}

bool AXResolver::focus(Rect windowAt, std::int32_t pid) {
    if (!ax_.isProcessTrusted() || isSelf(pid)) return false;
    const AXRef application = ax_.application(pid);
    for (const auto& window : children(application, ax::windows)) {
        const auto origin = as<Point>(ax_.copyAttributeValue(window, ax::position));
        if (!origin || std::abs(origin->x - windowAt.x) > 1 || std::abs(origin->y - windowAt.y) > 1) continue;
        ax_.performAction(window, ax::raiseAction);
        ax_.setAttributeValue(window, ax::main, true);
        ax_.setAttributeValue(application, ax::focusedWindow, window);
        return true;
    }
    return false;
}

bool AXResolver::place(std::int32_t windowOf, Rect at) {
    if (!ax_.isProcessTrusted() || isSelf(windowOf)) return false;
    const auto windows = children(ax_.application(windowOf), ax::windows);
    if (windows.empty()) return false;
    const AXRef& window = windows.front();
    // Position first so the size fits the screen there, and again since some window
    // managers move a window that grows past the screen's edge.
    ax_.setAttributeValue(window, ax::position, Point{at.x, at.y});
    ax_.setAttributeValue(window, ax::size, AXSize{at.width, at.height});
    ax_.setAttributeValue(window, ax::position, Point{at.x, at.y});
    const auto placed = frame(window);
    return placed && std::abs(placed->width - at.width) <= 1 && std::abs(placed->height - at.height) <= 1;
}

bool AXResolver::hits(const AXElement& element, Point at, std::int32_t pid) {
    if (!ax_.isProcessTrusted() || isSelf(pid)) return true;
    AXRef hit = ax_.copyElementAtPosition(ax_.application(pid), at);
    if (!hit) return true;
    const Rect grown{static_cast<double>(element.x) - 2, static_cast<double>(element.y) - 2,
                     static_cast<double>(element.width) + 4, static_cast<double>(element.height) + 4};
    if (const auto role = string(hit, ax::role); role && rootRoles().contains(*role))
        if (const auto bounds = frame(hit); bounds && contains(*bounds, grown)) return true;
    for (int i = 0; i < 5 && hit; ++i) {
        if (const auto bounds = frame(hit); bounds && contains(grown, *bounds)) return true;
        hit = asElement(ax_.copyAttributeValue(hit, ax::parent));
    }
    return false;
}

std::vector<AXElement> AXResolver::find(const FindParams& params) {
    const auto taken = snapshot(params);
    return rank(clip(taken.elements, taken.clip), params);
}

} // namespace vanto
