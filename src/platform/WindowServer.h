#pragma once

#include "platform/Geometry.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <vector>

namespace vanto {

// Keys of a window record, as the window server reports them. A record is a
// dictionary because the server may leave any key out or give it an odd type, and
// the window list must cope with both.
namespace windowkey {
inline constexpr const char* number = "number";       // unsigned window number
inline constexpr const char* layer = "layer";         // 0 for ordinary application windows
inline constexpr const char* bounds = "bounds";       // {x, y, width, height}, global points
inline constexpr const char* ownerName = "ownerName"; // the owning application's name
inline constexpr const char* ownerPID = "ownerPID";   // the owning process
inline constexpr const char* name = "name";           // the window title
} // namespace windowkey

struct ScreenInfo {
    std::uint32_t displayID = 0;
    RectD frame;        // global points
    RectD visibleFrame; // the frame less docks and panels
    double scale = 1;   // pixels per point
    bool main = false;
};

class WindowServer {
public:
    virtual ~WindowServer() = default;

    // The on-screen windows, front to back. Desktop elements and docks may be listed;
    // their layer tells them apart from ordinary application windows.
    virtual std::vector<nlohmann::json> onScreenWindows() = 0;

    virtual std::vector<ScreenInfo> screens() = 0;

    // Asks the window's application to close it, as its close button would; the
    // application may still ask the person first. False when the request could not be sent.
    virtual bool closeWindow(std::uint32_t window) = 0;
};

} // namespace vanto
