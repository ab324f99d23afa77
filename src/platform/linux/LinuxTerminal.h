#pragma once

#include "platform/Terminal.h"
#include "platform/linux/UniqueFd.h"

#include <unistd.h>

#include <mutex>
#include <thread>

namespace vanto {

// Standard input read with poll() beside an eventfd that a stop request writes to, so
// that a read waiting for the person ends at once when the run is called off.
// Interrupts (SIGINT, SIGTERM) reach a handler that only writes a byte into a pipe;
// a thread of our own reads the pipe and does the work outside the handler. Only one
// watch can exist in the process at a time, as signal handlers are process-wide.
class LinuxTerminal final : public Terminal {
public:
    // input: the descriptor read as standard input (tests give a pipe).
    explicit LinuxTerminal(int input = STDIN_FILENO) : input_(input) {}
    ~LinuxTerminal() override;
    LinuxTerminal(const LinuxTerminal&) = delete;
    LinuxTerminal& operator=(const LinuxTerminal&) = delete;

    bool inputIsTerminal() override;
    std::optional<std::string> readLine(std::stop_token stop) override;
    // onInterrupt must not call unwatchInterrupts: that waits for its own thread.
    void watchInterrupts(std::function<void()> onInterrupt) override;
    void unwatchInterrupts() override;
    [[noreturn]] void endProcess(int status) override;

private:
    int input_;
    std::mutex mutex_; // watch and unwatch
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    std::thread watcher_;
};

} // namespace vanto
