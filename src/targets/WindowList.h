#pragma once

#include "platform/WindowServer.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vanto {

// One window as the window list shows it.
struct WindowInfo {
    std::uint32_t windowID = 0;
    std::string app;
    std::int32_t pid = 0;
    std::string title;
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool operator==(const WindowInfo&) const = default;
};

namespace WindowList {

// The window's entry, or none when it has no 32-bit number, is not on layer 0 or has
// no bounds.
std::optional<WindowInfo> window(const nlohmann::json& record);

// The windows now on screen, front to back, keeping only those wider and taller
// than 80 points.
std::vector<WindowInfo> onScreen(WindowServer& server);

} // namespace WindowList
} // namespace vanto
