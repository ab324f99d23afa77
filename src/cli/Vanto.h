#pragma once

#include "cli/Options.h"
#include "cli/Protocol.h"
#include "engine/Engine.h"
#include "platform/Platform.h"
#include "platform/RunLoop.h"

#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>

namespace vanto {

// The program's entry: picks the desktop, prompt-run or control-loop mode and runs it
// as a front end over one engine.
class Vanto {
public:
    Vanto(Platform& platform, std::istream& in, std::ostream& out, std::ostream& err);
    Vanto(const Vanto&) = delete;
    Vanto& operator=(const Vanto&) = delete;

    // Chooses the mode from the process arguments (program path first) and runs it on
    // a worker thread while the calling thread serves as the main thread. Returns the
    // process's exit status.
    int main(const Arguments& argumentsWithProgram, RunLoop& mainLoop);

    // A prompt run when the first argument does not begin with "-", the control loop
    // otherwise. Returns the exit status.
    int command(const Arguments& arguments);

    int runPrompt(const Arguments& arguments);

    // One control request's answer, through the table of control commands; never throws.
    Response handle(const Request& request);

    void emit(const Response& response);

    // Opens the desktop window over the program's engine, with the demo sheet at `sheet`
    // open when one is named, and serves it on the calling thread (the main thread) until
    // it is closed; answers the exit status. The entry that links the desktop application
    // gives it; without one the window is missing.
    using DesktopWindow =
        std::function<int(Engine& engine, RunLoop& mainLoop, const std::optional<std::filesystem::path>& sheet)>;
    void setDesktopWindow(DesktopWindow open) { desktopWindow_ = std::move(open); }

private:
    int controlLoop();
    // After an answer could not be written: stops a running recording, then ends the loop.
    int answersGone();

    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
    // One engine for the whole control loop, so "stop" finds what "start" began.
    Engine engine_;
    DesktopWindow desktopWindow_;
};

} // namespace vanto
