#include "cloud/URLParts.h"

#include "cloud/DomainName.h"
#include "cloud/IPAddress.h"

#include <utf8proc.h>

#include <cstring>

namespace vanto {
namespace {

bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isHex(char c) {
    return isDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
bool isUnreserved(char c) {
    return isAlpha(c) || isDigit(c) || std::strchr("-._~", c);
}
bool isSubDelim(char c) {
    return c != '\0' && std::strchr("!$&'()*+,;=", c);
}
bool isGenDelim(char c) {
    return c != '\0' && std::strchr(":/?#[]@", c);
}

bool validUTF8(std::string_view text) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t point = 0;
        const auto used = utf8proc_iterate(bytes, left, &point);
        if (used <= 0) return false;
        bytes += used;
        left -= used;
    }
    return true;
}

// Every character is one a URI may hold, and every "%" starts an escape. Bytes of
// characters beyond ASCII pass when allowed: they are judged (or encoded) later.
bool onlyURICharacters(std::string_view text, bool allowingNonASCII) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (static_cast<unsigned char>(c) >= 0x80 && allowingNonASCII) continue;
        if (c == '%') {
            if (i + 2 >= text.size()) return false;
            if (!isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
            i += 2;
            continue;
        }
        if (!isUnreserved(c) && !isSubDelim(c) && !isGenDelim(c)) return false;
    }
    return true;
}

// A path, query or fragment as a browser sends it: blanks, characters beyond ASCII (as
// UTF-8 bytes), the few other characters a URI may not hold and a "%" that starts no
// escape are percent-encoded. None of them can change the host.
std::string encodedPart(std::string_view text) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        const bool strayPercent = byte == '%' && (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2]));
        if (byte >= 0x80 || strayPercent || (byte != 0 && std::strchr(" \"<>`{}|^", byte))) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 15];
        } else {
            out += static_cast<char>(byte);
        }
    }
    return out;
}

// What an address bar repairs in ways that could move the host is refused: control
// characters (a browser drops tabs and line breaks, joining what they split),
// backslashes (a browser reads them as "/") and broken UTF-8.
bool refusedEverywhere(std::string_view text) {
    for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '\\') return true;
    }
    return !validUTF8(text);
}

// Host names the way DNS spells them; anything else a browser would rewrite first.
bool isPlainHostName(std::string_view host) {
    for (char c : host)
        if (!isAlpha(c) && !isDigit(c) && c != '-' && c != '.' && c != '_') return false;
    return true;
}

} // namespace

std::optional<std::string> URLParts::percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out += text[i];
            continue;
        }
        if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
        auto hex = [](char c) { return isDigit(c) ? c - '0' : (c | 0x20) - 'a' + 10; };
        out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
        i += 2;
    }
    return out;
}

std::optional<URLParts> URLParts::parse(std::string_view text) {
    if (refusedEverywhere(text)) return std::nullopt;
    URLParts url;

    auto colon = text.find(':');
    if (colon == std::string_view::npos || colon == 0 || !isAlpha(text[0])) return std::nullopt;
    for (char c : text.substr(0, colon))
        if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return std::nullopt;
    url.scheme = std::string(text.substr(0, colon));
    std::string_view rest = text.substr(colon + 1);

    if (auto hash = rest.find('#'); hash != std::string_view::npos) {
        url.fragment = encodedPart(rest.substr(hash + 1));
        rest = rest.substr(0, hash);
    }
    if (auto question = rest.find('?'); question != std::string_view::npos) {
        url.query = encodedPart(rest.substr(question + 1));
        rest = rest.substr(0, question);
    }

    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto slash = rest.find('/');
        std::string_view authority = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash);
        if (!onlyURICharacters(authority, true)) return std::nullopt;

        if (auto at = authority.rfind('@'); at != std::string_view::npos) {
            url.hasUserInfo = true;
            if (authority.substr(0, at).find('@') != std::string_view::npos) return std::nullopt;
            authority = authority.substr(at + 1);
        }

        std::string_view host;
        std::string_view afterHost;
        if (authority.starts_with("[")) {
            auto close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            host = authority.substr(0, close + 1);
            afterHost = authority.substr(close + 1);
            // Only an IPv6 address, with or without a zone, belongs in brackets.
            auto inside = host.substr(1, host.size() - 2);
            if (!IPAddress::parseV6(inside.substr(0, inside.find('%')))) return std::nullopt;
            url.bracketed = true;
            url.host = std::string(host);
        } else {
            auto portColon = authority.find(':');
            host = authority.substr(0, portColon);
            afterHost = portColon == std::string_view::npos ? std::string_view{} : authority.substr(portColon);
            if (host.find_first_of("[]") != std::string_view::npos) return std::nullopt;
            auto decoded = percentDecoded(host);
            auto ascii = decoded ? DomainName::toASCII(*decoded) : std::nullopt;
            if (!ascii || !isPlainHostName(*ascii)) return std::nullopt;
            url.host = *ascii;
        }
        if (!afterHost.empty()) {
            if (afterHost[0] != ':') return std::nullopt;
            auto port = afterHost.substr(1);
            for (char c : port)
                if (!isDigit(c)) return std::nullopt;
            url.port = std::string(port);
        }
    }
    url.path = encodedPart(rest);
    return url;
}

} // namespace vanto
