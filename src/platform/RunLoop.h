#pragma once

#include "platform/MainThread.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace vanto {

// A small run loop for the command-line modes: the thread that calls park() becomes
// the main thread and runs queued work until quit() is called.
class RunLoop final : public MainThread {
public:
    void run(std::function<void()> f) override;
    void post(std::function<void()> f) override;

    // Serves the queue on the calling thread until quit(); the calling thread is the
    // main thread from then on.
    void park();
    void quit();

private:
    bool onMainThread();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::thread::id mainThreadID_{};
    bool parked_ = false;
    bool quitting_ = false;
};

} // namespace vanto
