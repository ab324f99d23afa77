#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// What a later launch of the program asks of the window that is already open.
struct HandoffRequest {
    // The sheet to open, as an absolute path; none just brings the window up.
    std::optional<std::filesystem::path> sheet;

    bool operator==(const HandoffRequest&) const = default;
};

// The wire form of a request and its answer: one JSON object per line. The backends
// carry the lines; what a line means is decided here, once.
namespace handoff {

// The request as one line, without its line feed.
std::string encode(const HandoffRequest& request);

// What a line carried: a request, or why it was refused.
struct Decoded {
    std::optional<HandoffRequest> request;
    std::string error;
};
// A line that is not a JSON object, or whose "sheet" is not an absolute path, is
// refused: a relative path would be read against the wrong folder by the window.
Decoded decode(std::string_view line);

// The answer line the window sends back once it took a request, and the one it sends
// when it refused it.
std::string taken();
std::string refused(const std::string& error);
// Whether an answer line says the request was taken.
bool wasTaken(std::string_view answer);

// The longest request line a window reads; anything longer is refused unread.
inline constexpr std::size_t longestLine = 64 * 1024;

} // namespace handoff

// One window per person at the desktop. The first window listens; a later launch
// offers it its request and ends when the window took it.
class Handoff {
public:
    using Take = std::function<void(HandoffRequest request)>;

    virtual ~Handoff() = default;

    // Hands the request to this person's running window. True once that window took it;
    // false when none is running (or it did not answer), so the caller opens its own.
    virtual bool offer(const HandoffRequest& request) = 0;

    // Becomes the running window: from now on take receives each request a later launch
    // offers, on a thread of the handoff's own; take must not wait for the thread that
    // calls stop(). False when another window already listens, or listening is
    // impossible here.
    virtual bool listen(Take take) = 0;

    // Stops listening; take is not called any more once this returns. Safe to call
    // twice, and when listen never succeeded.
    virtual void stop() = 0;
};

} // namespace vanto
