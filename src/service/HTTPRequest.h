#pragma once

#include <cstddef>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// The loopback callback's minimal request parser. It only ever sees what a browser
// on this machine sends to the connect callback, but any local process may send it
// anything, so every input ends in an answer: never an exception or a wrap-around.
struct HTTPRequest {
    std::string method;                         // upper-cased
    std::string path;                           // as sent, query included
    std::map<std::string, std::string> headers; // lower-cased names; a later duplicate wins
    std::string body;

    enum class State {
        incomplete, // more bytes may complete it
        complete,
        malformed, // no further bytes can make it a request
        tooLarge,  // it says, or already is, more than the bound allows
    };

    struct Reading;

    // Reads data as one request of at most maxBytes bytes in all. The body is the
    // declared "Content-Length" bytes (0 when missing or unreadable; extra bytes are cut
    // off), or the decoded chunks of a chunked body.
    static Reading read(std::string_view data, std::size_t maxBytes = std::numeric_limits<std::size_t>::max());

    // The whole request once all of it has arrived, else none.
    static std::optional<HTTPRequest> parse(std::string_view data);

    // The request line and headers once the blank line after them has arrived; the
    // body is left empty. headLength gets the bytes up to and including the blank line.
    static std::optional<HTTPRequest> parseHead(std::string_view data, std::size_t* headLength = nullptr);

    // The declared "Content-Length", 0 when missing or unreadable.
    std::size_t contentLength() const;
    bool isChunked() const;

    std::optional<std::string> header(const std::string& lowerCaseName) const;
};

// What the bytes received so far amount to. request holds the whole request when
// complete, and the head alone (when it arrived) otherwise, for the answer's headers.
struct HTTPRequest::Reading {
    State state = State::incomplete;
    std::optional<HTTPRequest> request;
};

} // namespace vanto
