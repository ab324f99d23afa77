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

struct Dechunked {
    HTTPRequest::State state = HTTPRequest::State::incomplete;
    std::string body;
};

// Decodes a chunked body from data, which must not decode to more than maxBody bytes.
// Complete once the last chunk and the trailer's end arrived. Sizes are compared with
// what is there, never added to, so no declared size can wrap a sum.
Dechunked dechunk(std::string_view data, std::size_t maxBody) {
    using State = HTTPRequest::State;
    Dechunked out;
    for (;;) {
        auto end = data.find(lineBreak);
        if (end == std::string_view::npos) return out;
        auto sizeText = data.substr(0, end);
        if (auto extension = sizeText.find(';'); extension != std::string_view::npos)
            sizeText = sizeText.substr(0, extension);
        auto sizeDigits = trimmed(sizeText);
        std::size_t size = 0;
        auto [rest, error] = std::from_chars(sizeDigits.data(), sizeDigits.data() + sizeDigits.size(), size, 16);
        if (error == std::errc::result_out_of_range) return {State::tooLarge, {}};
        if (error != std::errc() || rest != sizeDigits.data() + sizeDigits.size() || sizeDigits.empty())
            return {State::malformed, {}};
        if (size > maxBody - out.body.size()) return {State::tooLarge, {}};
        data.remove_prefix(end + lineBreak.size());
        if (size == 0) {
            // Trailer fields, if any, end with an empty line like the head does.
            if (data.starts_with(lineBreak) || data.find("\r\n\r\n") != std::string_view::npos)
                out.state = State::complete;
            return out;
        }
        if (size > data.size()) return out;
        auto after = data.substr(size);
        if (!after.starts_with(lineBreak)) {
            if (after.size() < lineBreak.size() && lineBreak.starts_with(after)) return out;
            return {State::malformed, {}};
        }
        out.body.append(data.substr(0, size));
        data = after.substr(lineBreak.size());
    }
}

// A request line is whole once its line break arrived: a method and a path in text.
bool isRequestLine(std::string_view line) {
    return text::isValidUTF8(line) && words(line).size() >= 2;
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

HTTPRequest::Reading HTTPRequest::read(std::string_view data, std::size_t maxBytes) {
    Reading reading;
    std::size_t headLength = 0;
    reading.request = parseHead(data, &headLength);
    if (data.size() > maxBytes) {
        reading.state = State::tooLarge;
        return reading;
    }
    auto firstLine = data.find(lineBreak);
    if (firstLine != std::string_view::npos && !isRequestLine(data.substr(0, firstLine))) {
        reading.state = State::malformed;
        return reading;
    }
    if (!reading.request) {
        // A head whose blank line arrived but that does not read is not waited on.
        reading.state = data.find("\r\n\r\n") == std::string_view::npos ? State::incomplete : State::malformed;
        return reading;
    }
    auto rest = data.substr(headLength);
    auto room = maxBytes - headLength;
    if (reading.request->isChunked()) {
        auto body = dechunk(rest, room);
        reading.state = body.state;
        if (body.state == State::complete) reading.request->body = std::move(body.body);
        return reading;
    }
    auto length = reading.request->contentLength();
    if (length > room) {
        reading.state = State::tooLarge;
    } else if (rest.size() >= length) {
        reading.state = State::complete;
        reading.request->body = std::string(rest.substr(0, length));
    }
    return reading;
}

std::optional<HTTPRequest> HTTPRequest::parse(std::string_view data) {
    auto reading = read(data);
    if (reading.state != State::complete) return std::nullopt;
    return std::move(reading.request);
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
