#include "cloud/IPAddress.h"

#include <algorithm>
#include <array>

namespace vanto {
namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::vector<std::uint8_t>> IPAddress::parseV4(std::string_view text) {
    std::array<unsigned, 4> parts{};
    std::size_t part = 0;
    std::size_t octets = 0;
    bool sawDigit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            // "010" means octal to some readers and decimal to others: refused.
            if (sawDigit && parts[part] == 0) return std::nullopt;
            unsigned value = parts[part] * 10 + static_cast<unsigned>(c - '0');
            if (value > 255) return std::nullopt;
            parts[part] = value;
            if (!sawDigit) {
                if (++octets > 4) return std::nullopt;
                sawDigit = true;
            }
        } else if (c == '.' && sawDigit) {
            if (octets == 4) return std::nullopt;
            ++part;
            sawDigit = false;
        } else {
            return std::nullopt;
        }
    }
    if (octets < 4) return std::nullopt;
    return std::vector<std::uint8_t>(parts.begin(), parts.end());
}

std::optional<std::vector<std::uint8_t>> IPAddress::parseV6(std::string_view text) {
    std::array<std::uint8_t, 16> out{};
    std::size_t filled = 0;
    std::optional<std::size_t> gap; // where "::" stands
    std::size_t i = 0;
    if (text.empty()) return std::nullopt;
    if (text[0] == ':') {
        if (text.size() < 2 || text[1] != ':') return std::nullopt;
        i = 1;
    }
    std::size_t tokenStart = i;
    int digits = 0;
    unsigned value = 0;
    while (i < text.size()) {
        char c = text[i++];
        int digit = hexValue(c);
        if (digit >= 0) {
            if (digits == 4) return std::nullopt;
            value = (value << 4) | static_cast<unsigned>(digit);
            ++digits;
            continue;
        }
        if (c == ':') {
            tokenStart = i;
            if (digits == 0) {
                if (gap) return std::nullopt;
                gap = filled;
                continue;
            }
            if (i == text.size()) return std::nullopt; // a trailing single colon
            if (filled + 2 > out.size()) return std::nullopt;
            out[filled++] = static_cast<std::uint8_t>(value >> 8);
            out[filled++] = static_cast<std::uint8_t>(value & 0xFF);
            digits = 0;
            value = 0;
            continue;
        }
        if (c == '.' && filled + 4 <= out.size()) {
            auto v4 = parseV4(text.substr(tokenStart));
            if (!v4) return std::nullopt;
            std::copy(v4->begin(), v4->end(), out.begin() + static_cast<std::ptrdiff_t>(filled));
            filled += 4;
            digits = 0;
            i = text.size();
            break;
        }
        return std::nullopt;
    }
    if (digits > 0) {
        if (filled + 2 > out.size()) return std::nullopt;
        out[filled++] = static_cast<std::uint8_t>(value >> 8);
        out[filled++] = static_cast<std::uint8_t>(value & 0xFF);
    }
    if (gap) {
        if (filled == out.size()) return std::nullopt; // "::" must stand for at least one group
        std::size_t tail = filled - *gap;
        std::copy_backward(out.begin() + static_cast<std::ptrdiff_t>(*gap),
                           out.begin() + static_cast<std::ptrdiff_t>(filled), out.end());
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(*gap), out.end() - static_cast<std::ptrdiff_t>(tail),
                  std::uint8_t{0});
        filled = out.size();
    }
    if (filled != out.size()) return std::nullopt;
    return std::vector<std::uint8_t>(out.begin(), out.end());
}

std::optional<IPAddress> IPAddress::fromText(std::string_view text) {
    text = text.substr(0, text.find('%'));
    if (auto v4 = parseV4(text)) return IPAddress(std::move(*v4));
    auto v6 = parseV6(text);
    if (!v6) return std::nullopt;
    static constexpr std::array<std::uint8_t, 12> mappedPrefix{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::equal(mappedPrefix.begin(), mappedPrefix.end(), v6->begin()))
        return IPAddress(std::vector<std::uint8_t>(v6->begin() + 12, v6->end()));
    return IPAddress(std::move(*v6));
}

bool IPAddress::isPublic() const {
    if (isV4()) return v4IsPublic(std::span<const std::uint8_t, 4>(bytes_.data(), 4));
    return v6IsPublic(std::span<const std::uint8_t, 16>(bytes_.data(), 16));
}

bool IPAddress::v4IsPublic(std::span<const std::uint8_t, 4> a) {
    if (a[0] == 0 || a[0] == 10 || a[0] == 127) return false;
    if (a[0] == 100 && a[1] >= 64 && a[1] <= 127) return false;
    if (a[0] == 169 && a[1] == 254) return false;
    if (a[0] == 172 && a[1] >= 16 && a[1] <= 31) return false;
    if (a[0] == 192 && a[1] == 168) return false;
    if (a[0] == 192 && a[1] == 0 && a[2] == 0) return false;
    if (a[0] == 198 && (a[1] == 18 || a[1] == 19)) return false;
    if (a[0] >= 224) return false;
    return true;
}

bool IPAddress::v6IsPublic(std::span<const std::uint8_t, 16> a) {
    bool leadingZeros = std::all_of(a.begin(), a.begin() + 15, [](std::uint8_t b) { return b == 0; });
    if (leadingZeros && (a[15] == 0 || a[15] == 1)) return false;
    if (a[0] == 0xFE && a[1] >= 0x80 && a[1] <= 0xBF) return false;
    if (a[0] == 0xFC || a[0] == 0xFD || a[0] == 0xFF) return false;
    static constexpr std::array<std::uint8_t, 12> nat64{0x00, 0x64, 0xFF, 0x9B, 0, 0, 0, 0, 0, 0, 0, 0};
    if (std::equal(nat64.begin(), nat64.end(), a.begin())) return false;
    return true;
}

} // namespace vanto
