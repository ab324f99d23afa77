#pragma once

#include "capture/CaptureEvent.h"
#include "platform/Geometry.h"

#include <optional>
#include <string>
#include <vector>

namespace vanto {

// What happened on screen during the current (or last) recording.
struct EventLog {
    std::vector<CaptureEvent> events; // in the order noted
    std::optional<double> startedAt;  // set while a recording runs (clock seconds)
    std::optional<Rect> area;         // the recorded part of the screen, global points

    // Adds an event at `now`; ignored outside a recording or without a label. A point
    // outside the area (or without a usable area) is logged without position.
    void note(double now, const std::string& action, const std::optional<std::string>& label, const std::string& text,
              std::optional<Point> at);

    // Where a global point lies in the area, when it lies inside it.
    static std::optional<Point> placed(Point at, const std::optional<Rect>& area);
};

} // namespace vanto
