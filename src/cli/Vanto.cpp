#include "cli/Vanto.h"

#include "agent/Agent.h"
#include "base/Text.h"
#include "base/Uuid.h"
#include "cli/ProcessInfo.h"
#include "cli/WindowList.h"
#include "service/APIClient.h"
#include "service/ConfigStore.h"
#include "service/UploadError.h"
#include "sheets/DemoSheet.h"

#include <algorithm>
#include <istream>
#include <ostream>
#include <thread>

namespace vanto {
namespace {

Response notAvailableYet(const std::string& what) {
    return Response::failure(what + " not available in this build yet");
}

// Fields a command cannot do without; checked before any layer is touched.
std::optional<std::string> missingRequiredField(const Request& r) {
    using C = Request::Command;
    switch (r.cmd) {
    case C::start:
        if (!r.target) return "target";
        break;
    case C::move:
    case C::at:
        if (!r.to) return "to";
        break;
    case C::type:
        if (!r.text) return "text";
        break;
    case C::key:
        if (!r.keys) return "keys";
        break;
    default:
        break;
    }
    return std::nullopt;
}

// A "key" event's text: the key strings joined with "+".
std::string joinedKeys(const std::vector<std::string>& keys) {
    std::string text;
    for (const auto& key : keys) text += (text.empty() ? "" : "+") + key;
    return text;
}

// Whether two paths name the same file; lexically when either cannot be looked at.
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    bool same = std::filesystem::equivalent(a, b, error);
    if (error) return a.lexically_normal() == b.lexically_normal();
    return same;
}

// "upload": the given file, or the loop's last take with its events and duration.
UploadResult uploadTake(Platform& platform, Recorder& recorder, const Request& request) {
    auto config = ConfigStore(platform.paths, platform.processes).load();
    if (!config) throw UploadError::notConnected();
    std::optional<std::pair<StopResult, std::vector<CaptureEvent>>> last;
    try {
        last = recorder.take();
    } catch (const RecorderError& error) {
        if (error.kind() != RecorderError::Case::nothingRecorded) throw;
    }
    APIClient::UploadParams params;
    if (request.path) {
        params.file = *request.path;
    } else if (last) {
        params.file = last->first.path;
    } else {
        throw RecorderError::nothingRecorded();
    }
    // The log describes the last take only; another file goes up without it.
    if (last && sameFile(params.file, last->first.path)) {
        params.events = std::move(last->second);
        params.duration = last->first.duration;
    }
    params.narration = request.narration.value_or("");
    params.applyProjectSettings = true;
    return APIClient(*config, platform.http, platform.clock, platform.random).upload(params);
}

} // namespace

Vanto::Vanto(Platform& platform, std::istream& in, std::ostream& out, std::ostream& err)
    : platform_(platform), in_(in), out_(out), err_(err),
      runLog_(platform.paths.stateDir() / "run.log", platform.clock),
      input_(platform.events, platform.clock, platform.permissions, platform.pointer),
      resolver_(platform.accessibility, platform.processes, platform.clock), indicator_(platform.ui), hud_(platform.ui),
      recorder_(platform.capture, platform.clock, platform.mainThread, indicator_, hud_),
      accounts_({platform.paths, platform.processes, platform.clock, platform.random, platform.http, platform.workspace,
                 platform.network, platform.mainThread, platform.defaults}) {}

Vanto::~Vanto() {
    // The process-wide log must not outlive the program object that owns it.
    if (RunLog::shared() == &runLog_) RunLog::setShared(nullptr);
}

void Vanto::logCaptureEvent(const Request& request, const std::string& text, std::optional<Point> at) {
    recorder_.note(std::string(commandName(request.cmd)), request.label, text, at);
}

int Vanto::main(const Arguments& argumentsWithProgram, RunLoop& mainLoop) {
    RunLog::setShared(&runLog_);
    runLog_.setRecording(true);
    // There is no Dock on X11 desktops, so the accessory activation policy (no Dock icon,
    // no menu bar) needs nothing here: a command-line process shows neither.
    Arguments arguments(argumentsWithProgram.empty() ? argumentsWithProgram.begin() : argumentsWithProgram.begin() + 1,
                        argumentsWithProgram.end());

    bool desktop = (arguments.empty() && platform_.processes.bundleIdentifier()) || hasFlag("--window", arguments);
    if (desktop) {
        emit(notAvailableYet("the desktop window is"));
        return 1;
    }
    if (auto demo = value("--demo", arguments)) {
        // A broken sheet is the person's to fix, so it is reported before anything else.
        try {
            [[maybe_unused]] DemoSheet sheet = loadForLaunch(*demo, platform_.paths.home());
        } catch (const DemoSheet::Failure& failure) {
            err_ << text::escapedControls(failure.what()) << "\n";
            return 1;
        }
        emit(notAvailableYet("the desktop window is"));
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
    if (recorder_.status().recording) {
        Request stop;
        stop.cmd = Request::Command::stop;
        auto stopped = handle(stop);
        if (stopped.stopped)
            err_ << "vanto: the recording was stopped and saved at " << text::escapedControls(stopped.stopped->path)
                 << "\n";
        else
            err_ << "vanto: the recording could not be saved: " << text::escapedControls(stopped.error.value_or(""))
                 << "\n";
    }
    err_.flush();
    return 1;
}

int Vanto::runPrompt(const Arguments& arguments) {
    auto& permissions = platform_.permissions;
    if (!permissions.accessibilityTrusted(false) || !permissions.screenCapturePreflight()) {
        permissions.accessibilityTrusted(true);
        permissions.requestScreenCapture();
        emit(Response::failure(permissionMessage(ProcessInfo::responsibleName(platform_.processes))));
        return 1;
    }
    PromptOptions options;
    try {
        options = parsePromptOptions(arguments, [this] { return defaultOutputURL(); });
    } catch (const OptionError& error) {
        emit(Response::failure(error.what()));
        return 1;
    }
    Agent agent({platform_.paths, platform_.processes, platform_.clock, platform_.http}, ProgressLog(err_));
    try {
        agent.run(options.params);
    } catch (const std::exception& error) {
        emit(Response::failure(error.what()));
        return 1;
    }
    return 0;
}

Response Vanto::handle(const Request& request) {
    using C = Request::Command;
    try {
        if (auto field = missingRequiredField(request)) throw RecorderError::missingField(*field);
        Response response;
        switch (request.cmd) {
        case C::listWindows:
            response.windows = WindowList::onScreen(platform_.windows);
            return response;
        case C::cursor: {
            auto at = platform_.pointer.position();
            response.cursor = CursorResult{at.x, at.y};
            return response;
        }
        case C::permissions: {
            auto& permissions = platform_.permissions;
            if (request.prompt.value_or(false)) permissions.accessibilityTrusted(true);
            response.permissions =
                PermissionsResult{permissions.screenCapturePreflight(), permissions.accessibilityTrusted(false)};
            return response;
        }
        case C::move:
            input_.move(*request.to, request.duration.value_or(0.4));
            logCaptureEvent(request, "");
            return response;
        case C::click: {
            const Point clicked = request.to ? *request.to : platform_.pointer.position();
            input_.click(request.to, request.button.value_or(MouseButton::left), request.settle.value_or(0.12));
            logCaptureEvent(request, "", clicked);
            return response;
        }
        case C::type:
            input_.type(*request.text, request.charsPerSecond.value_or(12));
            logCaptureEvent(request, *request.text);
            return response;
        case C::key:
            input_.press(*request.keys);
            logCaptureEvent(request, joinedKeys(*request.keys));
            return response;
        case C::scroll:
            input_.scroll(request.dy.value_or(0), request.dx.value_or(0), request.duration.value_or(0.6));
            logCaptureEvent(request, "");
            return response;
        case C::start: {
            Recorder::StartParams params;
            params.target = *request.target;
            params.fps = request.fps.value_or(30);
            params.output = request.output ? std::filesystem::path(*request.output) : defaultOutputURL();
            params.showsCursor = request.showsCursor.value_or(true);
            params.quality = RecordingQuality::standard;
            params.codec = RecordingCodec::h264;
            recorder_.start(params);
            return response;
        }
        case C::stop: {
            // Whatever stop answers, nothing is being saved afterwards: the indicator
            // would otherwise say "Saving" for as long as the loop runs.
            struct HideIndicator {
                Vanto& vanto;
                ~HideIndicator() {
                    try {
                        vanto.platform_.mainThread.run([this] { vanto.indicator_.hide(); });
                    } catch (const std::exception&) {
                        // Only the indicator stays up; the answer matters more.
                    }
                }
            } hide{*this};
            response.stopped = recorder_.stop();
            return response;
        }
        case C::status:
            response.status = recorder_.status();
            return response;
        case C::find: {
            AXResolver::FindParams params;
            params.pid = request.pid;
            params.text = request.text;
            params.role = request.role;
            params.limit = std::max<std::int64_t>(request.limit.value_or(20), 0);
            params.allWindows = request.allWindows.value_or(false);
            response.elements = resolver_.find(params);
            return response;
        }
        case C::at:
            if (auto element = resolver_.elementAt(*request.to, request.pid))
                response.elements = std::vector<AXElement>{*element};
            return response;
        case C::connect:
            response.account = accounts_.connect(request.token, request.apiBase);
            return response;
        case C::disconnect:
            response.account = accounts_.disconnect();
            return response;
        case C::account:
            response.account = accounts_.account();
            return response;
        case C::upload:
            response.uploaded = uploadTake(platform_, recorder_, request);
            return response;
        default:
            return notAvailableYet("\"" + std::string(commandName(request.cmd)) + "\" is");
        }
    } catch (const UploadError& error) {
        if (error.kind() == UploadError::Case::notConnected)
            return Response::failure(
                R"(not connected; send {"cmd":"connect"} to link this machine to a Vanto account)");
        return Response::failure(error.what());
    } catch (const std::exception& error) {
        return Response::failure(error.what());
    }
}

void Vanto::emit(const Response& response) {
    vanto::emit(response, out_);
}

std::filesystem::path Vanto::defaultOutputURL() {
    return platform_.paths.tempDir() / ("vanto-capture-" + uuidString(platform_.random) + ".mov");
}

} // namespace vanto
