#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// Host names the way a browser sends them to the name service: an international name
// is mapped (compatibility forms, case folded) and each label that is not plain ASCII
// is written in Punycode behind "xn--".
struct DomainName {
    // The host in ASCII; none when it is not valid UTF-8, or when the browser's mapping
    // could turn it into another name than ours would (the few letters whose mapping
    // differs between the standards, such as "ß"): judging one name while the browser
    // visits another would let it past the guard.
    static std::optional<std::string> toASCII(std::string_view host);

    // One label's code points in Punycode (RFC 3492), without the "xn--"; none when too
    // long to encode.
    static std::optional<std::string> punycode(std::u32string_view label);
};

} // namespace vanto
