#pragma once

#include "platform/Processes.h"

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
};

} // namespace vanto
