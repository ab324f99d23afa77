#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace vanto {

// What a take's run reported, as much of it as a sheet's report and progress keep.
// The run itself belongs to a higher layer, which fills this in from its own report.
struct TakeRun {
    std::vector<std::string> steps; // as performed
    double duration = 0;            // seconds
    std::optional<std::string> warning;
    std::optional<std::string> uploadID;
    std::optional<std::string> uploadURL;
    std::optional<std::string> insertedInto; // the video the take was put into
    std::optional<std::int64_t> insertedAtMs;
    std::optional<std::vector<std::pair<std::int64_t, std::int64_t>>> idleMs;
};

// A take's run that ended in an error, with the error's description.
struct TakeFailure {
    std::string description;
};

using TakeOutcome = std::variant<TakeRun, TakeFailure>;

} // namespace vanto
