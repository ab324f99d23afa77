#pragma once

#include <cstdint>
#include <mutex>

namespace vanto {

// How far the page has been scrolled down since the run began, so that a remembered
// answer can be looked for again where it was shown. One per process, shared by every
// run and question; each read and update holds its lock. Once a planned scroll gave up
// the distance no longer says where the page is, and it stops being trusted.
class ScrollTrace {
public:
    struct State {
        std::int64_t travelled = 0;
        bool trusted = true;
        bool operator==(const State&) const = default;
    };

    // A run begins: nothing travelled, and trusted again.
    void reset() {
        std::lock_guard guard(mutex_);
        state_ = {};
    }
    // A scroll of distance points (down is positive); the total never goes below 0.
    void add(std::int64_t distance) {
        std::lock_guard guard(mutex_);
        state_.travelled = state_.travelled + distance < 0 ? 0 : state_.travelled + distance;
    }
    void distrust() {
        std::lock_guard guard(mutex_);
        state_.trusted = false;
    }
    State state() {
        std::lock_guard guard(mutex_);
        return state_;
    }

private:
    std::mutex mutex_;
    State state_;
};

} // namespace vanto
