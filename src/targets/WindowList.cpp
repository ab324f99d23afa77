#include "targets/WindowList.h"

#include "base/Json.h"
#include "base/Numbers.h"

#include <array>
#include <limits>

namespace vanto::WindowList {
namespace {

// Bounds with four finite numbers, truncated to integers; none otherwise.
std::optional<std::array<std::int64_t, 4>> bounds(const nlohmann::json& record) {
    auto it = record.find(windowkey::bounds);
    if (it == record.end() || !it->is_object()) return std::nullopt;
    std::array<std::int64_t, 4> values{};
    const char* keys[] = {"x", "y", "width", "height"};
    for (size_t i = 0; i < 4; ++i) {
        auto value = it->find(keys[i]);
        if (value == it->end() || !value->is_number()) return std::nullopt;
        auto whole = truncatedToInt64(value->get<double>());
        if (!whole) return std::nullopt;
        values[i] = *whole;
    }
    return values;
}

} // namespace

std::optional<WindowInfo> window(const nlohmann::json& record) {
    if (!record.is_object()) return std::nullopt;
    auto number = record.find(windowkey::number);
    if (number == record.end()) return std::nullopt;
    auto windowID = json::wholeNumber(*number, 0, std::numeric_limits<std::uint32_t>::max());
    auto layer = record.find(windowkey::layer);
    if (!windowID || layer == record.end() ||
        json::wholeNumber(*layer, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()) !=
            0)
        return std::nullopt;
    auto frame = bounds(record);
    if (!frame) return std::nullopt;

    WindowInfo info;
    info.windowID = static_cast<std::uint32_t>(*windowID);
    auto owner = record.find(windowkey::ownerName);
    info.app = owner != record.end() && owner->is_string() ? owner->get<std::string>() : "unknown";
    auto pid = record.find(windowkey::ownerPID);
    if (pid != record.end())
        info.pid = static_cast<std::int32_t>(
            json::wholeNumber(*pid, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max())
                .value_or(0));
    auto name = record.find(windowkey::name);
    if (name != record.end() && name->is_string()) info.title = name->get<std::string>();
    info.x = (*frame)[0];
    info.y = (*frame)[1];
    info.width = (*frame)[2];
    info.height = (*frame)[3];
    return info;
}

std::vector<WindowInfo> onScreen(WindowServer& server) {
    std::vector<WindowInfo> windows;
    for (const auto& record : server.onScreenWindows())
        if (auto info = window(record)) windows.push_back(*info);
    std::erase_if(windows, [](const WindowInfo& w) { return w.width <= 80 || w.height <= 80; });
    return windows;
}

} // namespace vanto::WindowList
