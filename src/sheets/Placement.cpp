#include "sheets/Placement.h"

#include "base/Numbers.h"
#include "base/Text.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <vector>

namespace vanto::Placement {
namespace {

std::vector<std::string_view> pieces(std::string_view text, char separator, bool keepEmpty) {
    std::vector<std::string_view> result;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(separator, start);
        const auto piece = text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (keepEmpty || !piece.empty()) result.push_back(piece);
        if (end == std::string_view::npos) return result;
        start = end + 1;
    }
}

std::optional<double> nonNegative(std::string_view text) {
    auto value = parseDecimal(text);
    if (!value || *value < 0) return std::nullopt;
    return value;
}

bool isAlpha(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Only characters a URL may hold, and every "%" starts an escape: anything else does not
// read as a URL, and its text is taken as it is.
bool readsAsURL(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
            i += 2;
        } else if (!(isAlpha(c) || (c >= '0' && c <= '9') || std::strchr("-._~:/?#[]@!$&'()*+,;=", c))) {
            return false;
        }
    }
    return true;
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c - 'A' + 10;
}

std::string percentDecoded(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// The path of a URL: after its scheme and authority, before its query and fragment.
std::string urlPath(std::string_view url) {
    std::size_t colon = url.find(':');
    bool scheme = colon != std::string_view::npos && colon > 0 && isAlpha(url[0]);
    for (std::size_t i = 0; scheme && i < colon; ++i)
        scheme = isAlpha(url[i]) || (url[i] >= '0' && url[i] <= '9') || url[i] == '+' || url[i] == '-' || url[i] == '.';
    if (scheme) url.remove_prefix(colon + 1);
    if (url.substr(0, 2) == "//") {
        const std::size_t pathStart = url.find_first_of("/?#", 2);
        url = pathStart == std::string_view::npos ? std::string_view() : url.substr(pathStart);
    }
    url = url.substr(0, url.find_first_of("?#"));
    return percentDecoded(url);
}

} // namespace

std::optional<double> seconds(std::string_view text) {
    const std::string trimmed = text::trimWhitespaceAndNewlines(text);
    if (trimmed.empty()) return std::nullopt;
    const auto parts = pieces(trimmed, ':', true);
    double value = 0;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        auto piece = nonNegative(parts[i]);
        if (!piece || (i > 0 && *piece >= 60)) return std::nullopt;
        value = value * 60 + *piece;
    }
    return value;
}

std::string clock(double seconds) {
    // Tenths of a second, halves away from zero; nonsense counts as nothing and a time
    // beyond all reason stops at the largest one that can be shown.
    const double tenths = std::isnan(seconds) || seconds < 0 ? 0 : std::round(seconds * 10);
    const std::int64_t t = truncatedToInt64(tenths).value_or(std::numeric_limits<std::int64_t>::max());
    const long long minutes = t / 600;
    const long long rest = t % 600;
    char text[64];
    if (rest % 10 == 0)
        std::snprintf(text, sizeof text, "%lld:%02lld", minutes, rest / 10);
    else
        std::snprintf(text, sizeof text, "%lld:%04.1f", minutes, static_cast<double>(rest) / 10);
    return text;
}

std::string videoID(std::string_view text) {
    const std::string trimmed = text::trimWhitespaceAndNewlines(text);
    if (trimmed.find('/') == std::string::npos) return trimmed;
    const std::string path = readsAsURL(trimmed) ? urlPath(trimmed) : trimmed;
    const auto parts = pieces(path, '/', false);
    if (parts.empty()) return trimmed;
    return std::string(parts.back());
}

} // namespace vanto::Placement
