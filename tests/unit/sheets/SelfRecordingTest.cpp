#include "sheets/SelfRecording.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <vector>

namespace vanto {
namespace {

using Place = std::optional<DemoProgress::Place>;

DemoSheet takeHoldTake() {
    return DemoSheet::decode(R"({"title": "T", "unattended": true, "scenes": [
        {"name": "A", "prompt": "a"}, {"kind": "hold", "name": "H"}, {"name": "B", "prompt": "b"}]})");
}

TEST(SelfRecording, recordsEachTakeWhereTheLastEndedUntilOneFails) {
    fake::FakePlatform desktop;
    auto sheet = takeHoldTake();
    auto report = SheetReport::forSheet(sheet, 0, desktop.random);
    DemoProgress progress(sheet);
    std::vector<std::pair<std::size_t, Place>> asked;
    std::vector<SheetReport::State> saved;
    auto save = [&](const SheetReport& r) { saved.push_back(r.state); };

    recordOneAfterAnother(
        report, progress,
        [&](std::size_t scene, const Place& place) {
            asked.emplace_back(scene, place);
            TakeRun run;
            run.uploadID = "U" + std::to_string(scene);
            run.duration = 7.5;
            if (place) {
                run.insertedInto = place->videoID;
                run.insertedAtMs = static_cast<std::int64_t>(place->atSeconds * 1000);
            }
            return TakeResult{run, true};
        },
        save);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0], std::make_pair(std::size_t{0}, Place{}));
    EXPECT_EQ(asked[1], std::make_pair(std::size_t{2}, Place{DemoProgress::Place{"U0", 7.5}}));
    EXPECT_EQ(report.state, SheetReport::State::done);
    EXPECT_EQ(report.videoID, "U0");
    EXPECT_EQ(report.takes[1].atMs, 7500);
    EXPECT_EQ(saved.size(), 4u);

    // A failed take ends the run; the takes after it stay pending.
    auto failing = SheetReport::forSheet(sheet, 0, desktop.random);
    DemoProgress fresh(sheet);
    int takes = 0;
    recordOneAfterAnother(
        failing, fresh,
        [&](std::size_t, const Place&) {
            ++takes;
            return TakeResult{TakeFailure{"stopped"}, false};
        },
        save);
    EXPECT_EQ(takes, 1);
    EXPECT_EQ(failing.state, SheetReport::State::failed);
    EXPECT_EQ(failing.takes[1].state, SheetReport::Take::State::pending);

    // A take that landed without any video is not recorded again.
    auto videoless = SheetReport::forSheet(sheet, 0, desktop.random);
    DemoProgress still(sheet);
    takes = 0;
    recordOneAfterAnother(
        videoless, still,
        [&](std::size_t, const Place&) {
            ++takes;
            return TakeResult{TakeRun{}, true};
        },
        save);
    EXPECT_EQ(takes, 2);
    EXPECT_EQ(videoless.state, SheetReport::State::done);
}

} // namespace
} // namespace vanto
