#pragma once

#include <stop_token>

namespace vanto {

// Every wait, sleep and "now" goes through a Clock so that long waits are testable
// in milliseconds with a virtual clock.
class Clock {
public:
    virtual ~Clock() = default;

    // Monotonic seconds, for durations and deadlines.
    virtual double now() = 0;

    // Wall-clock seconds since the Unix epoch, for timestamps people read.
    virtual double wallTime() = 0;

    // Sleeps for the given seconds (nothing for zero, negative or NaN). Returns false
    // when the stop token was triggered before the time was up.
    virtual bool sleep(double seconds, std::stop_token stop = {}) = 0;
};

// The process's real clocks: steady for now(), system for wallTime().
class SystemClock final : public Clock {
public:
    double now() override;
    double wallTime() override;
    bool sleep(double seconds, std::stop_token stop = {}) override;
};

} // namespace vanto
