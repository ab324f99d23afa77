#include "service/HTTPRequest.h"

#include "base/Text.h"

#include <cctype>
#include <charconv>
#include <vector>

namespace vanto {
namespace {

constexpr std::string_view lineBreak = "\r\n";

std::string trimmed(std::string_view text) {
    auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);
    return std::string(text);
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// The parts between blanks, runs of blanks counting as one.
std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> parts;
    while (!line.empty()) {
        auto blank = line.find(' ');
        if (blank != 0) parts.push_back(line.substr(0, blank));
        if (blank == std::string_view::npos) break;
        line.remove_prefix(blank + 1);
    }
    return parts;
}

// Decodes a chunked body from data; none until the last chunk and the trailer's end arrived.
std::optional<std::string> dechunk(std::string_view data) {
    std::string body;
    for (;;) {
        auto end = data.find(lineBreak);
        if (end == std::string_view::npos) return std::nullopt;
        auto sizeText = data.substr(0, end);
        if (auto extension = sizeText.find(';'); extension != std::string_view::npos)
            sizeText = sizeText.substr(0, extension);
        auto sizeDigits = trimmed(sizeText);
        std::size_t size = 0;
        auto [rest, error] = std::from_chars(sizeDigits.data(), sizeDigits.data() + sizeDigits.size(), size, 16);
        if (error != std::errc() || rest != sizeDigits.data() + sizeDigits.size() || sizeDigits.empty())
            return std::nullopt;
        data.remove_prefix(end + lineBreak.size());
        if (size == 0) {
            // Trailer fields, if any, end with an empty line like the head does.
            if (data.starts_with(lineBreak)) return body;
            if (data.find("\r\n\r\n") == std::string_view::npos) return std::nullopt;
            return body;
        }
        if (data.size() < size + lineBreak.size()) return std::nullopt;
        body.append(data.substr(0, size));
        if (data.substr(size, lineBreak.size()) != lineBreak) return std::nullopt;
        data.remove_prefix(size + lineBreak.size());
    }
}

} // namespace

std::optional<HTTPRequest> HTTPRequest::parseHead(std::string_view data, std::size_t* headLength) {
    auto blank = data.find("\r\n\r\n");
    if (blank == std::string_view::npos) return std::nullopt;
    auto head = data.substr(0, blank);
    if (!text::isValidUTF8(head)) return std::nullopt;

    HTTPRequest request;
    bool first = true;
    while (true) {
        auto end = head.find(lineBreak);
        auto line = head.substr(0, end);
        if (first) {
            first = false;
            auto parts = words(line);
            if (parts.size() < 2) return std::nullopt;
            request.method = upper(parts[0]);
            request.path = std::string(parts[1]);
        } else if (auto colon = line.find(':'); colon != std::string_view::npos) {
            request.headers[text::asciiLower(trimmed(line.substr(0, colon)))] = trimmed(line.substr(colon + 1));
        }
        if (end == std::string_view::npos) break;
        head.remove_prefix(end + lineBreak.size());
    }
    if (headLength) *headLength = blank + 4;
    return request;
}

std::optional<HTTPRequest> HTTPRequest::parse(std::string_view data) {
    std::size_t headLength = 0;
    auto request = parseHead(data, &headLength);
    if (!request) return std::nullopt;
    auto rest = data.substr(headLength);
    if (request->isChunked()) {
        auto body = dechunk(rest);
        if (!body) return std::nullopt;
        request->body = std::move(*body);
        return request;
    }
    auto length = request->contentLength();
    if (rest.size() < length) return std::nullopt;
    request->body = std::string(rest.substr(0, length));
    return request;
}

std::size_t HTTPRequest::contentLength() const {
    auto value = header("content-length");
    if (!value || value->empty()) return 0;
    std::size_t length = 0;
    auto [rest, error] = std::from_chars(value->data(), value->data() + value->size(), length);
    if (error != std::errc() || rest != value->data() + value->size()) return 0;
    return length;
}

bool HTTPRequest::isChunked() const {
    auto value = header("transfer-encoding");
    if (!value) return false;
    auto codings = text::asciiLower(*value);
    auto last = codings.rfind(',');
    return trimmed(last == std::string::npos ? std::string_view(codings)
                                             : std::string_view(codings).substr(last + 1)) == "chunked";
}

std::optional<std::string> HTTPRequest::header(const std::string& lowerCaseName) const {
    auto it = headers.find(lowerCaseName);
    if (it == headers.end()) return std::nullopt;
    return it->second;
}

} // namespace vanto
