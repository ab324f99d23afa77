#pragma once

#include <functional>
#include <optional>
#include <stop_token>
#include <string>

namespace vanto {

// The terminal a command-line run was started from: standard input as the person's
// keyboard, and the interrupt key (Ctrl-C) and termination requests sent to the process.
class Terminal {
public:
    virtual ~Terminal() = default;

    // Whether standard input is a terminal, so that somebody there can answer questions.
    virtual bool inputIsTerminal() = 0;

    // One line from standard input without its line break, read on the calling thread;
    // none at the end of input, and none as soon as stop is requested.
    virtual std::optional<std::string> readLine(std::stop_token stop) = 0;

    // From now until unwatchInterrupts, onInterrupt runs on a thread of the terminal's
    // own, once for each interrupt (Ctrl-C) or termination request the process receives;
    // until then they end the process as they otherwise would.
    virtual void watchInterrupts(std::function<void()> onInterrupt) = 0;
    virtual void unwatchInterrupts() = 0;

    // Ends the process at once with status; standard output and error are flushed, and
    // nothing else is cleaned up.
    [[noreturn]] virtual void endProcess(int status) = 0;
};

} // namespace vanto
