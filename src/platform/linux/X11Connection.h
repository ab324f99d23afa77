#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

// Xlib's connection type, declared here so that users of this header do not take in
// Xlib's macros (None, Bool, Status…).
struct _XDisplay;

namespace vanto {

// Xlib's resource ids and atoms, without Xlib's headers.
using XWindowID = unsigned long;
using XAtomID = unsigned long;

// The atoms the backend speaks, interned together in one round trip per connection.
enum class X11Atom : std::size_t {
    netClientList,
    netClientListStacking,
    netActiveWindow,
    netWmName,
    netWmPid,
    netWmWindowType,
    netWorkArea,
    netCurrentDesktop,
    netMoveResizeWindow,
    netCloseWindow,
    utf8String,
    // The EWMH window types.
    typeNormal,
    typeDialog,
    typeUtility,
    typeToolbar,
    typeSplash,
    typeDock,
    typeDesktop,
    typeMenu,
    typeDropdownMenu,
    typePopupMenu,
    typeCombo,
    typeTooltip,
    typeNotification,
    typeDnd,
    count,
};

class X11Atoms {
public:
    explicit X11Atoms(_XDisplay* display);
    XAtomID operator[](X11Atom name) const { return atoms_[static_cast<std::size_t>(name)]; }
    // The name an atom was interned from (for messages), or "" for one not ours.
    static const char* nameOf(X11Atom name);

private:
    std::array<XAtomID, static_cast<std::size_t>(X11Atom::count)> atoms_{};
};

// What the server said of a request that failed.
struct X11Error {
    int code = 0;    // BadWindow, BadMatch…
    int request = 0; // the major opcode
    int minor = 0;   // the extension's minor opcode
    unsigned long resource = 0;
    std::string name;             // Xlib's text for the code
    std::string describe() const; // "BadWindow (invalid Window parameter) on request 20.0"
};

// Catches the errors of the requests made on one connection while it lives, as a
// failed result rather than the end of the process (Xlib's own handler exits).
//
// One handler serves the whole process: it is (re)installed whenever a trap is set,
// so a toolkit that put its own in the meantime does not blind us. It gives each error
// to the traps of the connection it came from, and only to those set before the failed
// request was made, so nested traps and traps on other threads' connections each see
// their own errors. An error that no trap claims is logged and otherwise ignored.
//
// A trap syncs with the server before it lets go (when requests are outstanding), so
// no error of its requests can arrive after it. Use it on the thread that holds the
// connection.
class X11ErrorTrap {
public:
    explicit X11ErrorTrap(_XDisplay* display);
    ~X11ErrorTrap();
    X11ErrorTrap(const X11ErrorTrap&) = delete;
    X11ErrorTrap& operator=(const X11ErrorTrap&) = delete;

    // Whether any request made since the trap was set failed; syncs first when needed.
    bool failed();
    // The first such error.
    std::optional<X11Error> error();

    struct State; // the handler's view of a trap

private:
    void settle();

    _XDisplay* display_;
    std::unique_ptr<State> state_;
};

// Errors no trap claimed since the process started (each was logged).
unsigned long x11UntrappedErrors();

// One connection to the X server that $DISPLAY names; the process's error handler is
// in place before it opens.
class X11Connection {
public:
    // Throws std::runtime_error ("cannot open the X display <name>").
    X11Connection();
    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    _XDisplay* get() const { return display_; }
    XWindowID root() const;
    const X11Atoms& atoms(); // interned on first use

private:
    _XDisplay* display_ = nullptr;
    std::unique_ptr<X11Atoms> atoms_;
};

// The connection the window server, the pointer, the input sink, the permission check
// and the accessibility backend share. It opens on first use, so the program starts
// and answers without a display; every use holds one lock because Xlib calls on a
// connection must not interleave. The grabber keeps connections of its own (see
// X11Grabber.h): grabbing at 30 frames a second must never wait for this lock.
class X11Display {
public:
    X11Display();
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    // Runs f(display) or f(display, atoms) under the lock. Throws std::runtime_error
    // ("cannot open the X display <name>") when no display can be opened.
    template <class F> decltype(auto) use(F&& f) {
        std::lock_guard lock(mutex_);
        X11Connection& open = connection();
        if constexpr (std::is_invocable_v<F, _XDisplay*, const X11Atoms&>)
            return std::forward<F>(f)(open.get(), open.atoms());
        else
            return std::forward<F>(f)(open.get());
    }

    // Whether a display can be opened (it stays open for later use).
    bool available();

private:
    X11Connection& connection(); // with the lock held
    std::mutex mutex_;
    std::unique_ptr<X11Connection> connection_;
};

} // namespace vanto
