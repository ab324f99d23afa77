#include "sheets/Placement.h"
#include "sheets/DemoProgress.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

TEST(Placement, readsTimesAsSecondsMinutesAndHours) {
    EXPECT_EQ(Placement::seconds("90"), 90);
    EXPECT_EQ(Placement::seconds(" 1:30\n"), 90);
    EXPECT_EQ(Placement::seconds("1:02:03"), 3723);
    EXPECT_EQ(Placement::seconds("2.5:10"), 160);
    for (const char* nonsense : {"1:75", ":30", "-5", "1:-5", "", "  ", "1:", "1 :30", "ten", "1:30s"})
        EXPECT_FALSE(Placement::seconds(nonsense)) << nonsense;
}

TEST(Placement, showsTimesToTheTenth) {
    EXPECT_EQ(Placement::clock(90), "1:30");
    EXPECT_EQ(Placement::clock(90.5), "1:30.5");
    EXPECT_EQ(Placement::clock(5.25), "0:05.3");
    EXPECT_EQ(Placement::clock(0), "0:00");
    EXPECT_EQ(Placement::clock(-3), "0:00");
    EXPECT_EQ(Placement::clock(59.96), "1:00");
    EXPECT_EQ(Placement::clock(61.25), "1:01.3");
    EXPECT_EQ(Placement::clock(3725), "62:05");
}

TEST(Placement, takesTheVideoIDFromAnIDOrALink) {
    EXPECT_EQ(Placement::videoID("  abc123 \n"), "abc123");
    EXPECT_EQ(Placement::videoID("https://app.example.test/videos/abc123/"), "abc123");
    EXPECT_EQ(Placement::videoID("https://app.example.test/v/abc123?t=30#share"), "abc123");
    EXPECT_EQ(Placement::videoID("app.example.test/v/abc123"), "abc123");
    // Not a URL (a blank inside): the text itself is split.
    EXPECT_EQ(Placement::videoID("my videos/abc 1?x"), "abc 1?x");
    EXPECT_EQ(Placement::videoID("https://app.example.test"), "https://app.example.test");
    EXPECT_EQ(Placement::videoID("//"), "//");
}

DemoSheet takeHoldTakeHoldTake() {
    return DemoSheet::decode(R"({"title": "T", "narration": "say it", "scenes": [
        {"name": "A", "prompt": "a"}, {"kind": "hold", "name": "H1", "freezeOn": "the chart", "seconds": 3.9},
        {"name": "B", "prompt": "b"}, {"kind": "hold", "name": "H2"}, {"name": "C", "prompt": "c"}]})");
}

TEST(DemoProgress, findsTheNextUnrecordedTakeAfterAndThenBefore) {
    DemoProgress progress(takeHoldTakeHoldTake());
    EXPECT_EQ(progress.selected, 0u);
    EXPECT_EQ(progress.nextUnrecorded(0), 2u);
    progress.recorded = {4};
    EXPECT_EQ(progress.nextUnrecorded(2), 0u);
    EXPECT_EQ(progress.nextUnrecorded(1), 2u);
    progress.recorded = {0, 4};
    EXPECT_FALSE(progress.nextUnrecorded(2));

    EXPECT_EQ(progress.remainingInTheEditor(),
              (std::vector<std::string>{"Freeze the frame on the chart for 3s", "Freeze the frame",
                                        "Write the narration, last, from the prompt in the sheet"}));
}

TEST(DemoProgress, placesEachTakeWhereTheLastOneEnded) {
    DemoProgress progress(takeHoldTakeHoldTake());
    EXPECT_FALSE(progress.placement(0));

    TakeRun first;
    first.uploadID = "V1";
    first.duration = 12.5;
    progress.advance(0, first);
    EXPECT_EQ(progress.videoID, "V1");
    EXPECT_EQ(progress.selected, 2u);
    EXPECT_EQ(progress.placement(2), (DemoProgress::Place{"V1", 12.5}));
    EXPECT_FALSE(progress.placement(1)); // a hold
    EXPECT_FALSE(progress.placement(9));

    TakeRun second;
    second.uploadID = "U2";
    second.insertedInto = "V1";
    second.insertedAtMs = 12'500;
    second.duration = 4;
    progress.advance(2, second);
    EXPECT_EQ(progress.videoID, "V1");
    EXPECT_DOUBLE_EQ(progress.endOfLastTake, 16.5);
    EXPECT_EQ(progress.selected, 4u);

    // A failed run, no position, or no video: nothing moves.
    const DemoProgress before = progress;
    progress.advance(4, TakeFailure{"stopped"});
    progress.advance(std::nullopt, first);
    progress.advance(4, TakeRun{});
    EXPECT_EQ(progress.recorded, before.recorded);
    EXPECT_EQ(progress.selected, before.selected);
    EXPECT_EQ(progress.endOfLastTake, before.endOfLastTake);
}

} // namespace
} // namespace vanto
