#include "cli/Vanto.h"

#include "base/Text.h"
#include "base/Uuid.h"
#include "cli/ProcessInfo.h"
#include "cli/WindowList.h"

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

} // namespace

Vanto::Vanto(Platform& platform, std::istream& in, std::ostream& out, std::ostream& err)
    : platform_(platform), in_(in), out_(out), err_(err) {}

int Vanto::main(const Arguments& argumentsWithProgram, RunLoop& mainLoop) {
    // There is no Dock on X11 desktops, so the accessory activation policy (no Dock icon,
    // no menu bar) needs nothing here: a command-line process shows neither.
    Arguments arguments(argumentsWithProgram.empty() ? argumentsWithProgram.begin()
                                                     : argumentsWithProgram.begin() + 1,
                        argumentsWithProgram.end());

    bool desktop = (arguments.empty() && platform_.processes.bundleIdentifier()) || hasFlag("--window", arguments);
    if (desktop) {
        emit(notAvailableYet("the desktop window is"));
        return 1;
    }
    if (value("--demo", arguments)) {
        emit(notAvailableYet("demo sheets are"));
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
    while (std::getline(in_, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        auto trimmed = text::trimSpaces(line);
        if (trimmed.empty()) continue;
        auto request = decodeRequest(trimmed);
        emit(request ? handle(*request) : Response::failure(std::string(unparsableRequest)));
    }
    return 0;
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
    emit(notAvailableYet("prompt runs are"));
    return 1;
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
        default:
            return notAvailableYet("\"" + std::string(commandName(request.cmd)) + "\" is");
        }
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
