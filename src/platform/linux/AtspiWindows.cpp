#include "platform/linux/AtspiWindows.h"

#include "platform/linux/X11Connection.h"
#include "platform/linux/X11Properties.h"

#include <X11/Xlib.h>

#include <exception>

namespace vanto::atspi {
namespace {

std::optional<XWindow> activeOf(Display* d, const X11Atoms& atoms) {
    auto active = x11::windows(d, DefaultRootWindow(d), atoms[X11Atom::netActiveWindow]);
    if (!active || active->empty() || active->front() == 0) return std::nullopt;
    return active->front();
}

std::optional<std::int32_t> pidOf(Display* d, XWindow window, const X11Atoms& atoms) {
    auto values = x11::cardinals(d, window, atoms[X11Atom::netWmPid]);
    if (!values || values->empty()) return std::nullopt;
    return static_cast<std::int32_t>(values->front());
}

} // namespace

// Without a display there are no windows to speak of: every question has no answer.
template <class R, class F> R WindowManager::ask(R none, F&& f) {
    try {
        return display_.use(std::forward<F>(f));
    } catch (const std::exception&) {
        return none;
    }
}

std::optional<std::int32_t> WindowManager::activePID() {
    return ask(std::optional<std::int32_t>(), [&](Display* d, const X11Atoms& atoms) -> std::optional<std::int32_t> {
        auto active = activeOf(d, atoms);
        if (!active) return std::nullopt;
        return pidOf(d, *active, atoms);
    });
}

std::optional<XWindow> WindowManager::activeWindow() {
    return ask(std::optional<XWindow>(), [&](Display* d, const X11Atoms& atoms) { return activeOf(d, atoms); });
}

std::optional<XWindow> WindowManager::find(std::int32_t pid, const std::string& title) {
    return ask(std::optional<XWindow>(), [&](Display* d, const X11Atoms& atoms) -> std::optional<XWindow> {
        std::vector<XWindow> ofProcess;
        const auto clients = x11::windows(d, DefaultRootWindow(d), atoms[X11Atom::netClientList]);
        for (XWindow window : clients.value_or(std::vector<XWindow>{}))
            if (pidOf(d, window, atoms) == pid) {
                if (x11::utf8Text(d, window, atoms[X11Atom::netWmName], atoms) == title) return window;
                ofProcess.push_back(window);
            }
        if (ofProcess.size() == 1) return ofProcess.front();
        return std::nullopt;
    });
}

std::optional<std::string> WindowManager::className(std::int32_t pid) {
    return ask(std::optional<std::string>(), [&](Display* d, const X11Atoms& atoms) -> std::optional<std::string> {
        const auto clients = x11::windows(d, DefaultRootWindow(d), atoms[X11Atom::netClientList]);
        for (XWindow window : clients.value_or(std::vector<XWindow>{}))
            if (pidOf(d, window, atoms) == pid)
                if (auto name = x11::className(d, window, atoms); name && !name->empty()) return name;
        return std::nullopt;
    });
}

std::optional<Rect> WindowManager::geometry(XWindow window) {
    return ask(std::optional<Rect>(), [&](Display* d) -> std::optional<Rect> {
        auto place = x11::geometry(d, window);
        if (!place) return std::nullopt;
        return Rect{double(place->x), double(place->y), double(place->width), double(place->height)};
    });
}

bool WindowManager::activate(XWindow window) {
    return ask(false, [&](Display* d, const X11Atoms& atoms) {
        return x11::sendToWindowManager(d, window, atoms[X11Atom::netActiveWindow], {2, CurrentTime, 0, 0, 0});
    });
}

bool WindowManager::moveResize(XWindow window, std::optional<Point> at, std::optional<AXSize> size) {
    // Static gravity, from a pager (source 2), only the given fields.
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
    return ask(false, [&](Display* d, const X11Atoms& atoms) {
        return x11::sendToWindowManager(d, window, atoms[X11Atom::netMoveResizeWindow], {flags, x, y, width, height});
    });
}

bool WindowManager::iconify(XWindow window) {
    return ask(false, [&](Display* d) {
        X11ErrorTrap trap(d);
        const bool sent = XIconifyWindow(d, window, DefaultScreen(d)) != 0;
        return sent && !trap.failed();
    });
}

} // namespace vanto::atspi
