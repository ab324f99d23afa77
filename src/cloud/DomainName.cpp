#include "cloud/DomainName.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace vanto {
namespace {

// RFC 3492's parameters for Punycode.
constexpr std::uint64_t base = 36, tmin = 1, tmax = 26, skew = 38, damp = 700;
constexpr std::uint64_t initialBias = 72, initialN = 128;
// Far beyond any label a name service takes, and small enough that no sum overflows.
constexpr std::size_t longestLabel = 1024;

std::uint64_t adapt(std::uint64_t delta, std::uint64_t points, bool first) {
    delta = first ? delta / damp : delta / 2;
    delta += delta / points;
    std::uint64_t k = 0;
    while (delta > ((base - tmin) * tmax) / 2) {
        delta /= base - tmin;
        k += base;
    }
    return k + (base - tmin + 1) * delta / (delta + skew);
}

char digit(std::uint64_t d) {
    return static_cast<char>(d < 26 ? 'a' + d : '0' + (d - 26));
}

std::optional<std::u32string> codePoints(std::string_view text) {
    std::u32string points;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    auto left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t point = 0;
        const auto used = utf8proc_iterate(bytes, left, &point);
        if (used <= 0 || point < 0) return std::nullopt;
        points.push_back(static_cast<char32_t>(point));
        bytes += used;
        left -= used;
    }
    return points;
}

// Compatibility forms and case folded, ignorable characters dropped, composed; none for
// unassigned characters.
std::optional<std::string> mapped(std::string_view text) {
    utf8proc_uint8_t* out = nullptr;
    const auto length = utf8proc_map(
        reinterpret_cast<const utf8proc_uint8_t*>(text.data()), static_cast<utf8proc_ssize_t>(text.size()), &out,
        static_cast<utf8proc_option_t>(UTF8PROC_STABLE | UTF8PROC_COMPAT | UTF8PROC_COMPOSE | UTF8PROC_CASEFOLD |
                                       UTF8PROC_IGNORE | UTF8PROC_REJECTNA));
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owned(out, &std::free);
    if (length < 0) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(out), static_cast<std::size_t>(length));
}

// Letters the browser's mapping keeps (or treats otherwise) while case folding rewrites
// them: "straße" is its own name to a browser, "strasse" to case folding.
bool mapsDifferently(char32_t point) {
    return point == U'\u00DF' || point == U'\u03C2' || point == U'\u1E9E' || point == U'\u200C' || point == U'\u200D';
}

} // namespace

std::optional<std::string> DomainName::punycode(std::u32string_view label) {
    if (label.size() > longestLabel) return std::nullopt;
    std::string out;
    for (char32_t point : label)
        if (point < 0x80) out += static_cast<char>(point);
    const std::uint64_t basic = out.size();
    std::uint64_t handled = basic;
    if (basic > 0) out += '-';

    std::uint64_t n = initialN, delta = 0, bias = initialBias;
    while (handled < label.size()) {
        std::uint64_t next = UINT32_MAX;
        for (char32_t point : label)
            if (point >= n && point < next) next = point;
        delta += (next - n) * (handled + 1);
        n = next;
        for (char32_t point : label) {
            if (point < n) ++delta;
            if (point != n) continue;
            std::uint64_t q = delta;
            for (std::uint64_t k = base;; k += base) {
                const std::uint64_t t = k <= bias ? tmin : k >= bias + tmax ? tmax : k - bias;
                if (q < t) break;
                out += digit(t + (q - t) % (base - t));
                q = (q - t) / (base - t);
            }
            out += digit(q);
            bias = adapt(delta, handled + 1, handled == basic);
            delta = 0;
            ++handled;
        }
        ++delta;
        ++n;
    }
    return out;
}

std::optional<std::string> DomainName::toASCII(std::string_view host) {
    if (std::all_of(host.begin(), host.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(host);
    auto points = codePoints(host);
    if (!points || std::any_of(points->begin(), points->end(), mapsDifferently)) return std::nullopt;
    auto once = mapped(host);
    if (!once) return std::nullopt;
    // Folding may expose more to fold; a name that still changes is not judged.
    if (mapped(*once) != once) return std::nullopt;
    auto folded = codePoints(*once);
    if (!folded) return std::nullopt;

    std::string ascii;
    std::u32string label;
    auto finishLabel = [&]() -> bool {
        if (std::all_of(label.begin(), label.end(), [](char32_t p) { return p < 0x80; })) {
            for (char32_t p : label) ascii += static_cast<char>(p);
        } else {
            auto encoded = punycode(label);
            if (!encoded) return false;
            ascii += "xn--" + *encoded;
        }
        label.clear();
        return true;
    };
    for (char32_t point : *folded) {
        // The ideographic full stop separates labels as "." does (its fullwidth and
        // halfwidth forms were mapped to one of the two above).
        if (point == U'.' || point == U'\u3002') {
            if (!finishLabel()) return std::nullopt;
            ascii += '.';
        } else {
            label.push_back(point);
        }
    }
    if (!finishLabel()) return std::nullopt;
    return ascii;
}

} // namespace vanto
