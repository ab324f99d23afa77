#pragma once

#include "capture/MouseButton.h"
#include "capture/RecorderError.h"
#include "capture/RecorderTypes.h"
#include "engine/PermissionsResult.h"
#include "targets/WindowList.h"
#include "platform/Geometry.h"
#include "service/AccountStatus.h"
#include "service/UploadResult.h"
#include "targets/AXElement.h"

#include <nlohmann/json.hpp>

#include <array>
#include <cstdint>
#include <istream>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

struct Request {
    // In this order; commandNames gives each one's JSON value.
    enum class Command {
        listWindows,
        start,
        stop,
        status,
        move,
        click,
        type,
        key,
        scroll,
        cursor,
        find,
        at,
        permissions,
        connect,
        disconnect,
        account,
        upload,
    };

    Command cmd = Command::listWindows;
    std::optional<Target> target;
    std::optional<std::int64_t> fps;
    std::optional<std::string> output;
    std::optional<bool> showsCursor;
    std::optional<Point> to;
    std::optional<double> duration;
    std::optional<double> settle;
    std::optional<MouseButton> button;
    std::optional<std::string> text;
    std::optional<double> charsPerSecond;
    std::optional<std::vector<std::string>> keys;
    std::optional<std::int64_t> dy;
    std::optional<std::int64_t> dx;
    std::optional<bool> prompt;
    std::optional<std::int32_t> pid;
    std::optional<std::string> role;
    std::optional<std::int64_t> limit;
    std::optional<bool> allWindows;
    std::optional<std::string> label;
    std::optional<std::string> token;
    std::optional<std::string> apiBase;
    std::optional<std::string> path;
    std::optional<std::string> narration;
};

inline constexpr std::array<std::string_view, 17> commandNames{
    "list-windows", "start", "stop", "status",      "move",    "click",      "type",    "key",   "scroll",
    "cursor",       "find",  "at",   "permissions", "connect", "disconnect", "account", "upload"};

std::string_view commandName(Request::Command command);

inline constexpr std::string_view unparsableRequest = "could not parse request as JSON";

// One request line decoded, or the error its answer carries.
struct DecodedRequest {
    std::optional<Request> request;
    std::string error; // when there is no request
};

// Decodes one request line strictly: not JSON, not an object, no or an unknown cmd, or
// any known field of the wrong type is unparsableRequest. A number too large for a
// double adds the parser's reason to it; a number of the right type that does not fit
// its field is refused with a message naming the field. Unknown keys are ignored.
DecodedRequest readRequest(std::string_view line);
// The request, or none for any error.
std::optional<Request> decodeRequest(std::string_view line);

// The longest request line read; a longer one is refused and skipped.
inline constexpr std::size_t longestRequestLine = 1024 * 1024;
inline constexpr std::string_view requestTooLong = "the request line is longer than 1 MiB; it was skipped";

enum class LineRead { line, tooLong, end };

// Reads up to the next line feed (dropped) or the end of input. A line longer than limit
// bytes is skipped up to its line feed without being kept, and gives tooLong with line
// empty; end means the input ended with nothing read.
LineRead readRequestLine(std::istream& in, std::string& line, std::size_t limit = longestRequestLine);

struct CursorResult {
    double x = 0;
    double y = 0;
};

using AccountResult = AccountStatus;

struct Response {
    bool ok = true;
    std::optional<std::string> error;
    std::optional<std::vector<WindowInfo>> windows;
    std::optional<StopResult> stopped;
    std::optional<StatusResult> status;
    std::optional<CursorResult> cursor;
    std::optional<PermissionsResult> permissions;
    std::optional<std::vector<AXElement>> elements;
    std::optional<AccountResult> account;
    std::optional<UploadResult> uploaded;

    static Response success() { return {}; }
    static Response failure(std::string message);
    // "<what> not available in this build yet", for what is named but not built.
    static Response notAvailableYet(const std::string& what);
};

// The answer as JSON, keys in declared order, absent optionals left out.
nlohmann::ordered_json toJSON(const Response& response);

inline constexpr std::string_view encodeFailureLine = R"({"ok":false,"error":"failed to encode response"})";
// The answer's line without its line feed: compact JSON, or the fixed fallback when
// the answer cannot be encoded as valid UTF-8.
std::string answerLine(const Response& response);

// Writes the answer line and a line feed and flushes at once.
void emit(const Response& response, std::ostream& out);

} // namespace vanto
