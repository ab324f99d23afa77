#pragma once

#include "platform/Geometry.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace vanto {

// One element of some application's accessibility tree. Backends derive their own
// handle from it; the core only passes handles back to the backend that made them.
class AXUIElement {
public:
    virtual ~AXUIElement() = default;
    // Whether both handles stand for the same element of the same application.
    virtual bool isSame(const AXUIElement& other) const { return this == &other; }
};
using AXRef = std::shared_ptr<const AXUIElement>;

struct AXSize {
    double width = 0;
    double height = 0;
    bool operator==(const AXSize&) const = default;
};

// An absolute URL; a distinct type so that an attribute holding a URL is told apart
// from one holding a string.
struct AXURL {
    std::string absolute;
    bool operator==(const AXURL&) const = default;
};

// What an attribute read yields: nothing (the read failed or the attribute is absent),
// or a value of one of the types the vocabulary uses. Readers check the type they
// expect and treat anything else as absent.
using AXValue =
    std::variant<std::monostate, std::string, bool, double, Point, AXSize, AXURL, AXRef, std::vector<AXRef>>;

// Attribute, action and role names of the vocabulary the core reads and writes.
namespace ax {
inline constexpr const char* role = "AXRole";
inline constexpr const char* subrole = "AXSubrole";
inline constexpr const char* title = "AXTitle";
inline constexpr const char* description = "AXDescription";
inline constexpr const char* value = "AXValue";
inline constexpr const char* help = "AXHelp";
inline constexpr const char* placeholderValue = "AXPlaceholderValue";
inline constexpr const char* identifier = "AXIdentifier";
inline constexpr const char* enabled = "AXEnabled";
inline constexpr const char* focused = "AXFocused";
inline constexpr const char* selected = "AXSelected";
inline constexpr const char* position = "AXPosition";
inline constexpr const char* size = "AXSize";
inline constexpr const char* children = "AXChildren";
inline constexpr const char* parent = "AXParent";
inline constexpr const char* windows = "AXWindows";
inline constexpr const char* minimized = "AXMinimized";
inline constexpr const char* main = "AXMain";
inline constexpr const char* focusedWindow = "AXFocusedWindow";
inline constexpr const char* focusedUIElement = "AXFocusedUIElement";
inline constexpr const char* url = "AXURL";
inline constexpr const char* servesAsTitleForUIElements = "AXServesAsTitleForUIElements";
// The elements whose text labels this one (the other side of the relation above); a list,
// since a toolkit may name more than one.
inline constexpr const char* titleUIElements = "AXTitleUIElements";
inline constexpr const char* enhancedUserInterface = "AXEnhancedUserInterface";
inline constexpr const char* manualAccessibility = "AXManualAccessibility";
inline constexpr const char* raiseAction = "AXRaise";
inline constexpr const char* pressAction = "AXPress";
} // namespace ax

// Another element named in a node's label relations, and its record in the same read
// when it has one there.
struct AXRelated {
    AXRef element;
    std::optional<std::size_t> index;
};

// One node of a subtree as one bulk read reports it: what the attributes of the same
// name would read, nothing interpreted. Absent texts are empty.
struct AXNodeRecord {
    AXRef element;
    std::optional<std::size_t> parent; // the parent's record; none for the subtree's root
    std::string role;
    std::string subrole;
    std::string title;
    std::string description;
    AXValue value;
    std::string help;
    std::string placeholder;
    std::string identifier;
    std::optional<Rect> frame; // AXPosition and AXSize, when both are there
    std::optional<bool> enabled;
    bool focused = false;
    bool selected = false;
    std::optional<std::string> url;
    std::vector<AXRelated> titles;     // AXServesAsTitleForUIElements
    std::vector<AXRelated> labelledBy; // AXTitleUIElements
};

// How much of a tree one bulk read covers: nodes deeper than maxDepth below the root are
// left out, and the list stops after maxNodes records in document order. With
// onScreenOnly the reader wants only what shows: the record of an element the backend
// knows shows nowhere (it has no frame, or its toolkit says it is not showing) keeps its
// place in the tree, role, subrole, title and description, and leaves the rest empty,
// frame included, which spares their reads.
struct AXTreeBounds {
    int maxDepth = 0;
    std::size_t maxNodes = 0;
    bool onScreenOnly = false;
};

// The accessibility API of the desktop, in the vocabulary the core is written in.
// Every call may fail; a failed read is an empty AXValue, a failed write or action false.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether this process may read other applications' interfaces.
    virtual bool isProcessTrusted() = 0;

    // The process of the application in front, if any.
    virtual std::optional<std::int32_t> frontmostApplicationPID() = 0;

    // The application identifier of a running process, when it has one: the same for
    // every window and every start of the application, and the same as this program's
    // own bundle identifier (Processes) only for a copy of this program.
    virtual std::optional<std::string> bundleIdentifier(std::int32_t pid) = 0;

    // The application element of a process (a handle even when nothing answers there:
    // its reads then fail).
    virtual AXRef application(std::int32_t pid) = 0;

    // Longest wait for one answer from the element's application.
    virtual void setMessagingTimeout(const AXRef& element, double seconds) = 0;

    virtual AXValue copyAttributeValue(const AXRef& element, const std::string& attribute) = 0;

    // The same attribute of many elements, in their order. Backends whose calls are
    // round trips answer the whole list with bulk queries and pipelined calls; the
    // answers are those one-by-one reads would have given.
    virtual std::vector<AXValue> copyAttributeValues(std::span<const AXRef> elements, const std::string& attribute) {
        std::vector<AXValue> values;
        values.reserve(elements.size());
        for (const auto& element : elements) values.push_back(copyAttributeValue(element, attribute));
        return values;
    }

    // A subtree as flat records in document order (each parent before its children), within
    // the bounds. This default builds it from the attribute reads above, one batch per
    // level and per attribute; backends whose calls are round trips answer it in bulk.
    virtual std::vector<AXNodeRecord> snapshot(const AXRef& root, AXTreeBounds bounds);

    virtual bool setAttributeValue(const AXRef& element, const std::string& attribute, const AXValue& value) = 0;

    // The deepest element at a global point, asked of an application element.
    virtual AXRef copyElementAtPosition(const AXRef& application, Point at) = 0;

    virtual bool performAction(const AXRef& element, const std::string& action) = 0;
};

} // namespace vanto
