#pragma once

#include "platform/Clock.h"
#include "platform/Processes.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stop_token>
#include <string>
#include <vector>

namespace vanto {

// Live runs on this machine, one file per process in the runs folder, named after
// its process ID and holding its registration time and, on a second line, when the
// process started. Failures never fail a run:
// an unreadable folder counts as no other runs, failed writes are ignored.
class RunRegistry {
public:
    RunRegistry(std::filesystem::path directory, Processes& processes, Clock& clock);

    void registerRun();
    void deregister();
    // The other live runs; files of dead processes are removed on the way.
    std::vector<std::int32_t> others();

    const std::filesystem::path& directory() const { return directory_; }

private:
    // Alive, and the very process that wrote the file rather than a later one with its ID.
    bool isLive(std::int32_t pid, const std::filesystem::path& file);

    std::filesystem::path directory_;
    Processes& processes_;
    Clock& clock_;
};

using LogLine = std::function<void(const std::string&)>;

// Waits while other runs are live, at most 180 seconds.
void waitForOtherRuns(RunRegistry& registry, Clock& clock, const LogLine& log, std::stop_token stop = {});

// Waits up to 12 seconds for a nested run to appear, then for it to finish.
void waitForNestedRun(RunRegistry& registry, Clock& clock, const LogLine& log, std::stop_token stop = {});

} // namespace vanto
