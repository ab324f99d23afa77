#include "platform/linux/LinuxEventSink.h"

#include "platform/linux/LinuxKeys.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/X11Properties.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <thread>

namespace vanto {
namespace {

// Clients translate a key when they read its event, against the keyboard map as the
// server has it at that moment (GTK and Chromium fetch the map again after each
// change). A keycode lent to a character must therefore keep it until every client
// has read the key: given back 5 ms after the release, GTK and Chromium lost
// characters as soon as the machine was busy. So lent keycodes linger, a new
// character takes another free keycode, and only keycodes idle for a while go back.
constexpr auto lendingLinger = std::chrono::milliseconds(500);
// A keycode lent a moment ago is pressed only after this: clients read the new
// keymap in their own time. On an idle desktop 0 ms garbled characters and 1 ms and
// 5 ms were exact; with the machine busy (sanitizer builds, several browsers) Chromium
// still lost one in 5 ms. 30 ms is small beside the pause between typed characters.
constexpr auto remapSettle = std::chrono::milliseconds(30);
// openbox activates a window in well under 200 ms.
constexpr auto activationLimit = std::chrono::milliseconds(1000);
constexpr auto activationPoll = std::chrono::milliseconds(10);

struct XFreer {
    void operator()(void* memory) const {
        if (memory) XFree(memory);
    }
};

// The keyboard map as the server has it now. Xlib's own copy is refreshed only when
// somebody reads MappingNotify events, which nobody does on the shared connection.
class KeyboardMap {
public:
    explicit KeyboardMap(Display* display) {
        XDisplayKeycodes(display, &min_, &max_);
        int per = 0;
        std::unique_ptr<KeySym, XFreer> raw(
            XGetKeyboardMapping(display, static_cast<KeyCode>(min_), max_ - min_ + 1, &per));
        if (!raw || per <= 0) return;
        per_ = per;
        syms_.assign(raw.get(), raw.get() + static_cast<std::size_t>((max_ - min_ + 1) * per));
    }

    int perKeycode() const { return per_; }

    std::vector<KeySym> row(unsigned keycode) const {
        const auto first = syms_.begin() + static_cast<std::ptrdiff_t>((keycode - min_) * per_);
        return {first, first + per_};
    }

    // A key that gives keysym at level 0 (plain) or 1 (with shift) of the first group.
    std::optional<unsigned> find(KeySym keysym, int level) const {
        if (level >= per_) return std::nullopt;
        for (int keycode = min_; keycode <= max_; ++keycode)
            if (at(keycode, level) == keysym) return static_cast<unsigned>(keycode);
        return std::nullopt;
    }

    // The highest keycode without any keysym.
    std::optional<unsigned> empty() const {
        for (int keycode = max_; keycode >= min_; --keycode) {
            bool none = per_ > 0;
            for (int level = 0; level < per_ && none; ++level) none = at(keycode, level) == NoSymbol;
            if (none) return static_cast<unsigned>(keycode);
        }
        return std::nullopt;
    }

    std::optional<unsigned> highest() const {
        if (per_ == 0) return std::nullopt;
        return static_cast<unsigned>(max_);
    }

private:
    KeySym at(int keycode, int level) const { return syms_[static_cast<std::size_t>((keycode - min_) * per_ + level)]; }

    int min_ = 8;
    int max_ = 8;
    int per_ = 0;
    std::vector<KeySym> syms_;
};

void bind(Display* display, unsigned keycode, KeySym keysym) {
    // The same keysym on both levels, so that a held shift cannot change what comes out.
    std::array<KeySym, 2> syms{keysym, keysym};
    XChangeKeyboardMapping(display, static_cast<int>(keycode), static_cast<int>(syms.size()), syms.data(), 1);
}

void restore(Display* display, unsigned keycode, std::vector<KeySym> previous) {
    if (previous.empty()) previous.push_back(NoSymbol);
    XChangeKeyboardMapping(display, static_cast<int>(keycode), static_cast<int>(previous.size()), previous.data(), 1);
}

void fakeKey(Display* display, unsigned keycode, bool down) {
    XTestFakeKeyEvent(display, keycode, down ? True : False, CurrentTime);
}

// Asked once per sink: the extension does not come and go on a live display.
void requireXTest(Display* display, bool& present) {
    if (present) return;
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor))
        throw std::runtime_error("the X display has no XTEST extension, which synthetic input needs");
    present = true;
}

// The modifier keys a flag mask holds down, in pressing order, with command as
// Control (see LinuxKeys.cpp).
std::vector<KeySym> modifierKeysyms(std::uint64_t flags) {
    std::vector<KeySym> keysyms;
    auto add = [&](KeySym keysym) {
        if (std::find(keysyms.begin(), keysyms.end(), keysym) == keysyms.end()) keysyms.push_back(keysym);
    };
    if (flags & modifier::command) add(XK_Control_L);
    if (flags & modifier::option) add(XK_Alt_L);
    if (flags & modifier::shift) add(XK_Shift_L);
    if (flags & modifier::control) add(XK_Control_L);
    return keysyms;
}

// The flag each modifier key's virtual code stands for.
std::optional<std::uint64_t> flagOfModifierKey(std::uint16_t virtualKey) {
    switch (virtualKey) {
    case 55:
    case 54:
        return modifier::command;
    case 58:
    case 61:
        return modifier::option;
    case 56:
    case 60:
        return modifier::shift;
    case 59:
    case 62:
        return modifier::control;
    default:
        return std::nullopt;
    }
}

void wheelClicks(Display* display, std::int64_t clicks, unsigned towardsStart, unsigned towardsEnd) {
    const unsigned button = clicks > 0 ? towardsStart : towardsEnd;
    for (std::int64_t i = 0; i < std::abs(clicks); ++i) {
        XTestFakeButtonEvent(display, button, True, CurrentTime);
        XTestFakeButtonEvent(display, button, False, CurrentTime);
    }
}

// The frontmost top-level window of the process, from the window manager's list.
std::optional<Window> windowOfProcess(Display* display, const X11Atoms& atoms, std::int32_t pid) {
    const auto stacking = x11::windows(display, DefaultRootWindow(display), atoms[X11Atom::netClientListStacking]);
    if (!stacking) return std::nullopt;
    for (auto window = stacking->rbegin(); window != stacking->rend(); ++window) {
        const auto owner = x11::cardinals(display, *window, atoms[X11Atom::netWmPid]);
        if (owner && !owner->empty() && static_cast<std::int64_t>(owner->front()) == pid) return *window;
    }
    return std::nullopt;
}

std::optional<Window> activeWindow(Display* display, const X11Atoms& atoms) {
    const auto active = x11::windows(display, DefaultRootWindow(display), atoms[X11Atom::netActiveWindow]);
    if (!active || active->empty()) return std::nullopt;
    return active->front();
}

} // namespace

struct LinuxEventSink::Held {
    std::uint16_t virtualKey = 0;
    std::optional<std::string> text;
    std::vector<unsigned> pressed; // keycodes, in the order they went down
};

// A keycode lent to a character: what it held before, when a key-up last let go of
// it, and how many of its presses are still down.
struct LinuxEventSink::Loan {
    unsigned keycode = 0;
    std::vector<KeySym> previous;
    std::chrono::steady_clock::time_point lastUsed;
    int down = 0;
};

LinuxEventSink::LinuxEventSink(X11Display& display)
    : display_(display), returner_([this](std::stop_token stop) { returnIdleLoans(stop); }) {}

LinuxEventSink::~LinuxEventSink() {
    returner_.request_stop();
    returner_.join();
    // The program ends: every lent keycode goes back now.
    std::lock_guard guard(mutex_);
    if (loans_.empty()) return;
    try {
        display_.use([&](Display* display) {
            for (Loan& loan : loans_) restore(display, loan.keycode, std::move(loan.previous));
            XSync(display, False);
        });
    } catch (const std::exception&) {
        // The display is gone, and its keyboard map with it.
    }
}

void LinuxEventSink::returnIdleLoans(std::stop_token stop) {
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        const auto now = std::chrono::steady_clock::now();
        auto next = std::chrono::steady_clock::time_point::max();
        std::vector<Loan> idle;
        for (auto loan = loans_.begin(); loan != loans_.end();) {
            if (loan->down == 0 && loan->lastUsed + lendingLinger <= now) {
                idle.push_back(std::move(*loan));
                loan = loans_.erase(loan);
                continue;
            }
            if (loan->down == 0) next = std::min(next, loan->lastUsed + lendingLinger);
            ++loan;
        }
        if (!idle.empty()) {
            try {
                display_.use([&](Display* display) {
                    for (Loan& loan : idle) restore(display, loan.keycode, std::move(loan.previous));
                    XSync(display, False);
                });
            } catch (const std::exception&) {
                // The display is gone, and its keyboard map with it.
            }
            continue;
        }
        const std::uint64_t seen = loanChanges_;
        const auto changed = [&] { return loanChanges_ != seen; };
        if (next == std::chrono::steady_clock::time_point::max())
            loansChanged_.wait(lock, stop, changed);
        else
            loansChanged_.wait_until(lock, stop, next, changed);
    }
}

std::optional<unsigned> LinuxEventSink::lend(_XDisplay* display, unsigned long keysym) {
    const KeyboardMap map(display);
    std::optional<std::size_t> index;
    if (auto free = map.empty()) {
        loans_.push_back({*free, map.row(*free), {}, 0});
        index = loans_.size() - 1;
    } else {
        // Every spare keycode is lent: the one idle longest is lent again, once clients
        // have surely read its last key.
        for (std::size_t i = 0; i < loans_.size(); ++i)
            if (loans_[i].down == 0 && (!index || loans_[i].lastUsed < loans_[*index].lastUsed)) index = i;
        if (index) {
            const auto ready = loans_[*index].lastUsed + remapSettle;
            if (std::chrono::steady_clock::now() < ready) std::this_thread::sleep_until(ready);
        } else if (loans_.empty() && map.highest()) {
            // A keyboard map without a single empty keycode: borrow the last one.
            loans_.push_back({*map.highest(), map.row(*map.highest()), {}, 0});
            index = 0;
        }
    }
    if (!index) return std::nullopt;
    bind(display, loans_[*index].keycode, keysym);
    XSync(display, False);
    return loans_[*index].keycode;
}

void LinuxEventSink::postMouse(MouseEventType type, Point at, int /*clickState*/) {
    // X has no click-state field: clients count clicks from the timing of presses.
    const int x = static_cast<int>(std::lround(at.x));
    const int y = static_cast<int>(std::lround(at.y));
    std::lock_guard guard(mutex_);
    display_.use([&](Display* display) {
        requireXTest(display, xtestPresent_);
        // A button event happens where the pointer is, so it is taken to the event's point first.
        XTestFakeMotionEvent(display, -1, x, y, CurrentTime);
        switch (type) {
        case MouseEventType::moved:
            break;
        case MouseEventType::leftDown:
        case MouseEventType::leftUp:
            XTestFakeButtonEvent(display, Button1, type == MouseEventType::leftDown, CurrentTime);
            break;
        case MouseEventType::rightDown:
        case MouseEventType::rightUp:
            XTestFakeButtonEvent(display, Button3, type == MouseEventType::rightDown, CurrentTime);
            break;
        }
        XFlush(display);
    });
}

void LinuxEventSink::postKey(std::uint16_t virtualKey, bool down, std::uint64_t flags,
                             const std::optional<std::string>& text) {
    std::lock_guard guard(mutex_);
    if (down)
        keyDown(virtualKey, flags, text);
    else
        keyUp(virtualKey, text);
}

// With text the text decides what is typed, as the event's character string does
// where the design comes from; the key code only counts without it.
void LinuxEventSink::keyDown(std::uint16_t virtualKey, std::uint64_t flags, const std::optional<std::string>& text) {
    std::vector<KeySym> keysyms;
    if (text)
        keysyms = linuxkeys::keysymsForText(*text);
    else if (auto keysym = linuxkeys::keysymForVirtualKey(virtualKey))
        keysyms.push_back(*keysym);
    if (keysyms.empty()) return; // no key types this: skipped, as an event that cannot be made is

    Held held{virtualKey, text, {}};
    std::optional<KeyboardMap> map;
    display_.use([&](Display* display) {
        requireXTest(display, xtestPresent_);
        map.emplace(display);
        for (KeySym modifierKey : modifierKeysyms(flags))
            if (auto keycode = map->find(modifierKey, 0)) {
                fakeKey(display, *keycode, true);
                held.pressed.push_back(*keycode);
            }
    });

    // Several code points in one grapheme (a letter and its combining marks) go as one
    // keysym after another; the last one stays down until the key-up.
    for (std::size_t i = 0; i < keysyms.size(); ++i) {
        const bool last = i + 1 == keysyms.size();
        std::vector<unsigned> keys;
        bool lent = false;
        if (auto plain = map->find(keysyms[i], 0)) {
            keys.push_back(*plain);
        } else if (auto shifted = map->find(keysyms[i], 1), shift = map->find(XK_Shift_L, 0); shifted && shift) {
            if (std::find(held.pressed.begin(), held.pressed.end(), *shift) == held.pressed.end())
                keys.push_back(*shift);
            keys.push_back(*shifted);
        } else if (auto keycode = display_.use([&](Display* display) { return lend(display, keysyms[i]); })) {
            keys.push_back(*keycode);
            lent = true;
            std::this_thread::sleep_for(remapSettle);
        }
        display_.use([&](Display* display) {
            for (unsigned keycode : keys) fakeKey(display, keycode, true);
            if (!last)
                for (auto keycode = keys.rbegin(); keycode != keys.rend(); ++keycode) fakeKey(display, *keycode, false);
            XFlush(display);
            if (lent && !last) map.emplace(display); // the next code point must not take the same keycode
        });
        for (unsigned keycode : keys) noteLoanUse(keycode, last ? 1 : 0);
        if (last) held.pressed.insert(held.pressed.end(), keys.begin(), keys.end());
    }
    held_.push_back(std::move(held));
}

void LinuxEventSink::keyUp(std::uint16_t virtualKey, const std::optional<std::string>& text) {
    auto match = std::find_if(held_.rbegin(), held_.rend(),
                              [&](const Held& held) { return held.virtualKey == virtualKey && held.text == text; });
    if (match == held_.rend()) return; // its key-down typed nothing
    Held held = std::move(*match);
    held_.erase(std::next(match).base());
    display_.use([&](Display* display) {
        for (auto keycode = held.pressed.rbegin(); keycode != held.pressed.rend(); ++keycode)
            fakeKey(display, *keycode, false);
        XFlush(display);
    });
    for (unsigned keycode : held.pressed) noteLoanUse(keycode, -1);
}

// A press of a lent keycode keeps it lent; its last release starts the linger.
void LinuxEventSink::noteLoanUse(unsigned keycode, int downChange) {
    for (Loan& loan : loans_)
        if (loan.keycode == keycode) {
            loan.down = std::max(0, loan.down + downChange);
            loan.lastUsed = std::chrono::steady_clock::now();
        }
    ++loanChanges_;
    loansChanged_.notify_all();
}

void LinuxEventSink::postFlagsChanged(std::uint16_t virtualKey, std::uint64_t flags) {
    const auto flag = flagOfModifierKey(virtualKey);
    const auto keysym = linuxkeys::keysymForVirtualKey(virtualKey);
    if (!flag || !keysym) return;
    std::lock_guard guard(mutex_);
    display_.use([&](Display* display) {
        requireXTest(display, xtestPresent_);
        // Releasing a key that is already up is dropped by the server, so this only
        // ever lets go of a modifier something left held.
        if (auto keycode = KeyboardMap(display).find(*keysym, 0)) fakeKey(display, *keycode, (flags & *flag) != 0);
        XFlush(display);
    });
}

// The gesture's clicks so far are its total rounded to the nearest click, at least one
// once it has moved; each step posts what that adds. Clicks go out as the gesture
// goes, so its end needs no sign.
std::int64_t LinuxEventSink::Wheel::step(std::int64_t pixels) {
    total += pixels;
    std::int64_t clicks = (std::abs(total) + pointsPerWheelClick / 2) / pointsPerWheelClick;
    if (total != 0) clicks = std::max<std::int64_t>(clicks, 1);
    const std::int64_t target = total < 0 ? -clicks : clicks;
    const std::int64_t added = target - posted;
    posted = target;
    return added;
}

// Wheel buttons 4 and 5 scroll up and down, 6 and 7 left and right. A positive wheel
// amount scrolls towards the start of the content on either axis, as the design's
// wheels report it.
void LinuxEventSink::postScroll(std::int32_t vertical, std::int32_t horizontal) {
    std::lock_guard guard(mutex_);
    const std::int64_t verticalClicks = vertical_.step(vertical);
    const std::int64_t horizontalClicks = horizontal_.step(horizontal);
    if (verticalClicks == 0 && horizontalClicks == 0) return;
    display_.use([&](Display* display) {
        requireXTest(display, xtestPresent_);
        wheelClicks(display, verticalClicks, 4, 5);
        wheelClicks(display, horizontalClicks, 6, 7);
        XFlush(display);
    });
}

void LinuxEventSink::beginScrollGesture() {
    std::lock_guard guard(mutex_);
    vertical_ = {};
    horizontal_ = {};
}

// XTest cannot address one process: keys go to whichever window has the focus. So the
// process's frontmost window is activated first and the chord follows; that window
// stays in front afterwards, as it would had the person pressed the keys in it.
// Without a window of that process nothing is sent, rather than the chord landing in
// some other application.
void LinuxEventSink::postKeyToProcess(std::int32_t pid, std::uint16_t virtualKey, bool down, std::uint64_t flags) {
    if (!down) {
        postKey(virtualKey, false, flags, std::nullopt);
        return;
    }
    const auto window = display_.use([&](Display* display, const X11Atoms& atoms) -> std::optional<Window> {
        const auto found = windowOfProcess(display, atoms, pid);
        // Source 2, a pager: window managers obey it without focus-stealing checks.
        if (found && activeWindow(display, atoms) != found)
            x11::sendToWindowManager(display, *found, atoms[X11Atom::netActiveWindow], {2, CurrentTime, 0, 0, 0});
        return found;
    });
    if (!window) return;
    const auto deadline = std::chrono::steady_clock::now() + activationLimit;
    while (display_.use([&](Display* display, const X11Atoms& atoms) {
        return activeWindow(display, atoms) != window;
    }) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(activationPoll);
    postKey(virtualKey, true, flags, std::nullopt);
}

} // namespace vanto
