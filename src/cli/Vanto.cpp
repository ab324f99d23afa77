#include "cli/Vanto.h"

#include "agent/Agent.h"
#include "agent/ProcessInfo.h"
#include "base/Text.h"
#include "cli/ControlCommands.h"
#include "sheets/AgentRecording.h"
#include "sheets/DemoSheet.h"
#include "sheets/SheetReport.h"

#include <atomic>
#include <istream>
#include <ostream>
#include <stop_token>
#include <thread>

namespace vanto {
namespace {

// Ctrl-C during a prompt run. The first calls the run off as the panel's Stop does: a
// take under way is kept and finished. The next ends the process at once, but a movie
// being written is finished first, since a half-written one is worth nothing. A request
// to terminate (a logout, say) is taken as the same wish as Ctrl-C.
class Interrupts {
public:
    Interrupts(Engine& engine, Terminal& terminal, const ProgressLog& log)
        : engine_(engine), terminal_(terminal), log_(log) {
        terminal_.watchInterrupts([this] { interrupted(); });
    }
    ~Interrupts() { terminal_.unwatchInterrupts(); }
    Interrupts(const Interrupts&) = delete;
    Interrupts& operator=(const Interrupts&) = delete;

    std::stop_token token() const { return stop_.get_token(); }

private:
    void interrupted() {
        if (count_++ == 0) {
            stop_.request_stop();
            return;
        }
        // The recorder serialises its work: a stop the run began is complete once
        // status answers, and then the take it made is the one to name.
        try {
            if (engine_.recordingStatus().recording) engine_.stopRecording();
            if (auto kept = engine_.recordingStatus().path) log_("stopped at once; the take is kept at " + *kept);
        } catch (const std::exception& error) {
            log_(std::string("stopped at once; the take could not be finished: ") + error.what());
        }
        terminal_.endProcess(interruptedStatus);
    }

    // What shells report for a process ended by Ctrl-C.
    static constexpr int interruptedStatus = 130;

    Engine& engine_;
    Terminal& terminal_;
    const ProgressLog& log_;
    std::stop_source stop_;
    std::atomic<int> count_ = 0;
};

// One window per person: a launch that finds this person's window already running hands
// its request over and ends with status 0. One line on standard error says so, since
// nothing else would show why no window appeared; standard output stays empty.
bool handedToRunningWindow(Handoff& handoff, const HandoffRequest& request, std::ostream& err) {
    if (!handoff.offer(request)) return false;
    err << "vanto: handed to the window that is already open\n";
    return true;
}

} // namespace

Vanto::Vanto(Platform& platform, std::istream& in, std::ostream& out, std::ostream& err)
    : in_(in), out_(out), err_(err), engine_(platform) {}

int Vanto::main(const Arguments& argumentsWithProgram, RunLoop& mainLoop) {
    RunLog::setShared(&engine_.runLog());
    engine_.runLog().setRecording(true);
    // There is no Dock on X11 desktops, so the accessory activation policy (no Dock icon,
    // no menu bar) needs nothing here: a command-line process shows neither.
    Arguments arguments(argumentsWithProgram.empty() ? argumentsWithProgram.begin() : argumentsWithProgram.begin() + 1,
                        argumentsWithProgram.end());

    auto& platform = engine_.platform();
    bool desktop = (arguments.empty() && platform.processes.bundleIdentifier()) || hasFlag("--window", arguments);
    if (desktop) {
        if (handedToRunningWindow(platform.handoff, {}, err_)) return 0;
        if (desktopWindow_) return desktopWindow_(engine_, mainLoop, std::nullopt);
        emit(Response::notAvailableYet("the desktop window is"));
        return 1;
    }
    if (auto demo = value("--demo", arguments)) {
        const auto location = launchLocation(*demo, platform.paths.home());
        // A broken sheet is the person's to fix, so it is reported before anything else.
        try {
            [[maybe_unused]] DemoSheet sheet = DemoSheet::load(location);
        } catch (const DemoSheet::Failure& failure) {
            err_ << text::escapedControls(failure.what()) << "\n";
            // An agent that asked the sheet to record itself reads how it went beside it.
            if (AgentRecording::askedToRecordItself(location)) {
                try {
                    SheetReport::unreadable(location, failure.what(), platform.clock.wallTime(), platform.random)
                        .write(SheetReport::location(location));
                } catch (const std::exception& error) {
                    err_ << AgentRecording::couldNotWriteReport << ": " << text::escapedControls(error.what()) << "\n";
                }
            }
            return 1;
        }
        if (handedToRunningWindow(platform.handoff, {location}, err_)) return 0;
        if (desktopWindow_) return desktopWindow_(engine_, mainLoop, location);
        emit(Response::notAvailableYet("the desktop window is"));
        return 1;
    }

    int status = 0;
    // The command runs as its own task so that this thread stays free as the main thread.
    std::jthread task([&] {
        try {
            status = command(arguments);
        } catch (const std::exception& error) {
            emit(Response::failure(error.what()));
            status = 1;
        }
        mainLoop.quit();
    });
    mainLoop.park();
    return status;
}

int Vanto::command(const Arguments& arguments) {
    if (!arguments.empty() && !arguments.front().starts_with("-")) return runPrompt(arguments);
    return controlLoop();
}

int Vanto::controlLoop() {
    std::string line;
    for (;;) {
        auto read = readRequestLine(in_, line);
        if (read == LineRead::end) return 0;
        try {
            if (read == LineRead::tooLong) {
                emit(Response::failure(std::string(requestTooLong)));
            } else {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                auto trimmed = text::trimSpaces(line);
                if (trimmed.empty()) continue;
                auto decoded = readRequest(trimmed);
                emit(decoded.request ? handle(*decoded.request) : Response::failure(decoded.error));
            }
        } catch (const std::exception& error) {
            // Whatever one line costs, the next one is still read and answered.
            emit(Response::failure(error.what()));
        }
        if (!out_) return answersGone();
    }
}

int Vanto::answersGone() {
    // Nobody reads the answers any more, so nobody could ask for a stop: a running take
    // is stopped here so that its movie is complete.
    err_ << "vanto: standard output is closed; quitting\n";
    if (engine_.recordingStatus().recording) {
        try {
            auto stopped = engine_.stopRecording();
            err_ << "vanto: the recording was stopped and saved at " << text::escapedControls(stopped.path) << "\n";
        } catch (const std::exception& error) {
            err_ << "vanto: the recording could not be saved: " << text::escapedControls(error.what()) << "\n";
        }
    }
    err_.flush();
    return 1;
}

int Vanto::runPrompt(const Arguments& arguments) {
    if (!engine_.askForRunPermissions()) {
        emit(Response::failure(permissionMessage(ProcessInfo::responsibleName(engine_.platform().processes))));
        return 1;
    }
    PromptOptions options;
    try {
        options = parsePromptOptions(arguments, [this] { return engine_.defaultOutputURL(); });
    } catch (const OptionError& error) {
        emit(Response::failure(error.what()));
        return 1;
    }
    auto& terminal = engine_.platform().terminal;
    const ProgressLog log(err_);
    Interrupts interrupts(engine_, terminal, log);
    Agent::Callbacks callbacks;
    callbacks.charsPerSecond = options.charsPerSecond;
    // Questions go to a terminal only: a pipe or a file on standard input has nobody
    // behind it to answer. The run reads on its own thread, never the main one.
    std::function<std::optional<std::string>(std::stop_token)> readLine;
    if (terminal.inputIsTerminal()) readLine = [&terminal](std::stop_token stop) { return terminal.readLine(stop); };
    Agent agent = engine_.makeAgent(log, std::move(callbacks), std::move(readLine));
    try {
        const auto report = agent.run(options.params, interrupts.token());
        out_ << report.json() << "\n";
        out_.flush();
    } catch (const std::exception& error) {
        emit(Response::failure(error.what()));
        return 1;
    }
    return 0;
}

Response Vanto::handle(const Request& request) {
    return answerRequest(engine_, request);
}

void Vanto::emit(const Response& response) {
    vanto::emit(response, out_);
}

} // namespace vanto
