#include "sheets/SheetReport.h"

#include "base/Files.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

namespace fs = std::filesystem;
using State = SheetReport::State;
using TakeState = SheetReport::Take::State;

SheetReport holdTakeHoldTake(Random& random, double startedAt = 0) {
    return SheetReport::forSheet(DemoSheet::decode(R"({"title": "Tour", "scenes": [
        {"kind": "hold", "name": "Logo"}, {"name": "Open", "prompt": "open it"},
        {"kind": "hold", "name": "Chart"}, {"name": "Share", "prompt": "share it"}]})"),
                                 startedAt, random);
}

TakeRun landedRun(const char* uploadID) {
    TakeRun run;
    run.steps = {"click Share"};
    run.duration = 2.5009;
    run.uploadID = uploadID;
    run.uploadURL = "https://example.test/v/U1";
    return run;
}

TEST(SheetReport, isNamedAfterItsSheetAndReplacedWholeWithSortedKeys) {
    EXPECT_EQ(SheetReport::location("/d/demo.json"), fs::path("/d/demo.report.json"));
    EXPECT_EQ(SheetReport::location("/d/demo"), fs::path("/d/demo.report.json"));

    fake::FakePlatform desktop;
    // 2027-01-15 08:00:00 UTC and a fraction, which is cut off.
    auto report = holdTakeHoldTake(desktop.random, 1'800'000'000.75);
    ASSERT_EQ(report.takes.size(), 2u);
    EXPECT_EQ(report.takes[0].scene, 1u);
    EXPECT_EQ(report.takes[1].scene, 3u);
    const std::string text = report.encoded();
    EXPECT_NE(text.find("\n  \"startedAt\": \"2027-01-15T08:00:00Z\",\n  \"state\": \"recording\",\n  \"takes\": [\n"
                        "    {\n      \"name\": \"Open\",\n      \"scene\": 1,\n      \"state\": \"pending\"\n    },"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("null"), std::string::npos);
    EXPECT_EQ(text.find("videoID"), std::string::npos);

    const fs::path file = desktop.paths.tempDir() / "demo.report.json";
    fs::create_directories(file.parent_path());
    report.write(file);
    report.finished(1, landedRun("U1"), true);
    report.write(file);
    EXPECT_EQ(readFile(file), report.encoded());
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);

    auto unreadable = SheetReport::unreadable("/d/broken.json", "no such file", 0, desktop.random);
    EXPECT_EQ(unreadable.title, "broken");
    EXPECT_EQ(unreadable.error, "the sheet could not be read: no such file");
    // A reason quoting bytes that are not text is still written.
    EXPECT_NE(SheetReport::unreadable("/d/x.json", "bad \xff", 0, desktop.random).encoded().find("bad "),
              std::string::npos);
}

TEST(SheetReport, theLastTakeLandingMakesItDoneAndDoneIsFinal) {
    fake::FakePlatform desktop;
    auto report = holdTakeHoldTake(desktop.random);
    report.started(1);
    report.finished(1, landedRun("U1"), true);
    EXPECT_EQ(report.state, State::recording);
    // Without an insertion time the take is at 0; not put into a video, the upload is the video.
    EXPECT_EQ(report.takes[0].atMs, 0);
    EXPECT_EQ(report.takes[0].durationMs, 2500);
    EXPECT_EQ(report.videoID, "U1");

    TakeRun second = landedRun("U2");
    second.insertedInto = "U1";
    second.insertedAtMs = 2500;
    report.finished(3, second, true);
    EXPECT_EQ(report.state, State::done);
    EXPECT_EQ(report.videoID, "U1");
    EXPECT_EQ(report.takes[1].atMs, 2500);
    const auto done = report;
    report.abandoned(quitDuringTheTake);
    EXPECT_EQ(report, done);
}

TEST(SheetReport, failingAndAbandoning) {
    fake::FakePlatform desktop;
    auto report = holdTakeHoldTake(desktop.random);
    report.finished(3, landedRun("U1"), false);
    EXPECT_EQ(report.state, State::failed);
    EXPECT_EQ(report.error, "take \"Share\" failed: the take was recorded but never uploaded");
    EXPECT_EQ(report.takes[1].steps, std::vector<std::string>{"click Share"});
    const auto failed = report;
    report.abandoned(quitDuringTheTake);
    EXPECT_EQ(report, failed);

    // A run that ended in an error keeps no steps.
    auto errored = holdTakeHoldTake(desktop.random);
    errored.finished(1, TakeFailure{"the plan was empty"}, true);
    EXPECT_EQ(errored.error, "take \"Open\" failed: the plan was empty");
    EXPECT_FALSE(errored.takes[0].steps);

    auto quit = holdTakeHoldTake(desktop.random);
    quit.started(1);
    quit.abandoned(quitDuringTheTake);
    EXPECT_EQ(quit.error, "Vanto quit during the take");
    EXPECT_EQ(quit.takes[0].error, "Vanto quit during the take");
    EXPECT_EQ(quit.takes[1].state, TakeState::pending);
}

} // namespace
} // namespace vanto
