#pragma once

#include "platform/Geometry.h"

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
inline constexpr const char* title = "AXTitle";
inline constexpr const char* description = "AXDescription";
inline constexpr const char* value = "AXValue";
inline constexpr const char* help = "AXHelp";
inline constexpr const char* placeholderValue = "AXPlaceholderValue";
inline constexpr const char* identifier = "AXIdentifier";
inline constexpr const char* enabled = "AXEnabled";
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
inline constexpr const char* enhancedUserInterface = "AXEnhancedUserInterface";
inline constexpr const char* manualAccessibility = "AXManualAccessibility";
inline constexpr const char* raiseAction = "AXRaise";
inline constexpr const char* pressAction = "AXPress";
} // namespace ax

// The accessibility API of the desktop, in the vocabulary the core is written in.
// Every call may fail; a failed read is an empty AXValue, a failed write or action false.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether this process may read other applications' interfaces.
    virtual bool isProcessTrusted() = 0;

    // The process of the application in front, if any.
    virtual std::optional<std::int32_t> frontmostApplicationPID() = 0;

    // The application identifier of a running process, when it has one.
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

    virtual bool setAttributeValue(const AXRef& element, const std::string& attribute, const AXValue& value) = 0;

    // The deepest element at a global point, asked of an application element.
    virtual AXRef copyElementAtPosition(const AXRef& application, Point at) = 0;

    virtual bool performAction(const AXRef& element, const std::string& action) = 0;
};

} // namespace vanto
