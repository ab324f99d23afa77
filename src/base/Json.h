#pragma once

#include "base/Error.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vanto {

// A value that is missing where it is required, or present with the wrong JSON type.
class DecodeError : public Error {
public:
    using Error::Error;
};

// A number of the right JSON type that does not fit its field; the message names the
// key. (The parser itself refuses a number beyond a double, such as 1e999.)
class BadNumber : public DecodeError {
public:
    using DecodeError::DecodeError;
};

// Typed readers for decoding records strictly: a required key that is missing, or any
// key of the wrong type, throws DecodeError; unknown keys are never looked at.
// A key holding null counts as absent for the optional readers, as JSON encoders of
// optional values write it either way.
namespace json {

const nlohmann::json& requireObject(const nlohmann::json& value, const char* what);

std::string requireString(const nlohmann::json& object, const char* key);
double requireDouble(const nlohmann::json& object, const char* key);

std::optional<std::string> optionalString(const nlohmann::json& object, const char* key);
std::optional<bool> optionalBool(const nlohmann::json& object, const char* key);
std::optional<double> optionalDouble(const nlohmann::json& object, const char* key);
// Whole numbers only (3 and 3.0 both read as 3; 3.5 is the wrong type); out of range for
// the type throws BadNumber.
std::optional<std::int64_t> optionalInt(const nlohmann::json& object, const char* key);
std::optional<std::int32_t> optionalInt32(const nlohmann::json& object, const char* key);
std::optional<std::uint32_t> optionalUInt32(const nlohmann::json& object, const char* key);
std::optional<std::vector<std::string>> optionalStrings(const nlohmann::json& object, const char* key);
// The object under key, or none; anything but an object is an error.
const nlohmann::json* optionalObject(const nlohmann::json& object, const char* key);

// A parser's or decoder's message without nlohmann's exception id, which means
// nothing to a person ("parse error at line 1, column 2: ...").
std::string description(const nlohmann::json::exception& error);

// Reads a JSON number as a whole number in [min, max]; none for anything else.
std::optional<std::int64_t> wholeNumber(const nlohmann::json& value, std::int64_t min, std::int64_t max);

// The value with every whole floating-point number within +-2^53 as an integer, so that
// it is written 517 rather than 517.0, as every file and answer of this program is.
template <typename Json> Json withWholeNumbers(Json value) {
    if (value.is_number_float()) {
        double d = value.template get<double>();
        constexpr double exact = 9007199254740992.0; // 2^53
        if (d >= -exact && d <= exact && d == static_cast<double>(static_cast<std::int64_t>(d)))
            return Json(static_cast<std::int64_t>(d));
        return value;
    }
    if (value.is_structured())
        for (auto& item : value) item = withWholeNumbers(std::move(item));
    return value;
}

// The text of a JSON value as this program writes it: compact unless an indent is
// given, whole numbers without a fraction. Throws as dump() does for invalid UTF-8
// unless the error handler says otherwise.
template <typename Json>
std::string written(const Json& value, int indent = -1,
                    nlohmann::json::error_handler_t errors = nlohmann::json::error_handler_t::strict) {
    return withWholeNumbers(value).dump(indent, ' ', false, errors);
}

} // namespace json
} // namespace vanto
