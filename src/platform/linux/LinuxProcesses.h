#pragma once

#include "platform/Processes.h"

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace vanto {

// Processes as /proc and POSIX see them.
class LinuxProcesses final : public Processes {
public:
    std::int32_t currentPID() override;
    std::optional<std::int32_t> parentPID(std::int32_t pid) override;
    std::optional<std::string> executablePath(std::int32_t pid) override;
    bool isAlive(std::int32_t pid) override;
    std::optional<ProcessStart> startTime(std::int32_t pid) override;
    ProgramOutput run(const std::string& program, const std::vector<std::string>& arguments) override;
    std::optional<std::string> environment(const std::string& name) override;
    std::optional<std::string> bundleIdentifier() override;
    Launch launch(const std::string& program, const std::vector<std::string>& arguments) override;
    LaunchState launched(std::int32_t pid) override;
    bool terminate(std::int32_t pid) override;
    std::vector<std::pair<std::int32_t, std::string>> running() override;

private:
    // Each launched program's state, filled in by a thread that reads its error output
    // and then reaps it; shared so that the thread may outlive this object.
    struct Launched {
        std::mutex mutex;
        std::condition_variable drained;
        bool reading = true; // its error output is still open
        LaunchState state;
    };
    std::mutex mutex_;
    std::map<std::int32_t, std::shared_ptr<Launched>> launched_;
};

} // namespace vanto
