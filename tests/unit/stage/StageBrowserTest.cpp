// Finding the stage browser in the process list, where its window goes, and how it
// is started.

#include "stage/StageBrowser.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;

const fs::path stageProfile = "/home/ada/.local/share/vanto/Stage/Chrome";

TEST(StageBrowser, theMainProcessOfExactlyTheStageProfileIsTheStageBrowser) {
    const std::string key = " --user-data-dir=" + stageProfile.string();
    const std::string listing = "  PID ARGS\n  310 chromium" + key + "2 --no-first-run\n  402 chromium --type=zygote" +
                                key + "\n  403 chromium --type=renderer" + key + " --lang=en\n\nx401 chromium" + key +
                                "\n  401 chromium --no-sandbox" + key + " --restore-last-session about:blank\n";
    EXPECT_EQ(StageBrowser::pid(listing, stageProfile), 401);
    // The profile at the very end of the command line counts too.
    EXPECT_EQ(StageBrowser::pid("  77 chromium --user-data-dir=" + stageProfile.string(), stageProfile), 77);
    // Helpers of the stage browser and a browser of the "Chrome2" profile are not it.
    auto helpersAndNeighbour = listing.substr(0, listing.find("\nx401"));
    EXPECT_EQ(StageBrowser::pid(helpersAndNeighbour, stageProfile), std::nullopt);

    fake::FakePlatform fake;
    fake.processes.programs["/bin/ps"] = ProgramOutput{0, listing};
    EXPECT_EQ(StageBrowser::running(fake.processes, stageProfile), 401);
    EXPECT_EQ(fake.processes.ran.back(), (std::vector<std::string>{"/bin/ps", "-axww", "-o", "pid=,args="}));
    fake.processes.programs["/bin/ps"] = ProgramOutput{1, listing};
    EXPECT_EQ(StageBrowser::running(fake.processes, stageProfile), std::nullopt);
}

TEST(StageBrowser, theWindowIsCentredInTheVisibleAreaAndNoLargerThanIt) {
    const Stage large{"Google Chrome", 1440, 900};
    // A 1280 by 775 visible area below a 25-point bar on a screen 800 high.
    EXPECT_EQ(StageBrowser::frame(large, Rect{0, 25, 1280, 775}), (Rect{0, 25, 1280, 775}));
    EXPECT_EQ(StageBrowser::frame(Stage{"Google Chrome", 1281, 807}, Rect{0, 25, 1920, 1055}),
              (Rect{320, 149, 1281, 807})); // 319.5 rounds away from zero
    EXPECT_EQ(StageBrowser::frame(large, std::nullopt), (Rect{0, 0, 1440, 900}));

    fake::FakePlatform fake;
    fake.windows.screenList = {{1, {0, 0, 1280, 800}, {0, 25, 1280, 775}, 1, false},
                               {2, {1280, 0, 1920, 1080}, {1280, 40, 1920, 1040}, 1, true}};
    EXPECT_EQ(StageBrowser::placement(large, fake.windows), (Rect{1520, 110, 1440, 900}));
    fake.windows.screenList[1].main = false; // none is main: the first screen
    EXPECT_EQ(StageBrowser::placement(large, fake.windows), (Rect{0, 25, 1280, 775}));
    fake.windows.screenList.clear();
    EXPECT_EQ(StageBrowser::placement(large, fake.windows), (Rect{0, 0, 1440, 900}));
}

TEST(StageBrowser, startsWithItsOwnProfileAndTheStageSwitchesInOrder) {
    const std::vector<std::string> stageSwitches{"--user-data-dir=" + stageProfile.string(),
                                                 "--restore-last-session",
                                                 "--no-first-run",
                                                 "--no-default-browser-check",
                                                 "--hide-crash-restore-bubble",
                                                 "--window-size=1280,775",
                                                 "--window-position=0,25",
                                                 "about:blank"};
    auto asUser = StageBrowser::arguments(Rect{0, 25, 1280, 775}, stageProfile, false);
    auto expected = std::vector<std::string>{"--force-renderer-accessibility"};
    expected.insert(expected.end(), stageSwitches.begin(), stageSwitches.end());
    EXPECT_EQ(asUser, expected);
    auto asRoot = StageBrowser::arguments(Rect{0, 25, 1280, 775}, stageProfile, true);
    expected.insert(expected.begin(), {"--no-sandbox", "--test-type"});
    EXPECT_EQ(asRoot, expected);

    fake::FakePlatform fake;
    EXPECT_EQ(StageBrowser::profile(fake.paths), fake.paths.dataDir() / "Stage" / "Chrome");
}

// A desktop where starting the stage browser makes it show up in the process list
// and, after `windowAfter` looks, with a window.
class StageDesktopTest : public ::testing::Test {
protected:
    StageDesktopTest() {
        profile = fs::temp_directory_path() / ("vanto-stage-desktop-" + std::to_string(::getpid())) / "Chrome";
        fake.windows.screenList = {{1, {0, 0, 1280, 800}, {0, 25, 1280, 775}, 1, true}};
        fake.processes.programs["/bin/ps"] = ProgramOutput{0, "  1 /sbin/init\n"};
        fake.processes.programs["/usr/bin/id"] = ProgramOutput{0, "0\n"};
        fake.processes.onLaunch = [this](const std::vector<std::string>&) {
            fake.processes.programs["/bin/ps"].output +=
                "  500 /usr/lib/chromium/chromium --user-data-dir=" + profile.string() + " --no-first-run\n";
            return Launch{500, ""};
        };
    }
    ~StageDesktopTest() override { fs::remove_all(profile.parent_path()); }

    void showWindow() {
        fake.windows.windows = {{{"number", 7},
                                 {"layer", 0},
                                 {"ownerPID", 500},
                                 {"ownerName", "Chromium"},
                                 {"bounds", {{"x", 0}, {"y", 0}, {"width", 800}, {"height", 600}}}}};
    }

    fake::FakePlatform fake;
    fs::path profile;
    std::vector<std::pair<std::int32_t, Rect>> placed;
    StageBrowser::Desktop desktop{fake.processes, fake.windows, fake.clock,
                                  [this](std::int32_t pid, const Rect& frame) { placed.emplace_back(pid, frame); }};
};

TEST_F(StageDesktopTest, aSecondEnsureOnlyMovesTheRunningBrowser) {
    for (const char* saved : {"Sessions", "Sessions_Encrypted"}) fs::create_directories(profile / "Default" / saved);
    std::ofstream(profile / "Default" / "Cookies") << "signed in";
    showWindow();
    const Stage stage{"Google Chrome", 1440, 900};
    EXPECT_EQ(StageBrowser::ensure(stage, profile, desktop), 500);
    EXPECT_EQ(StageBrowser::ensure(stage, profile, desktop), 500);
    ASSERT_EQ(fake.processes.launches.size(), 1u);
    EXPECT_EQ(fake.processes.launches[0].at(0), "chromium");
    EXPECT_EQ(fake.processes.launches[0].at(1), "--no-sandbox"); // id -u said root
    // Its saved tabs were forgotten before the launch; its sign-ins were not.
    EXPECT_FALSE(fs::exists(profile / "Default" / "Sessions"));
    EXPECT_FALSE(fs::exists(profile / "Default" / "Sessions_Encrypted"));
    EXPECT_TRUE(fs::exists(profile / "Default" / "Cookies"));
    const Rect frame{0, 25, 1280, 775};
    EXPECT_EQ(placed, (std::vector<std::pair<std::int32_t, Rect>>{{500, frame}, {500, frame}}));
}

TEST_F(StageDesktopTest, aBrowserThatFailsOrNeverShowsAWindowIsAnError) {
    const Stage stage{"Google Chrome", 1440, 900};
    const double start = fake.clock.now();
    try {
        StageBrowser::ensure(stage, profile, desktop);
        FAIL() << "no window, yet ensured";
    } catch (const StageBrowser::Failure& failure) {
        EXPECT_STREQ(failure.what(), "the stage browser started, but no window of it appeared on this desktop");
    }
    EXPECT_GE(fake.clock.now() - start, 20);
    EXPECT_LT(fake.clock.now() - start, 20.5);

    // A browser of this profile that took the launch over ends its process with 0: wait on.
    fake.processes.launchStates[500] = LaunchState{true, 0, ""};
    EXPECT_THROW(StageBrowser::ensure(stage, profile, desktop), StageBrowser::Failure);
    fake.processes.launchStates[500] = LaunchState{true, 1, "  Missing X server or $DISPLAY\n"};
    try {
        StageBrowser::ensure(stage, profile, desktop);
        FAIL() << "a failed start was not seen";
    } catch (const StageBrowser::Failure& failure) {
        EXPECT_STREQ(failure.what(), "could not start the stage browser: Missing X server or $DISPLAY");
    }
    fake.processes.onLaunch = [](const std::vector<std::string>&) { return Launch{std::nullopt, "no such file"}; };
    try {
        StageBrowser::ensure(stage, profile, desktop);
        FAIL() << "a missing browser was not seen";
    } catch (const StageBrowser::Failure& failure) {
        EXPECT_EQ(failure.which(), StageBrowser::Failure::Case::couldNotLaunch);
    }
}

TEST_F(StageDesktopTest, closingWaitsForTheBrowserAndEndsOneThatStays) {
    StageBrowser::closeForAFreshRun(profile, desktop); // none runs: at once
    EXPECT_TRUE(fake.processes.terminated.empty());
    EXPECT_EQ(fake.clock.sleeps(), 0);

    fake.processes.onLaunch(std::vector<std::string>{}); // a stage browser that will not quit
    fake.processes.table[500] = {.parent = 1, .path = "chromium", .alive = true};
    StageBrowser::closeForAFreshRun(profile, desktop);
    EXPECT_EQ(fake.processes.terminated, (std::vector<std::int32_t>{500}));
    EXPECT_EQ(fake.clock.sleeps(), 24);
    EXPECT_EQ(fake.processes.ran.back(), (std::vector<std::string>{"/bin/kill", "-KILL", "500"}));
}

} // namespace
} // namespace vanto
