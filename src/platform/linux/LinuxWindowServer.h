#pragma once

#include "platform/Pointer.h"
#include "platform/WindowServer.h"

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

// Xlib's connection type, declared here so that users of this header do not take in
// Xlib's macros (None, Bool, Status…).
struct _XDisplay;

namespace vanto {

struct EWMHAtoms;

// The X connection shared by the window server, the pointer and the permission check.
// It is opened on first use from $DISPLAY, so the program starts and answers without
// a display; every use holds one lock because Xlib calls on a connection must not
// interleave.
class X11Display {
public:
    X11Display();
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    // Runs f(connection) under the lock. Throws std::runtime_error
    // ("cannot open the X display <name>") when no display can be opened.
    template <class F> decltype(auto) use(F&& f) {
        std::lock_guard lock(mutex_);
        return std::forward<F>(f)(connection());
    }

    // Whether a display can be opened (it stays open for later use).
    bool available();

private:
    struct Closer {
        void operator()(_XDisplay* display) const;
    };

    _XDisplay* connection(); // with the lock held
    std::mutex mutex_;
    std::unique_ptr<_XDisplay, Closer> display_;
};

// Windows from the window manager's EWMH client list, screens from XRandR.
class LinuxWindowServer final : public WindowServer {
public:
    explicit LinuxWindowServer(X11Display& display);
    ~LinuxWindowServer() override;

    std::vector<nlohmann::json> onScreenWindows() override;
    std::vector<ScreenInfo> screens() override;

private:
    const EWMHAtoms& atoms(_XDisplay* display); // with the display lock held

    X11Display& display_;
    std::unique_ptr<EWMHAtoms> atoms_;
};

class LinuxPointer final : public Pointer {
public:
    explicit LinuxPointer(X11Display& display) : display_(display) {}
    PointD position() override;

private:
    X11Display& display_;
};

} // namespace vanto
