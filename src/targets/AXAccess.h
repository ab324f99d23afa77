#pragma once

#include "platform/Accessibility.h"
#include "platform/Processes.h"

#include <cstdint>
#include <optional>

namespace vanto {

// Which application a request is about, and whether this process may read or drive
// it: never itself, and only with the desktop's accessibility permission.
class AXAccess {
public:
    static constexpr double messagingTimeout = 2.0;

    AXAccess(Accessibility& accessibility, Processes& processes);

    // The given process, or the one in front.
    std::int32_t resolvePID(std::optional<std::int32_t> pid);
    bool isSelf(std::int32_t pid);
    // Throws the error that says why a process may not be read.
    void require(std::int32_t pid);
    // Whether the permission is there and the process is another program's.
    bool mayDrive(std::int32_t pid);
    // The application element, asked to build its whole tree and to answer in time.
    AXRef preparedApplication(std::int32_t pid);

private:
    Accessibility& ax_;
    Processes& processes_;
    std::int32_t ourselves_;
};

} // namespace vanto
