#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>

namespace vanto {

class CloudPolicy;

// What one run's steps share: the process being driven, every process it drove, those
// it started itself (closed again on reset), the process it is pinned to, and the
// restrictions of a cloud run. Touched only from the run's own thread.
struct Session {
    std::int32_t pid = 0; // 0 before any
    std::set<std::int32_t> visited;
    std::set<std::int32_t> launched;
    std::optional<std::int32_t> pinned;
    std::shared_ptr<const CloudPolicy> cloud;
};

} // namespace vanto
