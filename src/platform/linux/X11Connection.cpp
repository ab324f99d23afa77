#include "platform/linux/X11Connection.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

namespace vanto {

// ---- the error trap

struct X11ErrorTrap::State {
    Display* display;
    unsigned long firstSerial; // the first request the trap answers for
    std::optional<X11Error> error;
};

namespace {

// The traps that are set, on every thread. The handler runs on the thread whose Xlib
// call read the error, without the connection's lock, so this lock is never held
// around an Xlib call. Never destroyed: a connection closed by a static's destructor
// may still set a trap.
struct Traps {
    std::mutex mutex;
    std::vector<X11ErrorTrap::State*> active;
};
Traps& traps() {
    static Traps* traps = new Traps;
    return *traps;
}
std::atomic<unsigned long> untrappedErrors{0};

X11Error describedError(Display* display, const XErrorEvent& event) {
    X11Error error{event.error_code, event.request_code, event.minor_code, event.resourceid, {}};
    // Xlib's own default handler asks for the text from inside the handler too: it is
    // local and makes no request.
    char text[128] = {};
    XGetErrorText(display, event.error_code, text, sizeof text);
    error.name = text;
    return error;
}

int handleError(Display* display, XErrorEvent* event) {
    const X11Error error = describedError(display, *event);
    bool claimed = false;
    {
        std::lock_guard lock(traps().mutex);
        // Every trap of this connection set before the request hears of it: an inner
        // trap for its own requests, the outer ones because they span the inner.
        for (X11ErrorTrap::State* trap : traps().active)
            if (trap->display == display && event->serial >= trap->firstSerial) {
                if (!trap->error) trap->error = error;
                claimed = true;
            }
    }
    if (!claimed) {
        ++untrappedErrors;
        std::fprintf(stderr, "vanto: an X request failed outside any check and was ignored: %s\n",
                     error.describe().c_str());
    }
    return 0;
}

// Idempotent; taken again at every trap because a toolkit (Qt's X connection) puts
// its own handler in when it opens its display.
void installHandler() {
    XSetErrorHandler(handleError);
}

} // namespace

std::string X11Error::describe() const {
    std::string text = name.empty() ? "X error " + std::to_string(code) : name;
    text += " on request " + std::to_string(request) + "." + std::to_string(minor);
    return text;
}

X11ErrorTrap::X11ErrorTrap(_XDisplay* display)
    : display_(display), state_(std::make_unique<State>(State{display, XNextRequest(display), std::nullopt})) {
    installHandler();
    std::lock_guard lock(traps().mutex);
    traps().active.push_back(state_.get());
}

X11ErrorTrap::~X11ErrorTrap() {
    settle();
    std::lock_guard lock(traps().mutex);
    auto& active = traps().active;
    active.erase(std::find(active.begin(), active.end(), state_.get()));
}

// Replies come in request order, so once the last request made has been answered,
// every error of this trap's requests has been through the handler.
void X11ErrorTrap::settle() {
    if (XLastKnownRequestProcessed(display_) + 1 < XNextRequest(display_)) XSync(display_, False);
}

bool X11ErrorTrap::failed() {
    return error().has_value();
}

std::optional<X11Error> X11ErrorTrap::error() {
    settle();
    std::lock_guard lock(traps().mutex);
    return state_->error;
}

unsigned long x11UntrappedErrors() {
    return untrappedErrors.load();
}

// ---- atoms

namespace {

constexpr std::array<const char*, static_cast<std::size_t>(X11Atom::count)> atomNames{
    "_NET_CLIENT_LIST",
    "_NET_CLIENT_LIST_STACKING",
    "_NET_ACTIVE_WINDOW",
    "_NET_WM_NAME",
    "_NET_WM_PID",
    "_NET_WM_WINDOW_TYPE",
    "_NET_WORKAREA",
    "_NET_CURRENT_DESKTOP",
    "_NET_MOVERESIZE_WINDOW",
    "_NET_CLOSE_WINDOW",
    "UTF8_STRING",
    "_NET_WM_WINDOW_TYPE_NORMAL",
    "_NET_WM_WINDOW_TYPE_DIALOG",
    "_NET_WM_WINDOW_TYPE_UTILITY",
    "_NET_WM_WINDOW_TYPE_TOOLBAR",
    "_NET_WM_WINDOW_TYPE_SPLASH",
    "_NET_WM_WINDOW_TYPE_DOCK",
    "_NET_WM_WINDOW_TYPE_DESKTOP",
    "_NET_WM_WINDOW_TYPE_MENU",
    "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
    "_NET_WM_WINDOW_TYPE_POPUP_MENU",
    "_NET_WM_WINDOW_TYPE_COMBO",
    "_NET_WM_WINDOW_TYPE_TOOLTIP",
    "_NET_WM_WINDOW_TYPE_NOTIFICATION",
    "_NET_WM_WINDOW_TYPE_DND",
};

} // namespace

X11Atoms::X11Atoms(_XDisplay* display) {
    // Xlib takes the names as char** but does not write to them.
    std::vector<char*> names;
    for (const char* name : atomNames) names.push_back(const_cast<char*>(name));
    XInternAtoms(display, names.data(), static_cast<int>(names.size()), False, atoms_.data());
}

const char* X11Atoms::nameOf(X11Atom name) {
    return name < X11Atom::count ? atomNames[static_cast<std::size_t>(name)] : "";
}

// ---- connections

X11Connection::X11Connection() {
    installHandler();
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) throw std::runtime_error("cannot open the X display (DISPLAY is not set)");
    display_ = XOpenDisplay(name);
    if (!display_) throw std::runtime_error(std::string("cannot open the X display ") + name);
}

X11Connection::~X11Connection() {
    XCloseDisplay(display_);
}

XWindowID X11Connection::root() const {
    return DefaultRootWindow(display_);
}

const X11Atoms& X11Connection::atoms() {
    if (!atoms_) atoms_ = std::make_unique<X11Atoms>(display_);
    return *atoms_;
}

X11Display::X11Display() = default;
X11Display::~X11Display() = default;

X11Connection& X11Display::connection() {
    if (!connection_) connection_ = std::make_unique<X11Connection>();
    return *connection_;
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

} // namespace vanto
