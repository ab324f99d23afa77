#include "platform/linux/AtspiWindows.h"

#include "platform/linux/LinuxWindowServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <mutex>

namespace vanto::atspi {
namespace {

thread_local unsigned long xErrors = 0;
int countXError(Display*, XErrorEvent*) {
    ++xErrors;
    return 0;
}

void prepare(Display*) {
    static std::once_flag once;
    std::call_once(once, [] {
        // Keep whatever non-fatal handler is already there; else ours, so that a window
        // closing under us is a failed call and not the end of the process.
        auto previous = XSetErrorHandler(countXError);
        if (previous) XSetErrorHandler(previous);
    });
}

Atom atom(Display* d, const char* name) {
    return XInternAtom(d, name, False);
}

std::vector<Window> windowProperty(Display* d, Window window, Atom name) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::vector<Window> windows;
    if (XGetWindowProperty(d, window, name, 0, 1 << 16, False, AnyPropertyType, &type, &format, &count, &remaining,
                           &data) == Success &&
        data && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        windows.assign(values, values + count);
    }
    if (data) XFree(data);
    return windows;
}

std::optional<std::int32_t> pidOf(Display* d, Window window) {
    auto values = windowProperty(d, window, atom(d, "_NET_WM_PID"));
    if (values.empty()) return std::nullopt;
    return static_cast<std::int32_t>(values.front());
}

std::string nameOf(Display* d, Window window) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(d, window, atom(d, "_NET_WM_NAME"), 0, 1 << 14, False, atom(d, "UTF8_STRING"), &type,
                           &format, &count, &remaining, &data) == Success &&
        data && format == 8)
        name.assign(reinterpret_cast<const char*>(data), count);
    if (data) XFree(data);
    return name;
}

} // namespace

std::optional<std::int32_t> WindowManager::activePID() {
    try {
        return display_.use([&](Display* d) -> std::optional<std::int32_t> {
            prepare(d);
            auto active = windowProperty(d, DefaultRootWindow(d), atom(d, "_NET_ACTIVE_WINDOW"));
            if (active.empty() || active.front() == 0) return std::nullopt;
            return pidOf(d, active.front());
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<XWindow> WindowManager::activeWindow() {
    try {
        return display_.use([&](Display* d) -> std::optional<Window> {
            prepare(d);
            auto active = windowProperty(d, DefaultRootWindow(d), atom(d, "_NET_ACTIVE_WINDOW"));
            if (active.empty() || active.front() == 0) return std::nullopt;
            return active.front();
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<XWindow> WindowManager::find(std::int32_t pid, const std::string& title) {
    try {
        return display_.use([&](Display* d) -> std::optional<Window> {
            prepare(d);
            std::vector<Window> ofProcess;
            for (Window window : windowProperty(d, DefaultRootWindow(d), atom(d, "_NET_CLIENT_LIST")))
                if (pidOf(d, window) == pid) {
                    if (nameOf(d, window) == title) return window;
                    ofProcess.push_back(window);
                }
            if (ofProcess.size() == 1) return ofProcess.front();
            return std::nullopt;
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<Rect> WindowManager::geometry(XWindow window) {
    try {
        return display_.use([&](Display* d) -> std::optional<Rect> {
            prepare(d);
            const auto before = xErrors;
            XWindowAttributes attributes{};
            if (!XGetWindowAttributes(d, window, &attributes)) return std::nullopt;
            int x = 0, y = 0;
            Window child = 0;
            XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
            XSync(d, False);
            if (xErrors != before) return std::nullopt;
            return Rect{double(x), double(y), double(attributes.width), double(attributes.height)};
        });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool WindowManager::activate(XWindow window) {
    return send(window, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0, 0, 0});
}

bool WindowManager::moveResize(XWindow window, std::optional<Point> at, std::optional<AXSize> size) {
    long flags = StaticGravity | (2L << 12);
    long x = 0, y = 0, width = 0, height = 0;
    if (at) {
        flags |= (1L << 8) | (1L << 9);
        x = static_cast<long>(at->x);
        y = static_cast<long>(at->y);
    }
    if (size) {
        flags |= (1L << 10) | (1L << 11);
        width = static_cast<long>(size->width);
        height = static_cast<long>(size->height);
    }
    return send(window, "_NET_MOVERESIZE_WINDOW", {flags, x, y, width, height});
}

bool WindowManager::iconify(XWindow window) {
    try {
        return display_.use([&](Display* d) {
            prepare(d);
            const bool sent = XIconifyWindow(d, window, DefaultScreen(d)) != 0;
            XSync(d, False);
            return sent;
        });
    } catch (const std::exception&) {
        return false;
    }
}

bool WindowManager::send(XWindow window, const char* message, std::array<long, 5> data) {
    try {
        return display_.use([&](Display* d) {
            prepare(d);
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = atom(d, message);
            event.xclient.format = 32;
            for (int i = 0; i < 5; ++i) event.xclient.data.l[i] = data[static_cast<std::size_t>(i)];
            const Status sent =
                XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
            XSync(d, False);
            return sent != 0;
        });
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace vanto::atspi
