#pragma once

#include "platform/Pointer.h"
#include "platform/WindowServer.h"
#include "platform/linux/X11Connection.h"

namespace vanto {

// Windows from the window manager's EWMH client list, screens from XRandR.
class LinuxWindowServer final : public WindowServer {
public:
    explicit LinuxWindowServer(X11Display& display);
    ~LinuxWindowServer() override;

    std::vector<nlohmann::json> onScreenWindows() override;
    std::vector<ScreenInfo> screens() override;
    bool closeWindow(std::uint32_t window) override;

private:
    X11Display& display_;
};

class LinuxPointer final : public Pointer {
public:
    explicit LinuxPointer(X11Display& display) : display_(display) {}
    PointD position() override;

private:
    X11Display& display_;
};

} // namespace vanto
