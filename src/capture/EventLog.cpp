#include "capture/EventLog.h"

namespace vanto {

std::optional<Point> EventLog::placed(Point at, const std::optional<Rect>& area) {
    if (!area || !(area->width > 0) || !(area->height > 0)) return std::nullopt;
    const double dx = at.x - area->x;
    const double dy = at.y - area->y;
    if (!(dx >= 0 && dx < area->width && dy >= 0 && dy < area->height)) return std::nullopt;
    return Point{dx, dy};
}

void EventLog::note(double now, const std::string& action, const std::optional<std::string>& label,
                    const std::string& text, std::optional<Point> at) {
    if (!startedAt || !label || label->empty()) return;
    CaptureEvent event{now - *startedAt, action, *label, text, std::nullopt, std::nullopt};
    if (at) {
        if (auto inside = placed(*at, area)) {
            event.at = inside;
            event.area = Size{area->width, area->height};
        }
    }
    events.push_back(std::move(event));
}

} // namespace vanto
