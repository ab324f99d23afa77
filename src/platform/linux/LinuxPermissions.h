#pragma once

#include "platform/Permissions.h"

namespace vanto {

class X11Display;

// Accessibility trust is the AT-SPI bus on the session bus being up and enabled;
// screen capture needs nothing but the X display.
class LinuxPermissions final : public Permissions {
public:
    explicit LinuxPermissions(X11Display& display) : display_(display) {}
    bool accessibilityTrusted(bool prompt) override;
    bool screenCapturePreflight() override;
    bool requestScreenCapture() override;

private:
    X11Display& display_;
};

} // namespace vanto
