// What a cloud run says to the service, word for word, and the order of its reports.

#include "cloud/CloudReport.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

using CloudReport::Stop;

SheetReport twoTakes() {
    SheetReport report;
    report.state = SheetReport::State::recording;
    report.takes = {{.scene = 0,
                     .name = "Cart",
                     .state = SheetReport::Take::State::recorded,
                     .recordingID = "v1",
                     .atMs = 0,
                     .durationMs = 4200,
                     .steps = {},
                     .idleMs = {},
                     .warning = {},
                     .error = {}},
                    {.scene = 2,
                     .name = "Pay",
                     .state = SheetReport::Take::State::failed,
                     .recordingID = {},
                     .atMs = {},
                     .durationMs = {},
                     .steps = {},
                     .idleMs = {},
                     .warning = {},
                     .error = std::string(299, 'e') + "\u00e9!"}};
    return report;
}

TEST(CloudReport, bodiesFollowTheReportAndWhyTheRunStopped) {
    auto report = twoTakes();
    EXPECT_EQ(CloudReport::encoded(CloudReport::body(report, std::nullopt)),
              R"({"report":{"takes":[{"at_ms":0,"duration_ms":4200,"name":"Cart","recording_id":"v1","scene":0,)"
              R"("state":"recorded"},{"error":")" +
                  std::string(299, 'e') + "\u00e9" +
                  R"(","name":"Pay","scene":2,"state":"failed"}]},)"
                  R"("state":"recording"})");

    report.videoID = "vid-9";
    report.state = SheetReport::State::done;
    auto done = CloudReport::body(report, std::nullopt);
    EXPECT_EQ(done["state"], "done");
    EXPECT_EQ(done["video_id"], "vid-9");

    report.state = SheetReport::State::failed;
    auto stopped = [&](std::optional<Stop> stop) {
        auto body = CloudReport::body(report, stop);
        body.erase("report");
        body.erase("video_id");
        return CloudReport::encoded(body);
    };
    EXPECT_EQ(stopped(Stop::cancelled), R"({"code":"cancelled","state":"cancelled"})");
    EXPECT_EQ(stopped(Stop::switchOff), R"({"code":"switch_off","state":"cancelled"})");
    EXPECT_EQ(stopped(Stop::stoppedOnMac), R"({"code":"stopped_on_mac","state":"cancelled"})");
    EXPECT_EQ(stopped(Stop::tooLong),
              R"({"code":"take_failed","detail":"the run recorded for longer than it may","state":"failed"})");
    EXPECT_EQ(stopped(std::nullopt), R"({"code":"take_failed","detail":"a take failed","state":"failed"})");
    report.error = std::string(499, 'x') + "\u00e9\u00e9";
    EXPECT_EQ(CloudReport::body(report, std::nullopt)["detail"], std::string(499, 'x') + "\u00e9");
    report.state = SheetReport::State::refused;
    EXPECT_EQ(stopped(std::nullopt), R"({"code":"consent_declined","state":"refused"})");

    // The person stopping the take shows in the report's error; the run's own stop wins.
    report.state = SheetReport::State::failed;
    report.error = "the take was stopped part-way through step 3";
    EXPECT_EQ(CloudReport::stopOf(report, std::nullopt), Stop::stoppedOnMac);
    EXPECT_EQ(CloudReport::stopOf(report, Stop::tooLong), Stop::tooLong);
    report.error = "the page did not load";
    EXPECT_EQ(CloudReport::stopOf(report, std::nullopt), std::nullopt);
    EXPECT_EQ(CloudReport::stopFor("switch_off"), Stop::switchOff);
    EXPECT_EQ(CloudReport::stopFor("pause please"), Stop::cancelled);
}

TEST(CloudReport, theFixedBodiesAreWordForWord) {
    EXPECT_EQ(CloudReport::encoded(CloudReport::asking()), R"({"state":"asking"})");
    EXPECT_EQ(CloudReport::encoded(CloudReport::declined()), R"({"code":"consent_declined","state":"refused"})");
    EXPECT_EQ(CloudReport::encoded(CloudReport::stoppedBeforeRecording(Stop::switchOff)),
              R"({"code":"switch_off","state":"cancelled"})");
    EXPECT_EQ(CloudReport::encoded(CloudReport::stoppedBeforeRecording(std::nullopt)),
              R"({"code":"cancelled","state":"cancelled"})");
    EXPECT_EQ(CloudReport::encoded(CloudReport::windowBusy()),
              R"({"code":"take_failed","detail":"Vanto was busy with another take","state":"failed"})");
    EXPECT_EQ(CloudReport::encoded(CloudReport::endedWithoutFinishing()),
              R"({"code":"take_failed","detail":"the run ended without finishing","state":"failed"})");
    EXPECT_EQ(CloudReport::encoded(CloudReport::quitDuringTheRun()),
              R"({"code":"app_restarted","detail":"Vanto quit during the run","state":"failed"})");
    EXPECT_EQ(CloudReport::encoded(CloudReport::lostTrack()),
              R"({"code":"app_restarted","detail":"Vanto lost track of the run","state":"failed"})");
    EXPECT_TRUE(CloudReport::isFinal(CloudReport::lostTrack()));
    EXPECT_TRUE(CloudReport::isFinal(CloudReport::declined()));
    EXPECT_FALSE(CloudReport::isFinal(CloudReport::asking()));
}

TEST(CloudReport, reportsMadeInTheSameMillisecondStillComeInOrder) {
    const double now = 1'900'000'000.0005;
    auto first = CloudReport::sendable(CloudReport::asking(), "ct", now);
    auto second = CloudReport::sendable(CloudReport::asking(), "ct", now);
    EXPECT_EQ(first["claim_token"], "ct");
    EXPECT_EQ(first["seq"], 1'900'000'000'000);
    EXPECT_EQ(second["seq"].get<std::int64_t>(), first["seq"].get<std::int64_t>() + 1);
    // A clock set back does not reorder them either.
    EXPECT_EQ(CloudReport::nextSeq(now - 60), first["seq"].get<std::int64_t>() + 2);
}

} // namespace
} // namespace vanto
