#pragma once

#include "platform/Clock.h"
#include "platform/Http.h"

#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

namespace vanto::fake {

// An HTTP client that answers from a script, in order, and records every request
// with the clock's time. When the script runs out, the last answer given is repeated.
class ScriptedHttp final : public Http {
public:
    explicit ScriptedHttp(Clock* clock = nullptr) : clock_(clock) {}

    void answer(long status, std::string body, Headers headers = {});
    void fail(HttpTransportError error);

    Response send(const Request& request, std::stop_token stop = {}) override;

    struct Sent {
        Request request;
        double at = 0;
    };
    std::vector<Sent> sent();

private:
    using Entry = std::variant<Response, std::exception_ptr>;
    Clock* clock_;
    std::mutex mutex_;
    std::deque<Entry> script_;
    std::optional<Entry> last_;
    std::vector<Sent> sent_;
};

} // namespace vanto::fake
