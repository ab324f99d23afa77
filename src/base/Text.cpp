#include "base/Text.h"

#include <utf8proc.h>

#include <vector>

namespace vanto::text {
namespace {

bool isSpace(utf8proc_int32_t cp) {
    return cp == '\t' || utf8proc_category(cp) == UTF8PROC_CATEGORY_ZS;
}

bool isWhitespaceOrNewline(utf8proc_int32_t cp) {
    if ((cp >= 0x09 && cp <= 0x0D) || cp == 0x85) return true;
    auto category = utf8proc_category(cp);
    return category == UTF8PROC_CATEGORY_ZS || category == UTF8PROC_CATEGORY_ZL || category == UTF8PROC_CATEGORY_ZP;
}

struct CodePoint {
    size_t offset;
    size_t length;
    utf8proc_int32_t value;
};

// Decodes text into code points; empty with ok false when it is not valid UTF-8.
std::vector<CodePoint> decode(std::string_view text, bool& ok) {
    std::vector<CodePoint> points;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    size_t offset = 0;
    ok = true;
    while (offset < text.size()) {
        utf8proc_int32_t cp = 0;
        auto n = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &cp);
        if (n <= 0) {
            ok = false;
            return {};
        }
        points.push_back({offset, static_cast<size_t>(n), cp});
        offset += static_cast<size_t>(n);
    }
    return points;
}

std::string trimmed(std::string_view text, bool (*isBlank)(utf8proc_int32_t), const char* asciiBlanks) {
    bool ok = false;
    auto points = decode(text, ok);
    if (!ok) {
        auto first = text.find_first_not_of(asciiBlanks);
        if (first == std::string_view::npos) return {};
        auto last = text.find_last_not_of(asciiBlanks);
        return std::string(text.substr(first, last - first + 1));
    }
    size_t begin = 0;
    size_t end = points.size();
    while (begin < end && isBlank(points[begin].value)) ++begin;
    while (end > begin && isBlank(points[end - 1].value)) --end;
    if (begin == end) return {};
    size_t from = points[begin].offset;
    size_t to = points[end - 1].offset + points[end - 1].length;
    return std::string(text.substr(from, to - from));
}

} // namespace

std::string trimSpaces(std::string_view text) { return trimmed(text, isSpace, " \t"); }

std::string trimWhitespaceAndNewlines(std::string_view text) {
    return trimmed(text, isWhitespaceOrNewline, " \t\n\v\f\r");
}

bool isValidUTF8(std::string_view text) {
    bool ok = false;
    decode(text, ok);
    return ok;
}

std::string asciiLower(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lowered;
}

std::string escapedHTML(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace vanto::text
