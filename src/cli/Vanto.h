#pragma once

#include "cli/Options.h"
#include "cli/Protocol.h"
#include "platform/Platform.h"
#include "platform/RunLoop.h"

#include <filesystem>
#include <iosfwd>

namespace vanto {

// The program's entry: picks the desktop, prompt-run or control-loop mode and runs it.
class Vanto {
public:
    Vanto(Platform& platform, std::istream& in, std::ostream& out, std::ostream& err);

    // Chooses the mode from the process arguments (program path first) and runs it on
    // a worker thread while the calling thread serves as the main thread. Returns the
    // process's exit status.
    int main(const Arguments& argumentsWithProgram, RunLoop& mainLoop);

    // A prompt run when the first argument does not begin with "-", the control loop
    // otherwise. Returns the exit status.
    int command(const Arguments& arguments);

    int runPrompt(const Arguments& arguments);

    // One control request's answer; never throws.
    Response handle(const Request& request);

    void emit(const Response& response);

    // A fresh file in the temporary folder: "vanto-capture-<UUID>.mov".
    std::filesystem::path defaultOutputURL();

private:
    int controlLoop();

    Platform& platform_;
    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
};

} // namespace vanto
