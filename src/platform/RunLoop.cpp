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
        if (quitting_) {
            // What was asked before the quit still runs; work that keeps posting itself
            // again (the panels' event pump) must not hold the loop open forever.
            auto last = std::move(queue_);
            queue_.clear();
            lock.unlock();
            for (auto& work : last) work();
            lock.lock();
            break;
        }
        auto next = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        next();
        lock.lock();
    }
    // Anything posted meanwhile goes unrun; a run() waiting for it gets a broken promise.
    auto dropped = std::move(queue_);
    queue_.clear();
    parked_ = false;
    quitting_ = false;
    mainThreadID_ = {};
    lock.unlock();
    dropped.clear();
}

void RunLoop::quit() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    wake_.notify_one();
}

} // namespace vanto
