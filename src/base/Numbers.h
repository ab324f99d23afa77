#pragma once

#include <cmath>
#include <cstdint>
#include <optional>
#include <string_view>

namespace vanto {

// Truncates toward zero, or none when the value is not finite or does not fit in a
// signed 64-bit integer (casting such a double is undefined).
inline std::optional<std::int64_t> truncatedToInt64(double value) {
    constexpr double limit = 9223372036854775808.0; // 2^63, exact as a double
    if (!std::isfinite(value) || value >= limit || value < -limit) return std::nullopt;
    return static_cast<std::int64_t>(std::trunc(value));
}

// Decimal number readers that take the whole text or nothing (an optional leading
// sign, no surrounding white space); a decimal is finite.
std::optional<std::int64_t> parseInteger(std::string_view text);
std::optional<double> parseDecimal(std::string_view text);

} // namespace vanto
