#pragma once

#include "drivers/DriverCommand.h"
#include "drivers/DriverResult.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>

namespace vanto {

// Where a driven take gets its commands from and sends its answers to. Whatever
// starts the take calls prepare before recording; the recording loop then calls
// opened, sends the opening answer, alternates next and answer, and calls closed
// however the take ends.
class TakeDriver {
public:
    virtual ~TakeDriver() = default;

    virtual void prepare() = 0;
    // The next command within `timeout` seconds, or idle. Throws Cancelled when stopped.
    virtual DriverCommand next(double timeout, std::stop_token stop = {}) = 0;
    virtual void answer(const DriverResult& result) = 0;
    // Where the screenshot answering command `id` is stored.
    virtual std::filesystem::path screenshotFile(std::int64_t id) = 0;
    virtual void opened(std::optional<std::int64_t> scene) = 0;
    virtual void closed() = 0;
};

} // namespace vanto
