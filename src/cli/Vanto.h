#pragma once

#include "agent/RunLog.h"
#include "capture/Input.h"
#include "capture/Recorder.h"
#include "capture/RecordingIndicator.h"
#include "capture/StepHUD.h"
#include "cli/Options.h"
#include "cli/Protocol.h"
#include "platform/Platform.h"
#include "platform/RunLoop.h"
#include "service/AccountCommands.h"
#include "targets/AXResolver.h"

#include <filesystem>
#include <iosfwd>

namespace vanto {

// The program's entry: picks the desktop, prompt-run or control-loop mode and runs it.
class Vanto {
public:
    Vanto(Platform& platform, std::istream& in, std::ostream& out, std::ostream& err);
    ~Vanto();
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

    // One control request's answer; never throws.
    Response handle(const Request& request);

    void emit(const Response& response);

    // A fresh file in the temporary folder: "vanto-capture-<UUID>.mov".
    std::filesystem::path defaultOutputURL();

private:
    int controlLoop();
    // After an answer could not be written: stops a running recording, then ends the loop.
    int answersGone();

    Platform& platform_;
    std::istream& in_;
    std::ostream& out_;
    std::ostream& err_;
    RunLog runLog_;
    Input input_;
    AXResolver resolver_;
    RecordingIndicator indicator_;
    StepHUD hud_;
    // One recorder for the whole control loop, so "stop" finds what "start" began.
    Recorder recorder_;
    AccountCommands accounts_;

    // After a successful input command: its capture event, when a recording runs and
    // the request has a label.
    void logCaptureEvent(const Request& request, const std::string& text, std::optional<Point> at = std::nullopt);
};

} // namespace vanto
