#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// The parts of an absolute URL that the cloud guard judges, read by the generic URL
// syntax and taken as an address bar takes them: blanks and characters beyond ASCII
// in the path, query and fragment are percent-encoded, and an international host
// becomes its ASCII name. What a browser would repair in ways that could land on
// another host than ours (control characters, backslashes, blanks or broken escapes in
// the host, broken UTF-8) does not parse.
struct URLParts {
    std::string scheme;              // as written
    bool hasUserInfo = false;        // a user name or password (even empty) before "@"
    std::optional<std::string> host; // present with an authority ("//"); percent escapes
                                     // decoded and in ASCII, except inside brackets
    bool bracketed = false;          // the host was an IPv6 literal
    std::optional<std::string> port;
    std::string path; // percent-encoded; escapes that were written stay as they were
    std::optional<std::string> query;
    std::optional<std::string> fragment;

    static std::optional<URLParts> parse(std::string_view text);

    // Percent escapes decoded; none for a broken escape.
    static std::optional<std::string> percentDecoded(std::string_view text);
};

} // namespace vanto
