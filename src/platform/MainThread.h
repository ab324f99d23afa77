#pragma once

#include <functional>

namespace vanto {

// The serial executor standing for the design's main thread: user interface,
// preferences and application activation happen here.
class MainThread {
public:
    virtual ~MainThread() = default;

    // Runs f on the main thread and waits for it; exceptions travel back to the caller.
    // Called on the main thread itself, f runs at once.
    virtual void run(std::function<void()> f) = 0;

    // Queues f on the main thread without waiting.
    virtual void post(std::function<void()> f) = 0;
};

} // namespace vanto
