#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vanto {
namespace {

TEST(VirtualClock, sleepingMovesTimeAtOnceAndStopsWhenAsked) {
    fake::VirtualClock clock(100);
    EXPECT_TRUE(clock.sleep(180));
    EXPECT_DOUBLE_EQ(clock.now(), 280);
    EXPECT_TRUE(clock.sleep(0));
    EXPECT_TRUE(clock.sleep(-3));
    EXPECT_TRUE(clock.sleep(std::nan("")));
    EXPECT_DOUBLE_EQ(clock.now(), 280);
    EXPECT_EQ(clock.sleeps(), 1);
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(clock.sleep(5, stop.get_token()));
    EXPECT_DOUBLE_EQ(clock.now(), 280);
    double wall = clock.wallTime();
    clock.advance(2);
    EXPECT_DOUBLE_EQ(clock.wallTime(), wall + 2);
}

TEST(SystemClock, sleepEndsEarlyOnStop) {
    SystemClock clock;
    std::stop_source stop;
    std::jthread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        stop.request_stop();
    });
    double start = clock.now();
    EXPECT_FALSE(clock.sleep(30, stop.get_token()));
    EXPECT_LT(clock.now() - start, 29); // ended by the stop, not the time
    EXPECT_TRUE(clock.sleep(0.01));
}

TEST(FakePlatform, keepsItsFilesInAFolderOfItsOwn) {
    std::filesystem::path root;
    {
        fake::FakePlatform desktop;
        root = desktop.paths.tempDir().parent_path();
        EXPECT_TRUE(std::filesystem::is_directory(desktop.paths.tempDir()));
        EXPECT_EQ(desktop.paths.configDir(), desktop.paths.home() / ".config" / "vanto");
        EXPECT_NE(desktop.paths.home(), std::filesystem::path(std::getenv("HOME") ? std::getenv("HOME") : ""));
    }
    EXPECT_FALSE(std::filesystem::exists(root));
}

} // namespace
} // namespace vanto
