#include "platform/linux/LinuxWindowServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace vanto {
namespace {

// Xlib's default error handler ends the process, yet a window may be destroyed between
// listing and reading it, and that window must only be skipped. Errors are counted on
// the thread whose Xlib call received them: the thread holding the connection's lock.
thread_local unsigned long xErrorCount = 0;

int countXError(Display*, XErrorEvent*) {
    ++xErrorCount;
    return 0;
}

void installErrorHandler() {
    static std::once_flag once;
    std::call_once(once, [] { XSetErrorHandler(countXError); });
}

// Tells whether any request made since it was created failed. Every operation on the
// shared connection ends with replies or a sync, so no older error is still in flight.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display) : display_(display), start_(xErrorCount) {}
    bool failed() {
        XSync(display_, False);
        return xErrorCount != start_;
    }

private:
    Display* display_;
    unsigned long start_;
};

struct XFreer {
    void operator()(void* memory) const {
        if (memory) XFree(memory);
    }
};

struct MonitorsFreer {
    void operator()(XRRMonitorInfo* monitors) const { XRRFreeMonitors(monitors); }
};

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    std::unique_ptr<unsigned char, XFreer> data;
};

std::optional<Property> readProperty(Display* display, Window window, Atom name) {
    Property property;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    // 1 MiB of property data is far beyond any list or title we read.
    const long maxLongs = 1 << 18;
    if (XGetWindowProperty(display, window, name, 0, maxLongs, False, AnyPropertyType, &property.type, &property.format,
                           &property.count, &remaining, &data) != Success)
        return std::nullopt;
    property.data.reset(data);
    if (property.type == None) return std::nullopt;
    return property;
}

// A list of 32-bit values (CARDINAL, WINDOW, ATOM); Xlib hands format 32 out as longs.
std::optional<std::vector<unsigned long>> readLongs(Display* display, Window window, Atom name, Atom type) {
    auto property = readProperty(display, window, name);
    if (!property || property->type != type || property->format != 32) return std::nullopt;
    const auto* values = reinterpret_cast<const unsigned long*>(property->data.get());
    return std::vector<unsigned long>(values, values + property->count);
}

std::string latin1ToUTF8(const unsigned char* text, unsigned long length) {
    std::string utf8;
    utf8.reserve(length);
    for (unsigned long i = 0; i < length; ++i) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

// Titles from other programs may carry broken UTF-8; each bad byte becomes U+FFFD so
// that the record is always valid text.
std::string validUTF8(const char* text, std::size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::string result;
    result.reserve(length);
    std::size_t i = 0;
    while (i < length) {
        const unsigned char lead = bytes[i];
        std::size_t size = 0;
        char32_t code = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            size = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            size = 2;
            code = lead & 0x1F;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            size = 3;
            code = lead & 0x0F;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            size = 4;
            code = lead & 0x07;
            least = 0x10000;
        }
        bool valid = size > 0 && i + size <= length;
        for (std::size_t k = 1; valid && k < size; ++k) {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        valid = valid && code >= least && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (valid) {
            result.append(text + i, size);
            i += size;
        } else {
            result += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return result;
}

// The atoms we read, in the order XInternAtoms interns them; window types follow.
enum AtomIndex : std::size_t {
    clientListStackingAtom,
    wmWindowTypeAtom,
    wmPIDAtom,
    wmNameAtom,
    utf8StringAtom,
    workAreaAtom,
    currentDesktopAtom,
    firstWindowType,
};

// The layer each EWMH window type gets, numbered like the window levels of the platform
// the window list was designed for: application windows 0, docks 20, menus and other
// pop-ups 101, the desktop far below everything. A window without a known type is an
// application window.
struct TypeLayer {
    const char* type;
    int layer;
};
constexpr int applicationLayer = 0;
constexpr std::array typeLayers{
    TypeLayer{"_NET_WM_WINDOW_TYPE_NORMAL", applicationLayer},
    TypeLayer{"_NET_WM_WINDOW_TYPE_DIALOG", applicationLayer},
    TypeLayer{"_NET_WM_WINDOW_TYPE_UTILITY", applicationLayer},
    TypeLayer{"_NET_WM_WINDOW_TYPE_TOOLBAR", applicationLayer},
    TypeLayer{"_NET_WM_WINDOW_TYPE_SPLASH", applicationLayer},
    TypeLayer{"_NET_WM_WINDOW_TYPE_DOCK", 20},
    TypeLayer{"_NET_WM_WINDOW_TYPE_DESKTOP", -2147483623},
    TypeLayer{"_NET_WM_WINDOW_TYPE_MENU", 101},
    TypeLayer{"_NET_WM_WINDOW_TYPE_DROPDOWN_MENU", 101},
    TypeLayer{"_NET_WM_WINDOW_TYPE_POPUP_MENU", 101},
    TypeLayer{"_NET_WM_WINDOW_TYPE_COMBO", 101},
    TypeLayer{"_NET_WM_WINDOW_TYPE_TOOLTIP", 101},
    TypeLayer{"_NET_WM_WINDOW_TYPE_NOTIFICATION", 101},
    TypeLayer{"_NET_WM_WINDOW_TYPE_DND", 101},
};

constexpr std::array<const char*, firstWindowType> propertyNames{
    "_NET_CLIENT_LIST_STACKING", "_NET_WM_WINDOW_TYPE", "_NET_WM_PID", "_NET_WM_NAME", "UTF8_STRING", "_NET_WORKAREA",
    "_NET_CURRENT_DESKTOP",
};

std::optional<std::string> utf8Property(Display* display, Window window, Atom name, Atom utf8String) {
    auto property = readProperty(display, window, name);
    if (!property || property->type != utf8String || property->format != 8) return std::nullopt;
    return validUTF8(reinterpret_cast<const char*>(property->data.get()), property->count);
}

// WM_NAME comes as Latin-1 (STRING), UTF8_STRING or COMPOUND_TEXT.
std::optional<std::string> legacyName(Display* display, Window window, Atom utf8String) {
    auto property = readProperty(display, window, XA_WM_NAME);
    if (!property || property->format != 8) return std::nullopt;
    const unsigned char* bytes = property->data.get();
    if (property->type == XA_STRING) return latin1ToUTF8(bytes, property->count);
    if (property->type == utf8String) return validUTF8(reinterpret_cast<const char*>(bytes), property->count);
    XTextProperty text{property->data.get(), property->type, property->format, property->count};
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display, &text, &list, &count) < Success || !list) return std::nullopt;
    std::string joined;
    for (int i = 0; i < count; ++i) joined += list[i];
    XFreeStringList(list);
    return validUTF8(joined.data(), joined.size());
}

std::optional<std::string> ownerName(Display* display, Window window) {
    XClassHint hint{};
    if (!XGetClassHint(display, window, &hint)) return std::nullopt;
    std::unique_ptr<char, XFreer> instance(hint.res_name);
    std::unique_ptr<char, XFreer> className(hint.res_class);
    if (!className) return std::nullopt;
    // WM_CLASS is a STRING property: Latin-1.
    const std::string raw(className.get());
    return latin1ToUTF8(reinterpret_cast<const unsigned char*>(raw.data()), raw.size());
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

// ---- the shared connection

void X11Display::Closer::operator()(_XDisplay* display) const {
    XCloseDisplay(display);
}

X11Display::X11Display() = default;
X11Display::~X11Display() = default;

_XDisplay* X11Display::connection() {
    if (!display_) {
        installErrorHandler();
        const char* name = std::getenv("DISPLAY");
        if (!name || !*name) throw std::runtime_error("cannot open the X display (DISPLAY is not set)");
        display_.reset(XOpenDisplay(name));
        if (!display_) throw std::runtime_error(std::string("cannot open the X display ") + name);
    }
    return display_.get();
}

bool X11Display::available() {
    std::lock_guard lock(mutex_);
    try {
        connection();
        return true;
    } catch (const std::runtime_error&) {
        return false;
    }
}

// ---- windows and screens

struct EWMHAtoms {
    std::array<Atom, firstWindowType + typeLayers.size()> atoms{};
    Atom operator[](std::size_t index) const { return atoms[index]; }

    // The layer of the first type in the window's list that we know, as EWMH asks.
    int layerOf(const std::vector<unsigned long>& types) const {
        for (unsigned long type : types)
            for (std::size_t i = 0; i < typeLayers.size(); ++i)
                if (atoms[firstWindowType + i] == type) return typeLayers[i].layer;
        return applicationLayer;
    }
};

LinuxWindowServer::LinuxWindowServer(X11Display& display) : display_(display) {}
LinuxWindowServer::~LinuxWindowServer() = default;

const EWMHAtoms& LinuxWindowServer::atoms(_XDisplay* display) {
    if (!atoms_) {
        // Xlib takes the names as char** but does not write to them.
        std::vector<char*> names;
        for (const char* name : propertyNames) names.push_back(const_cast<char*>(name));
        for (const TypeLayer& entry : typeLayers) names.push_back(const_cast<char*>(entry.type));
        auto fresh = std::make_unique<EWMHAtoms>();
        XInternAtoms(display, names.data(), static_cast<int>(names.size()), False, fresh->atoms.data());
        atoms_ = std::move(fresh);
    }
    return *atoms_;
}

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

std::optional<nlohmann::json> windowRecord(Display* display, const EWMHAtoms& names, Window root, Window window) {
    ErrorTrap trap(display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return std::nullopt;
    int x = 0;
    int y = 0;
    Window child = None;
    if (!XTranslateCoordinates(display, window, root, 0, 0, &x, &y, &child)) return std::nullopt;

    nlohmann::json record = nlohmann::json::object();
    record[windowkey::number] = static_cast<std::uint32_t>(window);
    record[windowkey::layer] = names.layerOf(
        readLongs(display, window, names[wmWindowTypeAtom], XA_ATOM).value_or(std::vector<unsigned long>{}));
    record[windowkey::bounds] = {{"x", x}, {"y", y}, {"width", attributes.width}, {"height", attributes.height}};
    if (auto pid = readLongs(display, window, names[wmPIDAtom], XA_CARDINAL); pid && !pid->empty())
        record[windowkey::ownerPID] = static_cast<std::int64_t>(pid->front());
    else if (auto owner = clientPID(display, window))
        record[windowkey::ownerPID] = *owner;
    if (auto owner = ownerName(display, window)) record[windowkey::ownerName] = *owner;
    auto title = utf8Property(display, window, names[wmNameAtom], names[utf8StringAtom]);
    if (!title) title = legacyName(display, window, names[utf8StringAtom]);
    if (title) record[windowkey::name] = *title;

    if (trap.failed()) return std::nullopt;
    return record;
}

// The work area of the current desktop, when the window manager publishes one.
std::optional<RectD> currentWorkArea(Display* display, Window root, Atom workAreaAtom, Atom currentDesktopAtom) {
    auto areas = readLongs(display, root, workAreaAtom, XA_CARDINAL);
    if (!areas) return std::nullopt;
    auto current = readLongs(display, root, currentDesktopAtom, XA_CARDINAL);
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
    return display_.use([this](Display* display) {
        const EWMHAtoms& names = atoms(display);
        const Window root = DefaultRootWindow(display);
        // The stacking list runs bottom to top; windows of the window manager itself are not in it.
        const auto stacking =
            readLongs(display, root, names[clientListStackingAtom], XA_WINDOW).value_or(std::vector<unsigned long>{});
        std::vector<nlohmann::json> records;
        for (auto window = stacking.rbegin(); window != stacking.rend(); ++window)
            if (auto record = windowRecord(display, names, root, *window)) records.push_back(std::move(*record));
        return records;
    });
}

std::vector<ScreenInfo> LinuxWindowServer::screens() {
    return display_.use([this](Display* display) {
        const EWMHAtoms& names = atoms(display);
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

        const auto workArea = currentWorkArea(display, root, names[workAreaAtom], names[currentDesktopAtom]);
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
