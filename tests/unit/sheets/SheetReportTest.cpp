#include "sheets/SheetReport.h"

#include "base/Files.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

namespace fs = std::filesystem;
using State = SheetReport::State;
using TakeState = SheetReport::Take::State;

DemoSheet holdTakeHoldTake() {
    return DemoSheet::decode(R"({"title": "Tour", "scenes": [
        {"kind": "hold", "name": "Logo"}, {"name": "Open", "prompt": "open it"},
        {"kind": "hold", "name": "Chart"}, {"name": "Share", "prompt": "share it"}]})");
}

TakeRun landedRun(double duration) {
    TakeRun run;
    run.steps = {"click Share"};
    run.duration = duration;
    run.uploadID = "U1";
    run.uploadURL = "https://example.test/v/U1";
    return run;
}

TEST(SheetReport, isNamedAfterItsSheetAndWrittenWholeWithSortedKeys) {
    EXPECT_EQ(SheetReport::location("/d/demo.json"), fs::path("/d/demo.report.json"));
    EXPECT_EQ(SheetReport::location("/d/demo"), fs::path("/d/demo.report.json"));
    EXPECT_EQ(SheetReport::location("/d/a.b.json"), fs::path("/d/a.b.report.json"));

    fake::FakePlatform desktop;
    // 2027-01-15 08:00:00 UTC and a fraction, which is cut off.
    auto report = SheetReport::forSheet(holdTakeHoldTake(), 1'800'000'000.75, desktop.random);
    EXPECT_EQ(report.state, State::recording);
    ASSERT_EQ(report.takes.size(), 2u);
    EXPECT_EQ(report.takes[0].scene, 1u);
    EXPECT_EQ(report.takes[1].scene, 3u);
    EXPECT_EQ(report.takes[1].name, "Share");
    EXPECT_EQ(report.takes[1].state, TakeState::pending);

    const std::string text = report.encoded();
    EXPECT_EQ(text, "{\n"
                    "  \"runID\": \"" +
                        report.runID +
                        "\",\n"
                        "  \"startedAt\": \"2027-01-15T08:00:00Z\",\n"
                        "  \"state\": \"recording\",\n"
                        "  \"takes\": [\n"
                        "    {\n"
                        "      \"name\": \"Open\",\n"
                        "      \"scene\": 1,\n"
                        "      \"state\": \"pending\"\n"
                        "    },\n"
                        "    {\n"
                        "      \"name\": \"Share\",\n"
                        "      \"scene\": 3,\n"
                        "      \"state\": \"pending\"\n"
                        "    }\n"
                        "  ],\n"
                        "  \"title\": \"Tour\"\n"
                        "}\n");

    // A later report replaces the file; nothing is left beside it.
    const fs::path file = desktop.paths.tempDir() / "demo.report.json";
    fs::create_directories(file.parent_path());
    report.write(file);
    report.finished(1, landedRun(2), true);
    report.write(file);
    EXPECT_EQ(readFile(file), report.encoded());
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);

    auto unreadable = SheetReport::unreadable("/d/broken.json", "no such file", 1'800'000'000, desktop.random);
    EXPECT_EQ(unreadable.title, "broken");
    EXPECT_EQ(unreadable.state, State::failed);
    EXPECT_EQ(unreadable.error, "the sheet could not be read: no such file");
    EXPECT_TRUE(unreadable.takes.empty());
    EXPECT_NE(unreadable.runID, report.runID);
}

TEST(SheetReport, aReportIsDoneWhenItsLastTakeLands) {
    fake::FakePlatform desktop;
    auto report = SheetReport::forSheet(holdTakeHoldTake(), 0, desktop.random);
    report.started(1);
    EXPECT_EQ(report.takes[0].state, TakeState::recording);
    report.finished(1, landedRun(2.5009), true);
    EXPECT_EQ(report.state, State::recording);
    const auto& first = report.takes[0];
    EXPECT_EQ(first.state, TakeState::recorded);
    // Without an insertion time the take is at 0, not absent.
    EXPECT_EQ(first.atMs, 0);
    EXPECT_EQ(first.durationMs, 2500);
    EXPECT_EQ(first.recordingID, "U1");
    // Not put into a video: the upload is the video.
    EXPECT_EQ(report.videoID, "U1");
    EXPECT_EQ(report.videoURL, "https://example.test/v/U1");

    TakeRun second = landedRun(1);
    second.uploadID = "U2";
    second.insertedInto = "U1";
    second.insertedAtMs = 2500;
    second.idleMs = {{{100, 900}}};
    report.started(3);
    report.finished(3, second, true);
    EXPECT_EQ(report.state, State::done);
    EXPECT_EQ(report.videoID, "U1");
    EXPECT_EQ(report.takes[1].atMs, 2500);
    EXPECT_NE(report.encoded().find("\"idleMs\": [\n        [\n          100,\n          900"), std::string::npos);

    // done is final.
    auto done = report;
    report.abandoned(quitDuringTheTake);
    EXPECT_EQ(report, done);
}

TEST(SheetReport, aTakeThatNeverLandedFailsTheReportAndAbandoningThenChangesNothing) {
    fake::FakePlatform desktop;
    auto report = SheetReport::forSheet(holdTakeHoldTake(), 0, desktop.random);
    report.started(3);
    report.finished(3, landedRun(2), false);
    EXPECT_EQ(report.state, State::failed);
    EXPECT_EQ(report.error, "take \"Share\" failed: the take was recorded but never uploaded");
    EXPECT_EQ(report.takes[1].state, TakeState::failed);
    EXPECT_EQ(report.takes[1].steps, std::vector<std::string>{"click Share"});
    EXPECT_EQ(report.takes[0].state, TakeState::pending);

    auto failed = report;
    report.abandoned(quitDuringTheTake);
    EXPECT_EQ(report, failed);

    // A warning is the reason; a run that ended in an error keeps no steps.
    auto warned = SheetReport::forSheet(holdTakeHoldTake(), 0, desktop.random);
    TakeRun run = landedRun(2);
    run.warning = "the upload was refused";
    warned.finished(1, run, false);
    EXPECT_EQ(warned.takes[0].error, "the upload was refused");
    auto errored = SheetReport::forSheet(holdTakeHoldTake(), 0, desktop.random);
    errored.finished(1, TakeFailure{"the plan was empty"}, true);
    EXPECT_EQ(errored.error, "take \"Open\" failed: the plan was empty");
    EXPECT_FALSE(errored.takes[0].steps);
}

TEST(SheetReport, quittingFailsTheTakeBeingRecordedAndLeavesTheRestPending) {
    fake::FakePlatform desktop;
    auto report = SheetReport::forSheet(holdTakeHoldTake(), 0, desktop.random);
    report.started(1);
    report.abandoned(quitDuringTheTake);
    EXPECT_EQ(report.state, State::failed);
    EXPECT_EQ(report.error, "Vanto quit during the take");
    EXPECT_EQ(report.takes[0].state, TakeState::failed);
    EXPECT_EQ(report.takes[0].error, "Vanto quit during the take");
    EXPECT_EQ(report.takes[1].state, TakeState::pending);
    EXPECT_FALSE(report.takes[1].error);
}

} // namespace
} // namespace vanto
