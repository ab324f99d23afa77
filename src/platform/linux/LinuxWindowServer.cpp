#include "platform/linux/LinuxWindowServer.h"

#include "platform/linux/X11Properties.h"

#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace vanto {
namespace {

struct MonitorsFreer {
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
};

// The layer each EWMH window type gets, numbered like the window levels of the platform
// the window list was designed for: application windows 0, docks 20, menus and other
// pop-ups 101, the desktop far below everything. A window without a known type is an
// application window.
struct TypeLayer {
    X11Atom type;
    int layer;
};
constexpr int applicationLayer = 0;
constexpr std::array typeLayers{
    TypeLayer{X11Atom::typeNormal, applicationLayer},
    TypeLayer{X11Atom::typeDialog, applicationLayer},
    TypeLayer{X11Atom::typeUtility, applicationLayer},
    TypeLayer{X11Atom::typeToolbar, applicationLayer},
    TypeLayer{X11Atom::typeSplash, applicationLayer},
    TypeLayer{X11Atom::typeDock, 20},
    TypeLayer{X11Atom::typeDesktop, -2147483623},
    TypeLayer{X11Atom::typeMenu, 101},
    TypeLayer{X11Atom::typeDropdownMenu, 101},
    TypeLayer{X11Atom::typePopupMenu, 101},
    TypeLayer{X11Atom::typeCombo, 101},
    TypeLayer{X11Atom::typeTooltip, 101},
    TypeLayer{X11Atom::typeNotification, 101},
    TypeLayer{X11Atom::typeDnd, 101},
};

// The layer of the first type in the window's list that we know, as EWMH asks.
int layerOf(const std::vector<XAtomID>& types, const X11Atoms& atoms) {
    for (XAtomID type : types)
        for (const TypeLayer& entry : typeLayers)
            if (atoms[entry.type] == type) return entry.layer;
    return applicationLayer;
}

RectD intersection(const RectD& a, const RectD& b) {
    const double left = std::max(a.x, b.x);
    const double top = std::max(a.y, b.y);
    const double right = std::min(a.x + a.width, b.x + b.width);
    const double bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

} // namespace

LinuxWindowServer::LinuxWindowServer(X11Display& display) : display_(display) {}
LinuxWindowServer::~LinuxWindowServer() = default;

namespace {

// The process of the client that made the window, as the X server knows it from the
// client's local connection. Clients that set no _NET_WM_PID (xmessage, many plain
// Xlib programs) still have one; a client on a remote connection has none.
std::optional<std::int64_t> clientPID(Display* display, Window window) {
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XResQueryExtension(display, &eventBase, &errorBase) || !XResQueryVersion(display, &major, &minor) ||
        major < 1 || (major == 1 && minor < 2))
        return std::nullopt;
    XResClientIdSpec wanted{window, XRES_CLIENT_ID_PID_MASK};
    long count = 0;
    XResClientIdValue* values = nullptr;
    if (XResQueryClientIds(display, 1, &wanted, &count, &values) != Success) return std::nullopt;
    std::optional<std::int64_t> pid;
    for (long i = 0; i < count; ++i)
        if (XResGetClientIdType(&values[i]) == XRES_CLIENT_ID_PID) {
            const pid_t found = XResGetClientPid(&values[i]);
            if (found > 0) pid = found;
        }
    XResClientIdsDestroy(count, values);
    return pid;
}

std::optional<nlohmann::json> windowRecord(Display* display, const X11Atoms& atoms, Window window) {
    // A window may be destroyed between listing and reading it; it is then skipped.
    X11ErrorTrap trap(display);
    const auto place = x11::geometry(display, window);
    if (!place || !place->viewable) return std::nullopt;

    nlohmann::json record = nlohmann::json::object();
    record[windowkey::number] = static_cast<std::uint32_t>(window);
    record[windowkey::layer] =
        layerOf(x11::atoms(display, window, atoms[X11Atom::netWmWindowType]).value_or(std::vector<XAtomID>{}), atoms);
    record[windowkey::bounds] = {{"x", place->x}, {"y", place->y}, {"width", place->width}, {"height", place->height}};
    if (auto pid = x11::cardinals(display, window, atoms[X11Atom::netWmPid]); pid && !pid->empty())
        record[windowkey::ownerPID] = static_cast<std::int64_t>(pid->front());
    else if (auto owner = clientPID(display, window))
        record[windowkey::ownerPID] = *owner;
    if (auto owner = x11::className(display, window, atoms)) record[windowkey::ownerName] = *owner;
    if (auto title = x11::title(display, window, atoms)) record[windowkey::name] = *title;

    if (trap.failed()) return std::nullopt;
    return record;
}

// The work area of the current desktop, when the window manager publishes one.
std::optional<RectD> currentWorkArea(Display* display, Window root, const X11Atoms& atoms) {
    auto areas = x11::cardinals(display, root, atoms[X11Atom::netWorkArea]);
    if (!areas) return std::nullopt;
    auto current = x11::cardinals(display, root, atoms[X11Atom::netCurrentDesktop]);
    const std::size_t desktop = current && !current->empty() ? current->front() : 0;
    if (areas->size() < 4 * (desktop + 1)) return std::nullopt;
    const unsigned long* area = areas->data() + 4 * desktop;
    return RectD{static_cast<double>(static_cast<long>(area[0])), static_cast<double>(static_cast<long>(area[1])),
                 static_cast<double>(area[2]), static_cast<double>(area[3])};
}

std::vector<ScreenInfo> randrMonitors(Display* display, Window root) {
    std::vector<ScreenInfo> screens;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XRRQueryExtension(display, &eventBase, &errorBase) || !XRRQueryVersion(display, &major, &minor) || major < 1 ||
        (major == 1 && minor < 5))
        return screens;
    int count = 0;
    std::unique_ptr<XRRMonitorInfo, MonitorsFreer> monitors(XRRGetMonitors(display, root, True, &count));
    if (!monitors) return screens;
    for (int i = 0; i < count; ++i) {
        const XRRMonitorInfo& monitor = monitors.get()[i];
        ScreenInfo screen;
        screen.displayID =
            monitor.noutput > 0 ? static_cast<std::uint32_t>(monitor.outputs[0]) : static_cast<std::uint32_t>(i + 1);
        screen.frame = {static_cast<double>(monitor.x), static_cast<double>(monitor.y),
                        static_cast<double>(monitor.width), static_cast<double>(monitor.height)};
        screen.main = monitor.primary != 0;
        screens.push_back(screen);
    }
    return screens;
}

} // namespace

std::vector<nlohmann::json> LinuxWindowServer::onScreenWindows() {
    return display_.use([](Display* display, const X11Atoms& atoms) {
        // The stacking list runs bottom to top; windows of the window manager itself are not in it.
        const auto stacking = x11::windows(display, DefaultRootWindow(display), atoms[X11Atom::netClientListStacking])
                                  .value_or(std::vector<XWindowID>{});
        std::vector<nlohmann::json> records;
        for (auto window = stacking.rbegin(); window != stacking.rend(); ++window)
            if (auto record = windowRecord(display, atoms, *window)) records.push_back(std::move(*record));
        return records;
    });
}

std::vector<ScreenInfo> LinuxWindowServer::screens() {
    return display_.use([](Display* display, const X11Atoms& atoms) {
        const Window root = DefaultRootWindow(display);
        std::vector<ScreenInfo> screens = randrMonitors(display, root);
        if (screens.empty()) {
            const int screen = DefaultScreen(display);
            screens.push_back({1,
                               {0, 0, static_cast<double>(DisplayWidth(display, screen)),
                                static_cast<double>(DisplayHeight(display, screen))},
                               {},
                               1,
                               false});
        }
        if (std::none_of(screens.begin(), screens.end(), [](const ScreenInfo& s) { return s.main; }))
            screens.front().main = true;

        const auto workArea = currentWorkArea(display, root, atoms);
        for (ScreenInfo& screen : screens) {
            // EWMH publishes one work area for the whole root; a monitor it does not touch
            // keeps its full frame.
            const RectD visible = workArea ? intersection(screen.frame, *workArea) : RectD{};
            screen.visibleFrame = visible.width > 0 ? visible : screen.frame;
            screen.scale = 1;
        }
        return screens;
    });
}

bool LinuxWindowServer::closeWindow(std::uint32_t window) {
    return display_.use([window](Display* display, const X11Atoms& atoms) {
        // From a pager (source 2), so the window manager passes it on as a close request.
        return x11::sendToWindowManager(display, window, atoms[X11Atom::netCloseWindow], {CurrentTime, 2, 0, 0, 0});
    });
}

// ---- the pointer

PointD LinuxPointer::position() {
    return display_.use([](Display* display) {
        Window root = None;
        Window child = None;
        int rootX = 0;
        int rootY = 0;
        int windowX = 0;
        int windowY = 0;
        unsigned int buttons = 0;
        XQueryPointer(display, DefaultRootWindow(display), &root, &child, &rootX, &rootY, &windowX, &windowY, &buttons);
        return PointD{static_cast<double>(rootX), static_cast<double>(rootY)};
    });
}

} // namespace vanto
