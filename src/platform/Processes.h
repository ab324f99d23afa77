#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
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

// A program started in the background: its process, or why it could not start.
struct Launch {
    std::optional<std::int32_t> pid;
    std::string failure; // the system's words when there is no process
};

// What became of a launched program so far.
struct LaunchState {
    bool ended = false;
    int exitStatus = -1; // once ended: the exit code, or -1 when it was killed
    std::string errors;  // what it wrote on standard error (its first 64 KiB)
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

    // Starts a program found on PATH (or at a path) in the background, without a shell, as
    // a process group of its own with standard input from /dev/null, so that it outlives
    // nothing of ours and a terminal's Ctrl-C is not sent to it. Its error output is kept.
    virtual Launch launch(const std::string& program, const std::vector<std::string>& arguments) = 0;
    // What became of a process launch() started; for any other process: not ended, no errors.
    virtual LaunchState launched(std::int32_t pid) = 0;
    // Asks the process to end (SIGTERM); false when it cannot be signalled.
    virtual bool terminate(std::int32_t pid) = 0;
    // The processes now running and their short names (the kernel's command name).
    virtual std::vector<std::pair<std::int32_t, std::string>> running() = 0;

    // The identifier of the application bundle this process runs from, if any.
    virtual std::optional<std::string> bundleIdentifier() = 0;
};

} // namespace vanto
