#include "sheets/SelfRecording.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

using Place = std::optional<DemoProgress::Place>;

TEST(SelfRecording, recordsEachTakeWhereTheLastEndedUntilNoneIsLeftOrOneFails) {
    fake::FakePlatform desktop;
    const auto sheet = DemoSheet::decode(R"({"title": "T", "scenes": [
        {"name": "A", "prompt": "a"}, {"kind": "hold", "name": "H"}, {"name": "B", "prompt": "b"}]})");
    std::vector<Place> places;
    int saves = 0;
    auto save = [&](const SheetReport&) { ++saves; };
    auto recordAll = [&](const TakeResult& result) {
        auto report = SheetReport::forSheet(sheet, 0, desktop.random);
        DemoProgress progress(sheet);
        places.clear();
        recordOneAfterAnother(
            report, progress,
            [&](std::size_t, const Place& at) {
                places.push_back(at);
                return result;
            },
            save);
        return report;
    };

    TakeRun run;
    run.uploadID = "V1";
    run.duration = 7.5;
    auto done = recordAll({run, true});
    EXPECT_EQ(done.state, SheetReport::State::done);
    EXPECT_EQ(places, (std::vector<Place>{std::nullopt, DemoProgress::Place{"V1", 7.5}}));
    EXPECT_EQ(saves, 4);

    auto failed = recordAll({TakeFailure{"stopped"}, false});
    EXPECT_EQ(places.size(), 1u);
    EXPECT_EQ(failed.takes[1].state, SheetReport::Take::State::pending);

    // Landed without any video: each take is still recorded once, not again and again.
    auto videoless = recordAll({TakeRun{}, true});
    EXPECT_EQ(places.size(), 2u);
    EXPECT_EQ(videoless.state, SheetReport::State::done);
}

} // namespace
} // namespace vanto
