#pragma once

#include "base/Error.h"
#include "platform/Clock.h"

#include <cmath>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <variant>

namespace vanto {

class OneShotError : public Error {
public:
    enum class Case { alreadyWaiting };
    static OneShotError alreadyWaiting() { return OneShotError("another caller is already waiting for this result"); }
    Case kind() const { return Case::alreadyWaiting; }

private:
    using Error::Error;
};

class DeadlineExceeded : public Error {
public:
    DeadlineExceeded(std::string label, double seconds)
        : Error(label + " did not answer within " + wholeSeconds(seconds) + "s"), label_(std::move(label)),
          seconds_(seconds) {}
    const std::string& label() const { return label_; }
    double seconds() const { return seconds_; }

private:
    // A limit that is not a number would have no whole part to show; it counts as 0.
    static std::string wholeSeconds(double seconds) {
        if (!std::isfinite(seconds)) return std::isinf(seconds) && seconds > 0 ? "inf" : "0";
        return std::to_string(static_cast<long long>(std::trunc(seconds)));
    }
    std::string label_;
    double seconds_;
};

// A single-result rendezvous between a callback on any thread and one waiter. The
// first settlement wins; a settled OneShot can be read any number of times.
template <typename T>
class OneShot {
public:
    void settle(T value) { store(Outcome(std::in_place_index<0>, std::move(value))); }
    void fail(std::exception_ptr error) { store(Outcome(std::in_place_index<1>, std::move(error))); }

    // Waits for the outcome and returns or throws it. Only one caller may wait at a
    // time; a second one gets alreadyWaiting at once.
    T value() {
        std::unique_lock lock(mutex_);
        if (!outcome_) {
            if (waiting_) throw OneShotError::alreadyWaiting();
            waiting_ = true;
            settled_.wait(lock, [this] { return outcome_.has_value(); });
            waiting_ = false;
        }
        if (outcome_->index() == 1) std::rethrow_exception(std::get<1>(*outcome_));
        return std::get<0>(*outcome_);
    }

    bool isSettled() {
        std::lock_guard lock(mutex_);
        return outcome_.has_value();
    }

    bool hasWaiter() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }

private:
    using Outcome = std::variant<T, std::exception_ptr>;

    void store(Outcome outcome) {
        {
            std::lock_guard lock(mutex_);
            if (outcome_) return;
            outcome_ = std::move(outcome);
        }
        settled_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable settled_;
    std::optional<Outcome> outcome_;
    bool waiting_ = false;
};

// Runs operation on a thread of its own and gives up after `seconds` with
// DeadlineExceeded(label). An operation that does not answer is abandoned, never
// joined: it is asked to stop and its late result is dropped. The caller's stop
// token ends the wait with Cancelled.
template <typename T>
T withDeadline(Clock& clock, double seconds, const std::string& label, std::function<T(std::stop_token)> operation,
               std::stop_token callerStop = {}) {
    auto shot = std::make_shared<OneShot<T>>();
    std::stop_source operationStop;
    std::thread([shot, operation = std::move(operation), token = operationStop.get_token()] {
        try {
            shot->settle(operation(token));
        } catch (...) {
            shot->fail(std::current_exception());
        }
    }).detach();

    double limit = std::isnan(seconds) ? 0 : std::max(seconds, 0.0);
    // The timer can always be stopped, so it is joined rather than abandoned.
    std::jthread timer([shot, &clock, limit, label, seconds](std::stop_token stop) {
        if (clock.sleep(limit, stop)) shot->fail(std::make_exception_ptr(DeadlineExceeded(label, seconds)));
    });
    std::stop_callback onCancel(callerStop, [shot] { shot->fail(std::make_exception_ptr(Cancelled())); });

    struct StopBoth {
        std::stop_source& operation;
        std::jthread& timer;
        ~StopBoth() {
            operation.request_stop();
            timer.request_stop();
        }
    } stopBoth{operationStop, timer};
    return shot->value();
}

} // namespace vanto
