#include "base/Text.h"

#include <utf8proc.h>

#include <algorithm>

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

// Calls visit(offset, length, code point) for each code point in order; false when the
// text is not valid UTF-8. Nothing is stored, so a long text costs no more than itself.
template <typename Visit> bool forEachCodePoint(std::string_view text, Visit&& visit) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    size_t offset = 0;
    while (offset < text.size()) {
        utf8proc_int32_t cp = 0;
        auto n = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &cp);
        if (n <= 0) return false;
        visit(offset, static_cast<size_t>(n), cp);
        offset += static_cast<size_t>(n);
    }
    return true;
}

std::string trimmed(std::string_view text, bool (*isBlank)(utf8proc_int32_t), const char* asciiBlanks) {
    size_t from = text.size();
    size_t to = 0;
    bool ok = forEachCodePoint(text, [&](size_t offset, size_t length, utf8proc_int32_t cp) {
        if (isBlank(cp)) return;
        from = std::min(from, offset);
        to = offset + length;
    });
    if (!ok) {
        auto first = text.find_first_not_of(asciiBlanks);
        if (first == std::string_view::npos) return {};
        auto last = text.find_last_not_of(asciiBlanks);
        return std::string(text.substr(first, last - first + 1));
    }
    if (from >= to) return {};
    return std::string(text.substr(from, to - from));
}

bool isControl(utf8proc_int32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
}

void appendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    static constexpr char hex[] = "0123456789abcdef";
    out += prefix;
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += hex[(value >> shift) & 0xF];
}

} // namespace

std::string trimSpaces(std::string_view text) {
    return trimmed(text, isSpace, " \t");
}

std::string trimWhitespaceAndNewlines(std::string_view text) {
    return trimmed(text, isWhitespaceOrNewline, " \t\n\v\f\r");
}

bool isValidUTF8(std::string_view text) {
    return forEachCodePoint(text, [](size_t, size_t, utf8proc_int32_t) {});
}

std::string escapedControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    size_t offset = 0;
    while (offset < text.size()) {
        utf8proc_int32_t cp = 0;
        auto n = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &cp);
        if (n <= 0) {
            // A stray byte could be a C1 control to a terminal that is not in UTF-8.
            appendHex(out, "\\x", static_cast<unsigned char>(text[offset]), 2);
            ++offset;
            continue;
        }
        if (isControl(cp))
            appendHex(out, cp < 0x80 ? "\\x" : "\\u", static_cast<unsigned>(cp), cp < 0x80 ? 2 : 4);
        else
            out.append(text.substr(offset, static_cast<size_t>(n)));
        offset += static_cast<size_t>(n);
    }
    return out;
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

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::string firstCharacters(std::string_view text, std::size_t count) {
    std::size_t end = 0;
    std::size_t seen = 0;
    while (end < text.size()) {
        if ((static_cast<unsigned char>(text[end]) & 0xC0) != 0x80 && seen++ == count) break;
        ++end;
    }
    return std::string(text.substr(0, end));
}

} // namespace vanto::text
