#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vanto {

// An IPv4 (4 bytes) or IPv6 (16 bytes) address read from its text, the way the
// system's text-to-address conversion reads it: dotted decimal IPv4 with exactly
// four parts and no leading zeros; IPv6 in its colon forms, with an IPv4 tail.
class IPAddress {
public:
    // Drops an IPv6 zone ("%en0"), reads IPv4 text, else IPv6 text; an IPv4-mapped
    // IPv6 address becomes the IPv4 address. None for anything else.
    static std::optional<IPAddress> fromText(std::string_view text);

    const std::vector<std::uint8_t>& bytes() const noexcept { return bytes_; }
    bool isV4() const noexcept { return bytes_.size() == 4; }
    bool isPublic() const;

    static bool v4IsPublic(std::span<const std::uint8_t, 4> a);
    static bool v6IsPublic(std::span<const std::uint8_t, 16> a);

    // The two text forms alone, without zone dropping or mapping.
    static std::optional<std::vector<std::uint8_t>> parseV4(std::string_view text);
    static std::optional<std::vector<std::uint8_t>> parseV6(std::string_view text);

    bool operator==(const IPAddress&) const = default;

private:
    explicit IPAddress(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    std::vector<std::uint8_t> bytes_;
};

} // namespace vanto
