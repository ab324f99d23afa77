#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vanto {

struct ProgramOutput {
    int exitStatus = -1; // the exit code, or -1 when the program could not run or was killed
    std::string output;  // what it wrote on standard output
};

// When a process started. ticks tells it apart from every other process that had or
// will have its ID: the same process always gives the same number. wallTime is the
// same moment in seconds since 1970, good to a second or so.
struct ProcessStart {
    std::uint64_t ticks = 0;
    double wallTime = 0;
};

class Processes {
public:
    virtual ~Processes() = default;

    virtual std::int32_t currentPID() = 0;

    // The parent of pid, or none when the kernel does not answer.
    virtual std::optional<std::int32_t> parentPID(std::int32_t pid) = 0;

    // The executable of pid, at most 4096 bytes, or none.
    virtual std::optional<std::string> executablePath(std::int32_t pid) = 0;

    // Signal 0: the process exists and may be signalled.
    virtual bool isAlive(std::int32_t pid) = 0;

    // When pid started, or none when the kernel does not say.
    virtual std::optional<ProcessStart> startTime(std::int32_t pid) = 0;

    // Runs a program with arguments and waits, capturing standard output.
    virtual ProgramOutput run(const std::string& program, const std::vector<std::string>& arguments) = 0;

    virtual std::optional<std::string> environment(const std::string& name) = 0;

    // The identifier of the application bundle this process runs from, if any.
    virtual std::optional<std::string> bundleIdentifier() = 0;
};

} // namespace vanto
