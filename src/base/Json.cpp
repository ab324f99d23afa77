#include "base/Json.h"

#include "base/Numbers.h"

#include <cmath>
#include <limits>

namespace vanto::json {
namespace {

const nlohmann::json* find(const nlohmann::json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

[[noreturn]] void wrongType(const char* key, const char* expected) {
    throw DecodeError(std::string("\"") + key + "\" must be " + expected);
}

template <typename Int>
std::optional<Int> optionalWhole(const nlohmann::json& object, const char* key, const char* expected) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    if (!value->is_number()) wrongType(key, expected);
    if (value->is_number_float() && value->get<double>() != std::trunc(value->get<double>())) wrongType(key, expected);
    constexpr auto min = std::numeric_limits<Int>::min();
    constexpr auto max = std::numeric_limits<Int>::max();
    auto number = wholeNumber(*value, min, max);
    if (!number)
        throw BadNumber(std::string("\"") + key + "\" must be a whole number from " + std::to_string(min) + " to " +
                        std::to_string(max));
    return static_cast<Int>(*number);
}

} // namespace

std::optional<std::int64_t> wholeNumber(const nlohmann::json& value, std::int64_t min, std::int64_t max) {
    if (value.is_number_unsigned()) {
        auto n = value.get<std::uint64_t>();
        if (n > static_cast<std::uint64_t>(max)) return std::nullopt;
        return static_cast<std::int64_t>(n);
    }
    if (value.is_number_integer()) {
        auto n = value.get<std::int64_t>();
        if (n < min || n > max) return std::nullopt;
        return n;
    }
    if (value.is_number_float()) {
        double d = value.get<double>();
        auto whole = truncatedToInt64(d);
        if (!whole || static_cast<double>(*whole) != d || *whole < min || *whole > max) return std::nullopt;
        return whole;
    }
    return std::nullopt;
}

std::string description(const nlohmann::json::exception& error) {
    std::string message = error.what();
    if (message.starts_with("[json.exception.")) {
        auto end = message.find("] ");
        if (end != std::string::npos) return message.substr(end + 2);
    }
    return message;
}

const nlohmann::json& requireObject(const nlohmann::json& value, const char* what) {
    if (!value.is_object()) throw DecodeError(std::string(what) + " must be a JSON object");
    return value;
}

std::string requireString(const nlohmann::json& object, const char* key) {
    auto value = optionalString(object, key);
    if (!value) throw DecodeError(std::string("missing \"") + key + "\"");
    return *value;
}

double requireDouble(const nlohmann::json& object, const char* key) {
    auto value = optionalDouble(object, key);
    if (!value) throw DecodeError(std::string("missing \"") + key + "\"");
    return *value;
}

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) wrongType(key, "a string");
    return value->get<std::string>();
}

std::optional<bool> optionalBool(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    if (!value->is_boolean()) wrongType(key, "true or false");
    return value->get<bool>();
}

std::optional<double> optionalDouble(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    if (!value->is_number()) wrongType(key, "a number");
    return value->get<double>();
}

std::optional<std::int64_t> optionalInt(const nlohmann::json& object, const char* key) {
    return optionalWhole<std::int64_t>(object, key, "a whole number");
}

std::optional<std::int32_t> optionalInt32(const nlohmann::json& object, const char* key) {
    return optionalWhole<std::int32_t>(object, key, "a whole number");
}

std::optional<std::uint32_t> optionalUInt32(const nlohmann::json& object, const char* key) {
    return optionalWhole<std::uint32_t>(object, key, "a whole number");
}

std::optional<std::vector<std::string>> optionalStrings(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) return std::nullopt;
    if (!value->is_array()) wrongType(key, "an array of strings");
    std::vector<std::string> strings;
    for (const auto& item : *value) {
        if (!item.is_string()) wrongType(key, "an array of strings");
        strings.push_back(item.get<std::string>());
    }
    return strings;
}

const nlohmann::json* optionalObject(const nlohmann::json& object, const char* key) {
    const auto* value = find(object, key);
    if (!value) return nullptr;
    if (!value->is_object()) wrongType(key, "an object");
    return value;
}

} // namespace vanto::json
