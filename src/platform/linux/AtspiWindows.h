#pragma once

#include "platform/Accessibility.h"
#include "platform/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vanto {
class X11Display;
}

namespace vanto::atspi {

using XWindow = unsigned long; // an X11 Window, without X11's headers (XWindowID)

// Top-level windows as the window manager sees them (EWMH): AT-SPI can neither raise,
// move nor resize a window, and a toolkit's idea of where its frame is can be off by the
// decoration. Every call fails quietly when the window is gone (the shared display's
// error trap reports it) or there is no display.
class WindowManager {
public:
    explicit WindowManager(X11Display& display) : display_(display) {}

    std::optional<std::int32_t> activePID();
    std::optional<XWindow> activeWindow();
    // The top-level window of a process with the title, or its only window.
    std::optional<XWindow> find(std::int32_t pid, const std::string& title);
    // The class half of WM_CLASS of the process's first listed window that has one.
    std::optional<std::string> className(std::int32_t pid);
    // The client area in root coordinates.
    std::optional<Rect> geometry(XWindow window);
    bool activate(XWindow window);
    // Places the client area exactly: static gravity, only the given fields.
    bool moveResize(XWindow window, std::optional<Point> at, std::optional<AXSize> size);
    bool iconify(XWindow window);

private:
    template <class R, class F> R ask(R none, F&& f);

    X11Display& display_;
};

} // namespace vanto::atspi
