#include "cli/ControlCommands.h"

#include "service/UploadError.h"

#include <algorithm>
#include <array>
#include <filesystem>

namespace vanto {
namespace {

// A field the command cannot do without; checked before the engine is asked anything.
template <typename T> const T& required(const std::optional<T>& field, const std::string& key) {
    if (!field) throw RecorderError::missingField(key);
    return *field;
}

Response listWindows(Engine& engine, const Request&) {
    Response response;
    response.windows = engine.onScreenWindows();
    return response;
}

Response start(Engine& engine, const Request& request) {
    Recorder::StartParams params;
    params.target = required(request.target, "target");
    params.fps = request.fps.value_or(30);
    params.output = request.output ? std::filesystem::path(*request.output) : engine.defaultOutputURL();
    params.showsCursor = request.showsCursor.value_or(true);
    params.quality = RecordingQuality::standard;
    params.codec = RecordingCodec::h264;
    engine.startRecording(params);
    return {};
}

Response stop(Engine& engine, const Request&) {
    Response response;
    response.stopped = engine.stopRecording();
    return response;
}

Response status(Engine& engine, const Request&) {
    Response response;
    response.status = engine.recordingStatus();
    return response;
}

Response move(Engine& engine, const Request& request) {
    engine.move(required(request.to, "to"), request.duration.value_or(0.4), request.label);
    return {};
}

Response click(Engine& engine, const Request& request) {
    engine.click(request.to, request.button.value_or(MouseButton::left), request.settle.value_or(0.12), request.label);
    return {};
}

Response type(Engine& engine, const Request& request) {
    engine.type(required(request.text, "text"), request.charsPerSecond.value_or(12), request.label);
    return {};
}

Response key(Engine& engine, const Request& request) {
    engine.press(required(request.keys, "keys"), request.label);
    return {};
}

Response scroll(Engine& engine, const Request& request) {
    engine.scroll(request.dy.value_or(0), request.dx.value_or(0), request.duration.value_or(0.6), request.label);
    return {};
}

Response cursor(Engine& engine, const Request&) {
    Response response;
    auto at = engine.cursor();
    response.cursor = CursorResult{at.x, at.y};
    return response;
}

Response find(Engine& engine, const Request& request) {
    AXResolver::FindParams params;
    params.pid = request.pid;
    params.text = request.text;
    params.role = request.role;
    params.limit = std::max<std::int64_t>(request.limit.value_or(20), 0);
    params.allWindows = request.allWindows.value_or(false);
    Response response;
    response.elements = engine.find(params);
    return response;
}

Response at(Engine& engine, const Request& request) {
    Response response;
    if (auto element = engine.elementAt(required(request.to, "to"), request.pid))
        response.elements = std::vector<AXElement>{*element};
    return response;
}

Response permissions(Engine& engine, const Request& request) {
    Response response;
    response.permissions = engine.permissions(request.prompt.value_or(false));
    return response;
}

Response connect(Engine& engine, const Request& request) {
    Response response;
    response.account = engine.connect(request.token, request.apiBase);
    return response;
}

Response disconnect(Engine& engine, const Request&) {
    Response response;
    response.account = engine.disconnect();
    return response;
}

Response account(Engine& engine, const Request&) {
    Response response;
    response.account = engine.account();
    return response;
}

Response upload(Engine& engine, const Request& request) {
    std::optional<std::filesystem::path> file;
    if (request.path) file = *request.path;
    Response response;
    response.uploaded = engine.upload(file, request.narration.value_or(""));
    return response;
}

constexpr std::array<ControlCommand, 17> table{{
    {"list-windows", &listWindows},
    {"start", &start},
    {"stop", &stop},
    {"status", &status},
    {"move", &move},
    {"click", &click},
    {"type", &type},
    {"key", &key},
    {"scroll", &scroll},
    {"cursor", &cursor},
    {"find", &find},
    {"at", &at},
    {"permissions", &permissions},
    {"connect", &connect},
    {"disconnect", &disconnect},
    {"account", &account},
    {"upload", &upload},
}};

} // namespace

std::span<const ControlCommand> controlCommands() {
    return table;
}

const ControlCommand* controlCommand(std::string_view name) {
    auto it = std::ranges::find(table, name, &ControlCommand::name);
    return it == table.end() ? nullptr : &*it;
}

Response answerRequest(Engine& engine, const Request& request) {
    try {
        const auto name = commandName(request.cmd);
        const ControlCommand* command = controlCommand(name);
        if (!command) return Response::notAvailableYet("\"" + std::string(name) + "\" is");
        return command->handler(engine, request);
    } catch (const UploadError& error) {
        if (error.kind() == UploadError::Case::notConnected)
            return Response::failure(
                R"(not connected; send {"cmd":"connect"} to link this machine to a Vanto account)");
        return Response::failure(error.what());
    } catch (const std::exception& error) {
        return Response::failure(error.what());
    }
}

} // namespace vanto
