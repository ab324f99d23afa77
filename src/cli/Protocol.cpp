#include "cli/Protocol.h"

#include "base/Json.h"
#include "base/Text.h"

#include <istream>
#include <limits>

namespace vanto {
namespace {

// Screen points and sizes are whole pixels on every backend; a value beyond an int names
// no place on any screen.
double coordinate(const nlohmann::json& object, const char* key) {
    constexpr auto limit = std::numeric_limits<std::int32_t>::max();
    double value = json::requireDouble(object, key);
    if (value < -limit || value > limit)
        throw BadNumber("\"" + std::string(key) + "\" must be a number from -" + std::to_string(limit) + " to " +
                        std::to_string(limit));
    return value;
}

// Decodes the object under key, naming the key in front of a number it cannot use.
template <typename Decode> auto inside(const char* key, Decode&& decode) {
    try {
        return decode();
    } catch (const BadNumber& error) {
        throw BadNumber(std::string(key) + ": " + error.what());
    }
}

Point decodePoint(const nlohmann::json& object) {
    return {coordinate(object, "x"), coordinate(object, "y")};
}

Rect decodeRect(const nlohmann::json& object) {
    return {coordinate(object, "x"), coordinate(object, "y"), coordinate(object, "width"),
            coordinate(object, "height")};
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
    if (const auto* rect = json::optionalObject(object, "rect"))
        target.rect = inside("rect", [&] { return decodeRect(*rect); });
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
    if (const auto* target = json::optionalObject(object, "target"))
        request.target = inside("target", [&] { return decodeTarget(*target); });
    // Counts and distances fit an int; larger ones are refused rather than cut down.
    request.fps = json::optionalInt32(object, "fps");
    request.output = json::optionalString(object, "output");
    request.showsCursor = json::optionalBool(object, "showsCursor");
    if (const auto* to = json::optionalObject(object, "to"))
        request.to = inside("to", [&] { return decodePoint(*to); });
    request.duration = json::optionalDouble(object, "duration");
    request.settle = json::optionalDouble(object, "settle");
    if (auto button = json::optionalString(object, "button")) {
        request.button = mouseButton(*button);
        if (!request.button) throw DecodeError("unknown button");
    }
    request.text = json::optionalString(object, "text");
    request.charsPerSecond = json::optionalDouble(object, "charsPerSecond");
    request.keys = json::optionalStrings(object, "keys");
    request.dy = json::optionalInt32(object, "dy");
    request.dx = json::optionalInt32(object, "dx");
    request.prompt = json::optionalBool(object, "prompt");
    request.pid = json::optionalInt32(object, "pid");
    request.role = json::optionalString(object, "role");
    request.limit = json::optionalInt32(object, "limit");
    request.allWindows = json::optionalBool(object, "allWindows");
    request.label = json::optionalString(object, "label");
    request.token = json::optionalString(object, "token");
    request.apiBase = json::optionalString(object, "apiBase");
    request.path = json::optionalString(object, "path");
    request.narration = json::optionalString(object, "narration");
    return request;
}

nlohmann::ordered_json toJSON(const WindowInfo& w) {
    return {{"windowID", w.windowID}, {"app", w.app},      {"pid", w.pid}, {"title", w.title}, {"x", w.x}, {"y", w.y},
            {"width", w.width},       {"height", w.height}};
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

template <typename T> nlohmann::ordered_json array(const std::vector<T>& items) {
    auto j = nlohmann::ordered_json::array();
    for (const auto& item : items) j.push_back(toJSON(item));
    return j;
}

} // namespace

std::string_view commandName(Request::Command command) {
    return commandNames[static_cast<size_t>(command)];
}

DecodedRequest readRequest(std::string_view line) {
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(line);
    } catch (const nlohmann::json::out_of_range& error) {
        // Well-formed, but a number no double holds (1e999): the parser's words say which.
        return {std::nullopt, std::string(unparsableRequest) + ": " + json::description(error)};
    } catch (const nlohmann::json::exception&) {
        return {std::nullopt, std::string(unparsableRequest)};
    }
    try {
        return {decode(document), {}};
    } catch (const BadNumber& error) {
        return {std::nullopt, error.what()};
    } catch (const DecodeError&) {
    } catch (const nlohmann::json::exception&) {
    }
    return {std::nullopt, std::string(unparsableRequest)};
}

std::optional<Request> decodeRequest(std::string_view line) {
    return readRequest(line).request;
}

LineRead readRequestLine(std::istream& in, std::string& line, std::size_t limit) {
    line.clear();
    auto* buffer = in.rdbuf();
    using Traits = std::istream::traits_type;
    for (;;) {
        auto c = buffer->sbumpc();
        if (Traits::eq_int_type(c, Traits::eof())) {
            in.setstate(std::ios::eofbit);
            return line.empty() ? LineRead::end : LineRead::line;
        }
        if (c == '\n') return LineRead::line;
        if (line.size() == limit) {
            // The rest is skipped as it arrives, never held.
            line.clear();
            do {
                c = buffer->sbumpc();
            } while (!Traits::eq_int_type(c, Traits::eof()) && c != '\n');
            return LineRead::tooLong;
        }
        line.push_back(Traits::to_char_type(c));
    }
}

Response Response::failure(std::string message) {
    Response response;
    response.ok = false;
    response.error = std::move(message);
    return response;
}

Response Response::notAvailableYet(const std::string& what) {
    return failure(what + " not available in this build yet");
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
        // Writing refuses invalid UTF-8 by throwing, which is the fallback's case.
        auto line = json::written(toJSON(response));
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
