#pragma once

#include "platform/Accessibility.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vanto::fake {

// One element of a scripted accessibility tree. Tests build trees of these as data:
// attributes by name, a frame, children, and the elements a label titles.
struct FakeAXNode : std::enable_shared_from_this<FakeAXNode> {
    std::map<std::string, AXValue> attributes; // anything but the computed ones below
    std::optional<Rect> frame;                 // AXPosition and AXSize
    std::vector<std::shared_ptr<FakeAXNode>> children;
    std::weak_ptr<FakeAXNode> parent;
    std::vector<std::weak_ptr<FakeAXNode>> titles; // AXServesAsTitleForUIElements
    std::vector<std::weak_ptr<FakeAXNode>> labels; // AXTitleUIElements
    std::weak_ptr<FakeAXNode> focusedWindow;       // AXFocusedWindow, on an application
    std::weak_ptr<FakeAXNode> focusedElement;      // AXFocusedUIElement, on an application

    // Adds a child with a role, an optional title and frame; returns it.
    std::shared_ptr<FakeAXNode> add(const std::string& role, std::optional<std::string> title = std::nullopt,
                                    std::optional<Rect> frame = std::nullopt);
    FakeAXNode& set(const std::string& attribute, AXValue value);
    std::string role() const;
};
using FakeAXNodePtr = std::shared_ptr<FakeAXNode>;

// A scripted desktop's accessibility: applications by pid, each a tree of FakeAXNodes.
// Reads are answered from the nodes, writes change them (moving a window moves its
// frame), and every read, write and action is counted or logged for tests.
class FakeAccessibility final : public Accessibility {
public:
    bool isProcessTrusted() override { return trusted; }
    std::optional<std::int32_t> frontmostApplicationPID() override { return frontmost; }
    std::optional<std::string> bundleIdentifier(std::int32_t pid) override;
    AXRef application(std::int32_t pid) override;
    void setMessagingTimeout(const AXRef& element, double seconds) override;
    AXValue copyAttributeValue(const AXRef& element, const std::string& attribute) override;
    std::vector<AXValue> copyAttributeValues(std::span<const AXRef> elements, const std::string& attribute) override;
    bool setAttributeValue(const AXRef& element, const std::string& attribute, const AXValue& value) override;
    AXRef copyElementAtPosition(const AXRef& application, Point at) override;
    bool performAction(const AXRef& element, const std::string& action) override;

    // A new application element for pid, with AXRole AXApplication.
    FakeAXNodePtr addApplication(std::int32_t pid, const std::string& name = "App");
    // A window (AXWindow) of an application; the first one added becomes focused.
    FakeAXNodePtr addWindow(const FakeAXNodePtr& application, const std::string& title, Rect frame);

    // The handle the core sees for a node, and the node behind a handle.
    static AXRef ref(const FakeAXNodePtr& node);
    static FakeAXNodePtr node(const AXRef& element);

    int readsOf(const FakeAXNodePtr& node, const std::string& attribute) const;

    bool trusted = true;
    std::optional<std::int32_t> frontmost;
    std::map<std::int32_t, std::string> bundleIDs;
    std::map<std::int32_t, FakeAXNodePtr> applications;
    // Writes refused, by attribute name.
    std::set<std::string> refusedWrites;
    // Called before every read, so a test can change the tree while it is walked.
    std::function<void(const FakeAXNodePtr& node, const std::string& attribute)> onRead;

    struct Write {
        FakeAXNodePtr node;
        std::string attribute;
        AXValue value;
    };
    std::vector<Write> writes;
    std::vector<std::pair<FakeAXNodePtr, std::string>> actions;
    std::map<const FakeAXNode*, double> timeouts;
    int batches = 0; // copyAttributeValues calls

private:
    std::map<std::pair<const FakeAXNode*, std::string>, int> reads_;
};

} // namespace vanto::fake
