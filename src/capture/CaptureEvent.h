#pragma once

#include "platform/Geometry.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace vanto {

struct Size {
    double width = 0;
    double height = 0;
    bool operator==(const Size&) const = default;
};

// One thing the program did on screen while recording, for annotating the take.
struct CaptureEvent {
    double t = 0; // seconds since the recording started
    std::string action;
    std::string label;
    std::string text;
    std::optional<Point> at;  // relative to the recorded area's top-left
    std::optional<Size> area; // the recorded area's size
    bool operator==(const CaptureEvent&) const = default;
};

// The event as the service takes it; a position only when both it and a usable area
// are known.
nlohmann::ordered_json servicePayload(const CaptureEvent& event);

} // namespace vanto
