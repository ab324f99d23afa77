#pragma once

#include "base/Error.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace vanto {

// The request could not be carried out at all: no answer came back. The message names
// the service by its origin only, never the path's query or any header.
class HttpTransportError : public Error {
public:
    enum class Case { cannotResolve, cannotConnect, timedOut, connectionLost, failed };

    static HttpTransportError cannotResolve(const std::string& host) {
        return {Case::cannotResolve, "could not find the server " + host};
    }
    static HttpTransportError cannotConnect(const std::string& origin) {
        return {Case::cannotConnect, "could not connect to " + origin};
    }
    static HttpTransportError timedOut(const std::string& origin, double seconds) {
        return {Case::timedOut, "no answer from " + origin + " within " + wholeSeconds(seconds) + "s"};
    }
    static HttpTransportError connectionLost(const std::string& origin) {
        return {Case::connectionLost, "the connection to " + origin + " was lost before the answer arrived"};
    }
    static HttpTransportError failed(const std::string& origin, const std::string& reason) {
        return {Case::failed, "the request to " + origin + " failed: " + reason};
    }

    Case kind() const { return case_; }

private:
    HttpTransportError(Case c, std::string message) : Error(std::move(message)), case_(c) {}
    static std::string wholeSeconds(double seconds) {
        return std::to_string(static_cast<long long>(seconds > 0 && seconds < 1e9 ? seconds : 0));
    }
    Case case_;
};

// The one HTTP client of the program. Everything it does is here: a method, a URL,
// headers and a body (whole or streamed) with a time-out, giving back the status,
// headers and body, or throwing HttpTransportError.
class Http {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    // Fills the buffer with the next bytes of a streamed body; returns how many were
    // written, 0 at the end.
    using BodyReader = std::function<std::size_t(std::span<char>)>;

    struct Request {
        std::string method = "GET";
        std::string url;
        Headers headers;
        std::string body;
        // When set, the body is read from here instead, bodyLength bytes in all.
        BodyReader bodyReader;
        std::uint64_t bodyLength = 0;
        double timeout = 120; // seconds without a byte moving (or to connect) before giving up

        // The value of the first header with this name (any case), or none.
        std::optional<std::string> header(const std::string& name) const;
    };

    struct Response {
        long status = 0;
        Headers headers; // names lower-cased
        std::string body;

        std::optional<std::string> header(const std::string& name) const;
    };

    virtual ~Http() = default;

    // One exchange. The stop token aborts it with Cancelled.
    virtual Response send(const Request& request, std::stop_token stop = {}) = 0;
};

} // namespace vanto
