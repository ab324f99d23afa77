#include "service/ServiceAddress.h"

#include "base/Text.h"

#include <cctype>

namespace vanto {
namespace {

bool allowedCharacter(unsigned char c) {
    if (c <= 0x20 || c >= 0x7f) return false;
    switch (c) {
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
        return false;
    default:
        return true;
    }
}

bool validScheme(std::string_view scheme) {
    if (scheme.empty() || !std::isalpha(static_cast<unsigned char>(scheme[0]))) return false;
    for (unsigned char c : scheme)
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return false;
    return true;
}

} // namespace

std::optional<ServiceAddress> ServiceAddress::parse(std::string_view text) {
    for (unsigned char c : text)
        if (!allowedCharacter(c) && c != '%' && c != '#') return std::nullopt;
    auto colon = text.find(':');
    if (colon == std::string_view::npos || !validScheme(text.substr(0, colon))) return std::nullopt;
    ServiceAddress parts;
    parts.scheme = text::asciiLower(text.substr(0, colon));
    auto rest = text.substr(colon + 1);
    if (auto hash = rest.find('#'); hash != std::string_view::npos) rest = rest.substr(0, hash);

    if (rest.starts_with("//")) {
        rest.remove_prefix(2);
        auto end = rest.find_first_of("/?");
        auto authority = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end);
        if (auto at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
        std::string_view host = authority;
        std::string_view port;
        if (authority.starts_with("[")) {
            auto close = authority.find(']');
            if (close == std::string_view::npos) return std::nullopt;
            host = authority.substr(0, close + 1);
            auto after = authority.substr(close + 1);
            if (!after.empty()) {
                if (after[0] != ':') return std::nullopt;
                port = after.substr(1);
            }
        } else if (auto portColon = authority.rfind(':'); portColon != std::string_view::npos) {
            host = authority.substr(0, portColon);
            port = authority.substr(portColon + 1);
        }
        if (port.size() > 5) return std::nullopt;
        for (unsigned char c : port)
            if (!std::isdigit(c)) return std::nullopt;
        if (!port.empty() && std::stoul(std::string(port)) > 65535) return std::nullopt;
        parts.host = text::asciiLower(host);
        parts.port = std::string(port);
    }
    auto question = rest.find('?');
    parts.path = std::string(rest.substr(0, question));
    if (question != std::string_view::npos) parts.query = std::string(rest.substr(question + 1));
    return parts;
}

} // namespace vanto
