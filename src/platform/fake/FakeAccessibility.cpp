#include "platform/fake/FakeAccessibility.h"

namespace vanto::fake {
namespace {

class FakeElement final : public AXUIElement {
public:
    explicit FakeElement(FakeAXNodePtr node) : node(std::move(node)) {}
    bool isSame(const AXUIElement& other) const override {
        const auto* fake = dynamic_cast<const FakeElement*>(&other);
        return fake && fake->node == node;
    }
    FakeAXNodePtr node;
};

// The deepest node under the point; later siblings are drawn over earlier ones.
FakeAXNodePtr deepestAt(const FakeAXNodePtr& node, Point at) {
    for (auto it = node->children.rbegin(); it != node->children.rend(); ++it)
        if ((*it)->frame && contains(*(*it)->frame, at)) return deepestAt(*it, at);
    return node;
}

std::vector<AXRef> refs(const std::vector<FakeAXNodePtr>& nodes) {
    std::vector<AXRef> result;
    for (const auto& node : nodes) result.push_back(FakeAccessibility::ref(node));
    return result;
}

} // namespace

FakeAXNodePtr FakeAXNode::add(const std::string& role, std::optional<std::string> title, std::optional<Rect> frame) {
    auto child = std::make_shared<FakeAXNode>();
    child->attributes["AXRole"] = role;
    if (title) child->attributes["AXTitle"] = *title;
    child->frame = frame;
    child->parent = weak_from_this();
    children.push_back(child);
    return child;
}

FakeAXNode& FakeAXNode::set(const std::string& attribute, AXValue value) {
    attributes[attribute] = std::move(value);
    return *this;
}

std::string FakeAXNode::role() const {
    auto it = attributes.find("AXRole");
    if (it == attributes.end()) return "";
    if (const auto* text = std::get_if<std::string>(&it->second)) return *text;
    return "";
}

AXRef FakeAccessibility::ref(const FakeAXNodePtr& node) {
    if (!node) return nullptr;
    return std::make_shared<FakeElement>(node);
}

FakeAXNodePtr FakeAccessibility::node(const AXRef& element) {
    const auto* fake = dynamic_cast<const FakeElement*>(element.get());
    return fake ? fake->node : nullptr;
}

std::optional<std::string> FakeAccessibility::bundleIdentifier(std::int32_t pid) {
    auto it = bundleIDs.find(pid);
    if (it == bundleIDs.end()) return std::nullopt;
    return it->second;
}

AXRef FakeAccessibility::application(std::int32_t pid) {
    auto it = applications.find(pid);
    // Nothing answers for a process without an interface: a handle whose reads fail.
    return ref(it != applications.end() ? it->second : std::make_shared<FakeAXNode>());
}

void FakeAccessibility::setMessagingTimeout(const AXRef& element, double seconds) {
    if (auto target = node(element)) timeouts[target.get()] = seconds;
}

AXValue FakeAccessibility::copyAttributeValue(const AXRef& element, const std::string& attribute) {
    auto target = node(element);
    if (!target) return {};
    if (onRead) onRead(target, attribute);
    ++reads_[{target.get(), attribute}];
    if (attribute == ax::children) return refs(target->children);
    if (attribute == ax::windows) {
        std::vector<FakeAXNodePtr> windows;
        for (const auto& child : target->children)
            if (child->role() == "AXWindow") windows.push_back(child);
        return refs(windows);
    }
    if (attribute == ax::parent) {
        if (auto up = target->parent.lock()) return ref(up);
        return {};
    }
    if (attribute == ax::position) {
        if (!target->frame) return {};
        return Point{target->frame->x, target->frame->y};
    }
    if (attribute == ax::size) {
        if (!target->frame) return {};
        return AXSize{target->frame->width, target->frame->height};
    }
    if (attribute == ax::servesAsTitleForUIElements || attribute == ax::titleUIElements) {
        const auto& related = attribute == ax::titleUIElements ? target->labels : target->titles;
        if (related.empty()) return {};
        std::vector<AXRef> elements;
        for (const auto& weak : related)
            if (auto relatedNode = weak.lock()) elements.push_back(ref(relatedNode));
        return elements;
    }
    if (attribute == ax::focusedWindow) {
        if (auto window = target->focusedWindow.lock()) return ref(window);
        return {};
    }
    if (attribute == ax::focusedUIElement) {
        if (auto focused = target->focusedElement.lock()) return ref(focused);
        return {};
    }
    auto it = target->attributes.find(attribute);
    if (it == target->attributes.end()) return {};
    return it->second;
}

std::vector<AXValue> FakeAccessibility::copyAttributeValues(std::span<const AXRef> elements,
                                                            const std::string& attribute) {
    ++batches;
    return Accessibility::copyAttributeValues(elements, attribute);
}

bool FakeAccessibility::setAttributeValue(const AXRef& element, const std::string& attribute, const AXValue& value) {
    auto target = node(element);
    if (!target) return false;
    writes.push_back({target, attribute, value});
    if (refusedWrites.contains(attribute)) return false;
    if (attribute == ax::position) {
        const auto* at = std::get_if<Point>(&value);
        if (!at) return false;
        Rect frame = target->frame.value_or(Rect{});
        frame.x = at->x;
        frame.y = at->y;
        target->frame = frame;
        return true;
    }
    if (attribute == ax::size) {
        const auto* size = std::get_if<AXSize>(&value);
        if (!size) return false;
        Rect frame = target->frame.value_or(Rect{});
        frame.width = size->width;
        frame.height = size->height;
        target->frame = frame;
        return true;
    }
    if (attribute == ax::focusedWindow) {
        auto window = node(std::get_if<AXRef>(&value) ? std::get<AXRef>(value) : nullptr);
        if (!window) return false;
        target->focusedWindow = window;
        return true;
    }
    target->attributes[attribute] = value;
    return true;
}

AXRef FakeAccessibility::copyElementAtPosition(const AXRef& application, Point at) {
    auto app = node(application);
    if (!app) return nullptr;
    // Windows are listed front to back: the first one under the point answers.
    for (const auto& window : app->children)
        if (window->frame && contains(*window->frame, at)) return ref(deepestAt(window, at));
    return nullptr;
}

bool FakeAccessibility::performAction(const AXRef& element, const std::string& action) {
    auto target = node(element);
    if (!target) return false;
    actions.emplace_back(target, action);
    return true;
}

FakeAXNodePtr FakeAccessibility::addApplication(std::int32_t pid, const std::string& name) {
    auto app = std::make_shared<FakeAXNode>();
    app->attributes[ax::role] = std::string("AXApplication");
    app->attributes[ax::title] = name;
    applications[pid] = app;
    return app;
}

FakeAXNodePtr FakeAccessibility::addWindow(const FakeAXNodePtr& application, const std::string& title, Rect frame) {
    auto window = application->add("AXWindow", title, frame);
    if (!application->focusedWindow.lock()) application->focusedWindow = window;
    return window;
}

int FakeAccessibility::readsOf(const FakeAXNodePtr& node, const std::string& attribute) const {
    auto it = reads_.find({node.get(), attribute});
    return it == reads_.end() ? 0 : it->second;
}

} // namespace vanto::fake
