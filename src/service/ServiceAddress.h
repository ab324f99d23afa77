#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// The pieces of an absolute web address, as far as the service client needs them.
struct ServiceAddress {
    std::string scheme; // lower-cased
    std::string host;   // may be empty for an address such as "file:///x"
    std::string port;   // digits, or empty
    std::string path;   // from the first "/" after the host up to "?" or "#"
    std::string query;  // after "?", without it

    // None when the text is not a well-formed absolute address: a missing scheme,
    // white space or other characters that may not appear in an address, or a
    // malformed port.
    static std::optional<ServiceAddress> parse(std::string_view text);
};

} // namespace vanto
