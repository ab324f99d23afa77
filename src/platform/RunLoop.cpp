#include "platform/RunLoop.h"

#include <exception>
#include <future>

namespace vanto {

bool RunLoop::onMainThread() {
    return std::this_thread::get_id() == mainThreadID_;
}

void RunLoop::run(std::function<void()> f) {
    {
        std::unique_lock lock(mutex_);
        // Before any thread parks (tests, or a mode without panels) there is no main
        // thread to hop to, so the work runs where it is.
        if (!parked_ || onMainThread()) {
            lock.unlock();
            f();
            return;
        }
    }
    auto task = std::make_shared<std::packaged_task<void()>>(std::move(f));
    auto done = task->get_future();
    post([task] { (*task)(); });
    done.get();
}

void RunLoop::post(std::function<void()> f) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(f));
    }
    wake_.notify_one();
}

void RunLoop::park() {
    std::unique_lock lock(mutex_);
    mainThreadID_ = std::this_thread::get_id();
    parked_ = true;
    while (true) {
        wake_.wait(lock, [this] { return quitting_ || !queue_.empty(); });
        if (queue_.empty()) break; // quitting with nothing left to do
        auto next = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        next();
        lock.lock();
    }
    parked_ = false;
    quitting_ = false;
    mainThreadID_ = {};
}

void RunLoop::quit() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    wake_.notify_one();
}

} // namespace vanto
