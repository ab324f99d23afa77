#include "platform/Handoff.h"

#include <nlohmann/json.hpp>

namespace vanto::handoff {
namespace {

constexpr const char* sheetKey = "sheet";

} // namespace

std::string encode(const HandoffRequest& request) {
    auto object = nlohmann::json::object();
    if (request.sheet) object[sheetKey] = request.sheet->string();
    return object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Decoded decode(std::string_view line) {
    if (line.size() > longestLine) return {.request = {}, .error = "the request is too long"};
    auto object = nlohmann::json::parse(line, nullptr, false);
    if (object.is_discarded() || !object.is_object())
        return {.request = {}, .error = "the request is not a JSON object"};
    HandoffRequest request;
    // Keys this build does not know are left alone, so a newer launcher still reaches an
    // older window with what both understand.
    if (auto sheet = object.find(sheetKey); sheet != object.end()) {
        if (!sheet->is_string()) return {.request = {}, .error = "\"sheet\" is not a path"};
        const auto& text = sheet->get_ref<const std::string&>();
        std::filesystem::path path(text);
        if (text.empty() || text.find('\0') != std::string::npos || !path.is_absolute())
            return {.request = {}, .error = "\"sheet\" is not an absolute path"};
        request.sheet = std::move(path);
    }
    return {.request = std::move(request), .error = {}};
}

std::string taken() {
    return nlohmann::json{{"ok", true}}.dump();
}

std::string refused(const std::string& error) {
    return nlohmann::json{{"ok", false}, {"error", error}}.dump(-1, ' ', false,
                                                                nlohmann::json::error_handler_t::replace);
}

bool wasTaken(std::string_view answer) {
    auto object = nlohmann::json::parse(answer, nullptr, false);
    if (object.is_discarded() || !object.is_object()) return false;
    auto ok = object.find("ok");
    return ok != object.end() && ok->is_boolean() && ok->get<bool>();
}

} // namespace vanto::handoff
