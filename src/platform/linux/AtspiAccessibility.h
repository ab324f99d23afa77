#pragma once

#include "platform/Accessibility.h"
#include "platform/Clock.h"
#include "platform/Permissions.h"
#include "platform/Processes.h"

#include <memory>

namespace vanto {

class X11Display;

// The accessibility tree of X11 applications through AT-SPI2, spoken in the attribute
// vocabulary of the core. AT-SPI is reached over its own D-Bus bus with pipelined
// calls (AtspiBus), a snapshot starts from the application's Cache in one call
// (AtspiTree), roles and states are translated by a table (AtspiRoles), and windows are
// raised, moved and resized through the window manager (AtspiWindows). Nothing read is
// kept from one call to the next.
class AtspiAccessibility final : public Accessibility {
public:
    AtspiAccessibility(X11Display& display, Permissions& permissions, Processes& processes, Clock& clock);
    ~AtspiAccessibility() override;
    AtspiAccessibility(const AtspiAccessibility&) = delete;
    AtspiAccessibility& operator=(const AtspiAccessibility&) = delete;

    bool isProcessTrusted() override;
    std::optional<std::int32_t> frontmostApplicationPID() override;
    std::optional<std::string> bundleIdentifier(std::int32_t pid) override;
    AXRef application(std::int32_t pid) override;
    void setMessagingTimeout(const AXRef& element, double seconds) override;
    AXValue copyAttributeValue(const AXRef& element, const std::string& attribute) override;
    std::vector<AXValue> copyAttributeValues(std::span<const AXRef> elements, const std::string& attribute) override;
    std::vector<AXNodeRecord> snapshot(const AXRef& root, AXTreeBounds bounds) override;
    bool setAttributeValue(const AXRef& element, const std::string& attribute, const AXValue& value) override;
    AXRef copyElementAtPosition(const AXRef& application, Point at) override;
    bool performAction(const AXRef& element, const std::string& action) override;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

} // namespace vanto
