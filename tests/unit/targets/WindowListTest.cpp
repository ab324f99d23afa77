#include "targets/WindowList.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

nlohmann::json record(nlohmann::json number, nlohmann::json layer, double w, double h) {
    return {{"number", number}, {"layer", layer}, {"bounds", {{"x", 10.9}, {"y", -5.5}, {"width", w}, {"height", h}}}};
}

TEST(WindowList, keepsOnlyNumberedLayerZeroWindowsLargerThan80PointsFrontToBack) {
    fake::FakeWindowServer server;
    server.windows = {
        record(1, 0, 80, 500),         // exactly 80 wide: dropped
        record(2, 0, 81, 81),          // kept
        record(3, 25, 500, 500),       // a dock's layer: skipped
        record(nullptr, 0, 500, 500),  // no number
        record(-4, 0, 500, 500),       // not an unsigned number
        record(4294967296.0, 0, 500, 500),
        {{"number", 5}, {"layer", 0}}, // no bounds
        record(6, 0, 300, 80.9),       // 80 after truncation
        record(7, 0, 640, 480),
    };
    auto windows = WindowList::onScreen(server);
    ASSERT_EQ(windows.size(), 2u);
    EXPECT_EQ(windows[0].windowID, 2u);
    EXPECT_EQ(windows[1].windowID, 7u);
    EXPECT_EQ(windows[1].x, 10);
    EXPECT_EQ(windows[1].y, -5);
    EXPECT_EQ(windows[1].width, 640);
}

TEST(WindowList, missingOwnerDetailsGetTheirDefaults) {
    auto anonymous = record(9, 0, 200, 200);
    anonymous["ownerName"] = 17; // not a string
    auto info = WindowList::window(anonymous);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->app, "unknown");
    EXPECT_EQ(info->pid, 0);
    EXPECT_EQ(info->title, "");

    auto named = record(9, 0, 200, 200);
    named["ownerName"] = "Chromium";
    named["ownerPID"] = 321;
    named["name"] = "Docs — Chromium";
    info = WindowList::window(named);
    ASSERT_TRUE(info);
    EXPECT_EQ(*info, (WindowInfo{9, "Chromium", 321, "Docs — Chromium", 10, -5, 200, 200}));
}

} // namespace
} // namespace vanto
