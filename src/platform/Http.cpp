#include "platform/Http.h"

#include "base/Text.h"

namespace vanto {
namespace {

std::optional<std::string> find(const Http::Headers& headers, const std::string& name) {
    auto wanted = text::asciiLower(name);
    for (const auto& [key, value] : headers)
        if (text::asciiLower(key) == wanted) return value;
    return std::nullopt;
}

} // namespace

std::optional<std::string> Http::Request::header(const std::string& name) const {
    return find(headers, name);
}

std::optional<std::string> Http::Response::header(const std::string& name) const {
    return find(headers, name);
}

} // namespace vanto
