#include "capture/CaptureEvent.h"

#include <cmath>

namespace vanto {

nlohmann::ordered_json servicePayload(const CaptureEvent& event) {
    nlohmann::ordered_json payload{
        {"t", event.t}, {"action", event.action}, {"label", event.label}, {"status", "done"}};
    if (!event.text.empty()) payload["text"] = event.text;
    if (event.at && event.area && event.area->width > 0 && event.area->height > 0) {
        payload["x"] = std::llround(event.at->x);
        payload["y"] = std::llround(event.at->y);
        payload["w"] = 0;
        payload["h"] = 0;
        payload["viewport_w"] = std::llround(event.area->width);
        payload["viewport_h"] = std::llround(event.area->height);
    }
    return payload;
}

} // namespace vanto
