#include "capture/CaptureEvent.h"
#include "capture/EventLog.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

TEST(CaptureEvent, thePayloadHasAPositionOnlyWithAUsableArea) {
    CaptureEvent click{2.5, "click", "Save", "", Point{10.5, 20.4}, Size{1280.4, 719.5}};
    EXPECT_EQ(servicePayload(click).dump(),
              R"({"t":2.5,"action":"click","label":"Save","status":"done","x":11,"y":20,"w":0,"h":0,)"
              R"("viewport_w":1280,"viewport_h":720})");
    CaptureEvent typed{1, "type", "Name", "Ada", std::nullopt, std::nullopt};
    EXPECT_EQ(servicePayload(typed).dump(), R"({"t":1.0,"action":"type","label":"Name","status":"done","text":"Ada"})");
    CaptureEvent flat{1, "click", "Edge", "", Point{1, 1}, Size{0, 300}};
    EXPECT_FALSE(servicePayload(flat).contains("x"));
    CaptureEvent noArea{1, "click", "Edge", "", Point{1, 1}, std::nullopt};
    EXPECT_FALSE(servicePayload(noArea).contains("viewport_w"));
}

TEST(EventLog, placesPointsInsideTheAreaOnly) {
    EventLog log;
    log.note(5, "click", "Before", "", Point{1, 1});
    EXPECT_TRUE(log.events.empty());
    log.startedAt = 4;
    log.area = Rect{100, 100, 50, 40};
    log.note(5, "click", "Corner", "", Point{100, 100});
    log.note(6, "click", "Far corner", "", Point{149.9, 139.9});
    log.note(7, "click", "Below", "", Point{120, 140});
    ASSERT_EQ(log.events.size(), 3u);
    EXPECT_EQ(log.events[0].t, 1);
    EXPECT_EQ(log.events[0].at, (Point{0, 0}));
    EXPECT_EQ(log.events[1].area, (Size{50, 40}));
    EXPECT_FALSE(log.events[2].at);
    EXPECT_FALSE(log.events[2].area);
    EXPECT_FALSE(EventLog::placed({1, 1}, Rect{0, 0, 0, 10}));
}

} // namespace
} // namespace vanto
