#include "cloud/CloudGuard.h"

#include "base/Text.h"
#include "cloud/IPAddress.h"
#include "cloud/URLParts.h"

#include <algorithm>
#include <system_error>

namespace vanto {
namespace {

namespace fs = std::filesystem;

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isNumericPiece(std::string_view piece) {
    if (piece.starts_with("0x")) return std::all_of(piece.begin() + 2, piece.end(), isHexDigit);
    return std::all_of(piece.begin(), piece.end(), isDigit);
}

fs::path standardized(const fs::path& file) {
    std::error_code error;
    auto absolute = fs::absolute(file, error);
    return (error ? file : absolute).lexically_normal();
}

// Only file:///path (no host, no query, no fragment) can name one of our cards.
bool isAllowedFile(const URLParts& url, const std::vector<fs::path>& allowing) {
    if (url.host && !url.host->empty()) return false;
    if (url.query || url.fragment) return false;
    auto path = URLParts::percentDecoded(url.path);
    if (!path || !path->starts_with("/") || path->find('\0') != std::string::npos) return false;
    auto shown = fs::path(*path).lexically_normal();
    return std::any_of(allowing.begin(), allowing.end(),
                       [&](const fs::path& allowed) { return standardized(allowed) == shown; });
}

std::string trimmedOf(std::string_view text, std::string_view characters) {
    auto first = text.find_first_not_of(characters);
    if (first == std::string_view::npos) return {};
    auto last = text.find_last_not_of(characters);
    return std::string(text.substr(first, last - first + 1));
}

bool hasSchemeSeparator(std::string_view text) {
    if (text.empty() || !isLetter(text[0])) return false;
    std::size_t i = 1;
    while (i < text.size() &&
           (isLetter(text[i]) || isDigit(text[i]) || text[i] == '+' || text[i] == '.' || text[i] == '-'))
        ++i;
    return text.substr(i).starts_with("://");
}

bool hasBrowserScheme(std::string_view text) {
    std::string lowered = text::asciiLower(text.substr(0, 12));
    for (std::string_view scheme : {"about:", "chrome:", "file:", "javascript:", "data:", "view-source:", "blob:"})
        if (lowered.starts_with(scheme)) return true;
    return false;
}

} // namespace

CloudGuard::Refusal CloudGuard::Refusal::blocked(const std::string& address) {
    return {"a run an assistant asked for only opens public web pages, not " + address, address};
}

bool CloudGuard::nameIsPublic(std::string_view host) {
    if (host == "localhost") return false;
    if (host.find('.') == std::string_view::npos) return false;
    for (std::string_view suffix : {".localhost", ".local", ".internal", ".localdomain", ".home.arpa"})
        if (host.ends_with(suffix)) return false;
    std::size_t start = 0;
    for (;;) {
        auto dot = host.find('.', start);
        std::string piece = text::asciiLower(host.substr(start, dot == std::string_view::npos ? dot : dot - start));
        if (!piece.empty() && !isNumericPiece(piece)) return true;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return false;
}

void CloudGuard::check(std::string_view address, const std::vector<fs::path>& allowing, const Resolve& resolve) {
    const std::string trimmed = text::trimWhitespaceAndNewlines(address);
    if (text::asciiLower(trimmed) == "about:blank") return;
    auto url = URLParts::parse(trimmed);
    if (!url) throw Refusal::blocked(trimmed);
    const std::string scheme = text::asciiLower(url->scheme);
    if (scheme == "file" && isAllowedFile(*url, allowing)) return;
    if (scheme != "http" && scheme != "https") throw Refusal::blocked(trimmed);
    if (url->hasUserInfo || !url->host || url->host->empty()) throw Refusal::blocked(trimmed);

    const std::string host = trimmedOf(text::asciiLower(*url->host), "[].");
    if (auto ip = IPAddress::fromText(host)) {
        if (!ip->isPublic()) throw Refusal::blocked(trimmed);
        return;
    }
    if (!nameIsPublic(host)) throw Refusal::blocked(trimmed);
    for (const auto& text : resolve(host)) {
        auto ip = IPAddress::fromText(text);
        if (ip && !ip->isPublic()) throw Refusal::blocked(trimmed);
    }
}

void CloudGuard::checkShown(std::string_view address, const std::vector<fs::path>& allowing, const Resolve& resolve) {
    std::string trimmed = text::trimWhitespaceAndNewlines(address);
    if (trimmed.empty()) return;
    if (!hasSchemeSeparator(trimmed) && !hasBrowserScheme(trimmed)) trimmed = "https://" + trimmed;
    check(trimmed, allowing, resolve);
}

CloudGuard::Resolve CloudGuard::resolve(Resolver& system) {
    return [&system](const std::string& host) { return system.addresses(host); };
}

} // namespace vanto
