#include "base/Numbers.h"

#include <charconv>
#include <cmath>

namespace vanto {
namespace {

// from_chars takes no leading "+"; a sign followed by another sign is not a number.
std::string_view withoutPlus(std::string_view text) {
    if (text.size() > 1 && text[0] == '+' && text[1] != '-' && text[1] != '+') return text.substr(1);
    return text;
}

} // namespace

std::optional<std::int64_t> parseInteger(std::string_view text) {
    text = withoutPlus(text);
    std::int64_t result = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size()) return std::nullopt;
    return result;
}

std::optional<double> parseDecimal(std::string_view text) {
    text = withoutPlus(text);
    double result = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), result);
    // "inf" and "nan" are no decimal number, and nothing reading one could use them.
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() || !std::isfinite(result))
        return std::nullopt;
    return result;
}

} // namespace vanto
