#include "platform/Clock.h"

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>

namespace vanto {

double SystemClock::now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double SystemClock::wallTime() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool SystemClock::sleep(double seconds, std::stop_token stop) {
    if (stop.stop_requested()) return false;
    if (!(seconds > 0)) return true; // zero, negative and NaN sleep not at all
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    auto until = std::chrono::steady_clock::now() +
                 std::chrono::duration_cast<std::chrono::steady_clock::duration>(std::chrono::duration<double>(
                     std::isfinite(seconds) ? seconds : 1e9));
    wake.wait_until(lock, stop, until, [] { return false; });
    return !stop.stop_requested();
}

} // namespace vanto
