#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vanto {

// What one run made, as the person and the callers that store it are given it.
struct AgentReport {
    std::string prompt;
    std::vector<std::string> steps; // each performed step's label or description
    std::string path;               // empty when nothing was recorded
    double duration = 0;            // seconds
    std::int64_t events = 0;
    std::optional<std::string> warning;
    std::optional<std::string> uploadID;
    std::optional<std::string> uploadURL;
    std::optional<std::string> insertedInto;
    std::optional<std::int64_t> insertedAtMs;
    std::optional<std::vector<std::pair<std::int64_t, std::int64_t>>> idleMs; // a driven take's pauses

    // Adds a sentence to the warning, one space after those before it.
    void warn(const std::string& sentence);

    // One line of compact JSON, keys in the order above, absent ones left out; "{}"
    // when some text is not UTF-8, since a broken line would be worse than an empty one.
    std::string json() const;
};

} // namespace vanto
