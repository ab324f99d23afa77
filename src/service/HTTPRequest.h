#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// The loopback callback's minimal request parser. It only ever sees what a browser
// on this machine sends to the connect callback.
struct HTTPRequest {
    std::string method;                         // upper-cased
    std::string path;                           // as sent, query included
    std::map<std::string, std::string> headers; // lower-cased names; a later duplicate wins
    std::string body;

    // The whole request once all of it has arrived, else none (more bytes may make it
    // complete). The body is the declared "Content-Length" bytes (0 when missing or
    // unreadable; extra bytes are cut off), or the decoded chunks of a chunked body.
    static std::optional<HTTPRequest> parse(std::string_view data);

    // The request line and headers once the blank line after them has arrived; the
    // body is left empty. headLength gets the bytes up to and including the blank line.
    static std::optional<HTTPRequest> parseHead(std::string_view data, std::size_t* headLength = nullptr);

    // The declared "Content-Length", 0 when missing or unreadable.
    std::size_t contentLength() const;
    bool isChunked() const;

    std::optional<std::string> header(const std::string& lowerCaseName) const;
};

} // namespace vanto
