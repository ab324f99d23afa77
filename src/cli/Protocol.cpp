#include "cli/Protocol.h"

#include "base/Json.h"
#include "base/Text.h"

namespace vanto {
namespace {

Point decodePoint(const nlohmann::json& object) {
    return {json::requireDouble(object, "x"), json::requireDouble(object, "y")};
}

Rect decodeRect(const nlohmann::json& object) {
    return {json::requireDouble(object, "x"), json::requireDouble(object, "y"), json::requireDouble(object, "width"),
            json::requireDouble(object, "height")};
}

Target decodeTarget(const nlohmann::json& object) {
    Target target;
    auto kind = json::requireString(object, "kind");
    if (kind == "window")
        target.kind = Target::Kind::window;
    else if (kind == "display")
        target.kind = Target::Kind::display;
    else
        throw DecodeError("unknown target kind");
    target.windowID = json::optionalUInt32(object, "windowID");
    target.displayID = json::optionalUInt32(object, "displayID");
    if (const auto* rect = json::optionalObject(object, "rect")) target.rect = decodeRect(*rect);
    return target;
}

std::optional<Request::Command> command(std::string_view name) {
    for (size_t i = 0; i < commandNames.size(); ++i)
        if (commandNames[i] == name) return static_cast<Request::Command>(i);
    return std::nullopt;
}

Request decode(const nlohmann::json& object) {
    json::requireObject(object, "a request");
    Request request;
    auto cmd = command(json::requireString(object, "cmd"));
    if (!cmd) throw DecodeError("unknown cmd");
    request.cmd = *cmd;
    if (const auto* target = json::optionalObject(object, "target")) request.target = decodeTarget(*target);
    request.fps = json::optionalInt(object, "fps");
    request.output = json::optionalString(object, "output");
    request.showsCursor = json::optionalBool(object, "showsCursor");
    if (const auto* to = json::optionalObject(object, "to")) request.to = decodePoint(*to);
    request.duration = json::optionalDouble(object, "duration");
    request.settle = json::optionalDouble(object, "settle");
    if (auto button = json::optionalString(object, "button")) {
        request.button = mouseButton(*button);
        if (!request.button) throw DecodeError("unknown button");
    }
    request.text = json::optionalString(object, "text");
    request.charsPerSecond = json::optionalDouble(object, "charsPerSecond");
    request.keys = json::optionalStrings(object, "keys");
    request.dy = json::optionalInt(object, "dy");
    request.dx = json::optionalInt(object, "dx");
    request.prompt = json::optionalBool(object, "prompt");
    request.pid = json::optionalInt32(object, "pid");
    request.role = json::optionalString(object, "role");
    request.limit = json::optionalInt(object, "limit");
    request.allWindows = json::optionalBool(object, "allWindows");
    request.label = json::optionalString(object, "label");
    request.token = json::optionalString(object, "token");
    request.apiBase = json::optionalString(object, "apiBase");
    request.path = json::optionalString(object, "path");
    request.narration = json::optionalString(object, "narration");
    return request;
}

nlohmann::ordered_json toJSON(const WindowInfo& w) {
    return {{"windowID", w.windowID}, {"app", w.app},     {"pid", w.pid},       {"title", w.title},
            {"x", w.x},               {"y", w.y},         {"width", w.width},   {"height", w.height}};
}

nlohmann::ordered_json toJSON(const StopResult& r) {
    nlohmann::ordered_json j{{"path", r.path}, {"duration", r.duration}, {"events", r.events}};
    if (r.warning) j["warning"] = *r.warning;
    return j;
}

nlohmann::ordered_json toJSON(const StatusResult& r) {
    nlohmann::ordered_json j{{"recording", r.recording}};
    if (r.path) j["path"] = *r.path;
    if (r.elapsed) j["elapsed"] = *r.elapsed;
    j["events"] = r.events;
    return j;
}

nlohmann::ordered_json toJSON(const AccountResult& r) {
    nlohmann::ordered_json j{{"connected", r.connected}, {"apiBase", r.apiBase}};
    if (r.email) j["email"] = *r.email;
    if (r.name) j["name"] = *r.name;
    return j;
}

template <typename T>
nlohmann::ordered_json array(const std::vector<T>& items) {
    auto j = nlohmann::ordered_json::array();
    for (const auto& item : items) j.push_back(toJSON(item));
    return j;
}

} // namespace

std::string_view commandName(Request::Command command) {
    return commandNames[static_cast<size_t>(command)];
}

std::optional<Request> decodeRequest(std::string_view line) {
    try {
        return decode(nlohmann::json::parse(line));
    } catch (const nlohmann::json::exception&) {
        return std::nullopt;
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

Response Response::failure(std::string message) {
    Response response;
    response.ok = false;
    response.error = std::move(message);
    return response;
}

nlohmann::ordered_json toJSON(const Response& r) {
    nlohmann::ordered_json j{{"ok", r.ok}};
    if (r.error) j["error"] = *r.error;
    if (r.windows) j["windows"] = array(*r.windows);
    if (r.stopped) j["stopped"] = toJSON(*r.stopped);
    if (r.status) j["status"] = toJSON(*r.status);
    if (r.cursor) j["cursor"] = {{"x", r.cursor->x}, {"y", r.cursor->y}};
    if (r.permissions)
        j["permissions"] = {{"screenRecording", r.permissions->screenRecording},
                            {"accessibility", r.permissions->accessibility}};
    if (r.elements) j["elements"] = array(*r.elements);
    if (r.account) j["account"] = toJSON(*r.account);
    if (r.uploaded) j["uploaded"] = {{"id", r.uploaded->id}, {"url", r.uploaded->url}, {"events", r.uploaded->events}};
    return j;
}

std::string answerLine(const Response& response) {
    try {
        // dump() refuses invalid UTF-8 by throwing, which is the fallback's case.
        auto line = toJSON(response).dump();
        if (!text::isValidUTF8(line)) return std::string(encodeFailureLine);
        return line;
    } catch (const std::exception&) {
        return std::string(encodeFailureLine);
    }
}

void emit(const Response& response, std::ostream& out) {
    out << answerLine(response) << '\n';
    out.flush();
}

} // namespace vanto
