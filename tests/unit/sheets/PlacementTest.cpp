#include "sheets/Placement.h"
#include "sheets/DemoProgress.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

TEST(Placement, readsAndShowsTimesAndVideoIDs) {
    EXPECT_EQ(Placement::seconds(" 1:30\n"), 90);
    EXPECT_EQ(Placement::seconds("1:02:03"), 3723);
    EXPECT_EQ(Placement::seconds("2.5:10"), 160);
    for (const char* nonsense : {"1:75", ":30", "-5", "", "1:", "1 :30"})
        EXPECT_FALSE(Placement::seconds(nonsense)) << nonsense;

    EXPECT_EQ(Placement::clock(90), "1:30");
    EXPECT_EQ(Placement::clock(5.25), "0:05.3");
    EXPECT_EQ(Placement::clock(-3), "0:00");
    EXPECT_EQ(Placement::clock(59.96), "1:00");
    EXPECT_EQ(Placement::clock(61.25), "1:01.3");

    EXPECT_EQ(Placement::videoID("  abc123 \n"), "abc123");
    EXPECT_EQ(Placement::videoID("https://app.example.test/videos/abc123/"), "abc123");
    EXPECT_EQ(Placement::videoID("https://app.example.test/v/abc123?t=30#share"), "abc123");
    EXPECT_EQ(Placement::videoID("https://app.example.test"), "https://app.example.test");
}

TEST(DemoProgress, placesEachTakeWhereTheLastEndedAndPicksTheNextUnrecorded) {
    DemoProgress progress(DemoSheet::decode(R"({"title": "T", "narration": "say it", "scenes": [
        {"name": "A", "prompt": "a"}, {"kind": "hold", "name": "H1", "freezeOn": "the chart", "seconds": 3.9},
        {"name": "B", "prompt": "b"}, {"kind": "hold", "name": "H2"}, {"name": "C", "prompt": "c"}]})"));
    EXPECT_EQ(progress.remainingInTheEditor(),
              (std::vector<std::string>{"Freeze the frame on the chart for 3s", "Freeze the frame",
                                        "Write the narration, last, from the prompt in the sheet"}));
    progress.recorded = {4};
    EXPECT_EQ(progress.nextUnrecorded(2), 0u);
    progress.recorded = {};

    TakeRun first;
    first.uploadID = "V1";
    first.duration = 12.5;
    progress.advance(0, first);
    EXPECT_EQ(progress.selected, 2u);
    EXPECT_EQ(progress.placement(2), (DemoProgress::Place{"V1", 12.5}));
    EXPECT_FALSE(progress.placement(1)); // a hold

    TakeRun second;
    second.uploadID = "U2";
    second.insertedInto = "V1";
    second.insertedAtMs = 12'500;
    second.duration = 4;
    progress.advance(2, second);
    EXPECT_EQ(progress.placement(4), (DemoProgress::Place{"V1", 16.5}));
    EXPECT_EQ(progress.selected, 4u);

    // A failed run, or one with no video, moves nothing.
    progress.advance(4, TakeFailure{"stopped"});
    progress.advance(4, TakeRun{});
    EXPECT_EQ(progress.recorded, (std::set<std::size_t>{0, 2}));
    // A take put in earlier in the video does not move its end back.
    second.insertedAtMs = 1000;
    progress.advance(4, second);
    EXPECT_EQ(progress.endOfLastTake, 16.5);
}

} // namespace
} // namespace vanto
