#pragma once

#include "platform/EventSink.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

namespace vanto {

// A global key listener on X11 that can swallow the presses it is asked to.
//
// It holds a passive grab of every key (with any modifiers) on the root window in
// synchronous mode: each press freezes the keyboard and comes to us first. The
// consumer answers; a swallowed press is let go of (AllowEvents AsyncKeyboard) and
// never reaches anyone, any other press is replayed (ReplayKeyboard) to the window
// that has the focus, exactly as if there had been no grab. No key is synthesised
// again, so applications see the person's original events. Key combinations the
// window manager has grabbed already stay its own. This works on any X server,
// Xvfb included, and needs no extension.
//
// It uses a connection of its own (XCB, whose errors arrive per request rather than
// through Xlib's process-wide handler) and a thread of its own, on which the consumer
// runs. The consumer must answer promptly, since the keyboard waits for it, and must
// not call start(); it may call stop().
class LinuxKeyListener final : public KeyListener {
public:
    // The code passed for keys that have no virtual key code in the design's table.
    static constexpr std::uint16_t noVirtualKey = 0xFFFF;

    LinuxKeyListener();
    ~LinuxKeyListener() override;
    LinuxKeyListener(const LinuxKeyListener&) = delete;
    LinuxKeyListener& operator=(const LinuxKeyListener&) = delete;

    // False without a display, or when not a single key could be grabbed.
    bool start(Consume consume) override;
    void stop() override;

private:
    struct Connection;
    void stopLocked();

    std::mutex mutex_; // start and stop
    std::unique_ptr<Connection> connection_;
    std::atomic<bool> stopping_ = false;
    std::atomic<std::thread::id> listenerThread_{};
    std::thread thread_;
};

} // namespace vanto
