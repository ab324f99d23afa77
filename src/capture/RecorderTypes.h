#pragma once

#include "platform/Geometry.h"

#include <cstdint>
#include <optional>
#include <string>

namespace vanto {

// What a recording records: one window, or a display or a rectangle of it (points,
// relative to the display's top-left).
struct Target {
    enum class Kind { window, display };
    Kind kind = Kind::window;
    std::optional<std::uint32_t> windowID;
    std::optional<std::uint32_t> displayID;
    std::optional<Rect> rect;
};

struct StopResult {
    std::string path;
    double duration = 0;
    std::int64_t events = 0;
    std::optional<std::string> warning;
};

struct StatusResult {
    bool recording = false;
    std::optional<std::string> path;
    std::optional<double> elapsed;
    std::int64_t events = 0;
};

} // namespace vanto
