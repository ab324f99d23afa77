#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// The parts of an absolute URL that the cloud guard judges, read strictly by the
// generic URL syntax. Text a browser would have to repair (blanks, control
// characters, backslashes, characters outside ASCII, broken percent escapes) does
// not parse, because the browser's repair could land on another host than ours.
struct URLParts {
    std::string scheme;              // as written
    bool hasUserInfo = false;        // a user name or password (even empty) before "@"
    std::optional<std::string> host; // present with an authority ("//"); percent escapes
                                     // decoded, except inside brackets
    bool bracketed = false;          // the host was an IPv6 literal
    std::optional<std::string> port;
    std::string path; // percent escapes left as written
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    static std::optional<URLParts> parse(std::string_view text);

    // Percent escapes decoded; none for a broken escape.
    static std::optional<std::string> percentDecoded(std::string_view text);
};

} // namespace vanto
