#pragma once

#include "platform/EventSink.h"
#include "platform/linux/X11Connection.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace vanto {

// Synthetic input on an X11 desktop through the XTest extension, translated from the
// design's vocabulary: virtual key codes become keysyms (one table, LinuxKeys.cpp),
// modifier flags become presses of the modifier keys around the key, exact text is
// typed through a spare keycode when the keyboard map lacks the character, pixel
// scrolling becomes wheel clicks.
//
// A spare keycode lent to a character keeps it for half a second after its last use
// (clients read keys against the map as it is when they get to them), so the map is
// whole again shortly after typing ends, and at the latest when the sink goes.
class LinuxEventSink final : public EventSink {
public:
    // X has no pixel scrolling without a device that reports scroll valuators (Xvfb
    // has none), only wheel buttons. One click stands for the distance Chromium
    // scrolls for it. A gesture (one smooth scroll, posted in many small steps) comes
    // to the nearest whole number of clicks, and to at least one when it moves at
    // all; nothing is carried from one gesture into another.
    static constexpr int pointsPerWheelClick = 120;

    explicit LinuxEventSink(X11Display& display);
    ~LinuxEventSink() override;
    LinuxEventSink(const LinuxEventSink&) = delete;
    LinuxEventSink& operator=(const LinuxEventSink&) = delete;

    void postMouse(MouseEventType type, Point at, int clickState) override;
    void postKey(std::uint16_t virtualKey, bool down, std::uint64_t flags,
                 const std::optional<std::string>& text) override;
    void postFlagsChanged(std::uint16_t virtualKey, std::uint64_t flags) override;
    void postScroll(std::int32_t vertical, std::int32_t horizontal) override;
    void beginScrollGesture() override;
    void postKeyToProcess(std::int32_t pid, std::uint16_t virtualKey, bool down, std::uint64_t flags) override;

private:
    struct Held; // what one key-down pressed, so that its key-up releases exactly that
    struct Loan; // a spare keycode lent to a character

    // The clicks one axis of the current gesture has posted, against its pixel total.
    struct Wheel {
        std::int64_t total = 0;
        std::int64_t posted = 0;
        // Adds a step of the gesture; answers the clicks (signed) to post for it.
        std::int64_t step(std::int64_t pixels);
    };

    void keyDown(std::uint16_t virtualKey, std::uint64_t flags, const std::optional<std::string>& text);
    void keyUp(std::uint16_t virtualKey, const std::optional<std::string>& text);
    // Binds a free keycode to the keysym, with the sink's lock and the display's held.
    std::optional<unsigned> lend(_XDisplay* display, unsigned long keysym);
    void noteLoanUse(unsigned keycode, int downChange);
    void returnIdleLoans(std::stop_token stop);

    X11Display& display_;
    std::mutex mutex_; // everything below; taken before the display's lock
    std::vector<Held> held_;
    std::vector<Loan> loans_;
    std::condition_variable_any loansChanged_;
    std::uint64_t loanChanges_ = 0;
    Wheel vertical_;
    Wheel horizontal_;
    bool xtestPresent_ = false;
    std::jthread returner_; // gives idle keycodes back; started last
};

} // namespace vanto
