#include "desk/SheetDesk.h"

#include "cloud/CloudGuard.h"
#include "cloud/CloudPolicy.h"
#include "drivers/FileDriver.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;

const char* selfRecordingSheet = R"({"title": "Tour", "unattended": true, "project": "p1", "project_settings": false,
    "scenes": [{"name": "Cart", "prompt": " show the cart\n", "startURL": "https://shop.test/", "pageOnly": true},
               {"kind": "hold", "name": "Pause", "seconds": 2.5, "freezeOn": "the cart"},
               {"name": "Pay", "prompt": "pay"}]})";

class SheetDeskTest : public ::testing::Test {
protected:
    SheetDeskTest() { fs::create_directories(folder()); }

    fs::path folder() { return desktop.paths.tempDir() / "sheets"; }

    fs::path write(const std::string& name, const std::string& text) {
        const auto file = folder() / name;
        std::ofstream(file) << text;
        return file;
    }

    SheetDesk::Opening open(const fs::path& file, SheetDesk::Situation situation) {
        return SheetDesk::open(
            file, situation,
            {desktop.defaults, desktop.extendedAttributes, desktop.permissions, desktop.clock, desktop.random});
    }

    static nlohmann::json report(const fs::path& sheet) {
        std::ifstream in(SheetReport::location(sheet));
        return nlohmann::json::parse(in);
    }

    fake::FakePlatform desktop;
    SheetDesk::Situation outside{true, false, std::nullopt, true};
};

TEST_F(SheetDeskTest, aSheetThatAsksToRecordItselfIsRefusedForTheFirstReasonInOrder) {
    const auto sheet = write("tour.json", selfRecordingSheet);
    desktop.extendedAttributes.attributes[sheet] = {"user.xdg.origin.url"};
    desktop.permissions.screenCapture = false;
    auto opening = open(sheet, {true, false, std::nullopt, false});
    auto written = report(sheet);
    EXPECT_EQ(written["state"], "refused");
    EXPECT_EQ(written["error"], AgentRecording::downloaded) << "the download mark comes first";
    ASSERT_EQ(written["takes"].size(), 2u);
    EXPECT_EQ(written["takes"][1]["state"], "pending");
    ASSERT_EQ(opening.complaints.size(), 1u);
    EXPECT_EQ(opening.complaints[0].title, "This demo asked to record on its own");
    EXPECT_TRUE(opening.complaints[0].detail.starts_with("This sheet was downloaded")) << opening.complaints[0].detail;
    ASSERT_TRUE(opening.sheet) << "still the person's to record take by take";
    EXPECT_FALSE(opening.recordsItself);
    EXPECT_EQ(opening.sheet->report.state, SheetReport::State::recording) << "the person's takes make a new report";

    desktop.extendedAttributes.attributes.clear();
    open(sheet, {true, false, std::nullopt, false});
    EXPECT_EQ(report(sheet)["error"], AgentRecording::missingPermissions);
    desktop.permissions.screenCapture = true;
    open(sheet, {true, false, std::nullopt, false});
    EXPECT_EQ(report(sheet)["error"], AgentRecording::notConnected);

    opening = open(sheet, outside);
    EXPECT_TRUE(opening.recordsItself);
    EXPECT_TRUE(opening.complaints.empty());
    EXPECT_EQ(report(sheet)["state"], "recording") << "written at once";

    // Opened by the person from the menu, it is not asked to record itself.
    fs::remove(SheetReport::location(sheet));
    opening = open(sheet, {false, false, std::nullopt, true});
    EXPECT_FALSE(opening.recordsItself);
    EXPECT_FALSE(fs::exists(SheetReport::location(sheet))) << "nothing is written before a take";
}

TEST_F(SheetDeskTest, aSheetOpenedWhileATakeRecordsOrThePersonIsAskedIsTurnedAwayOrAnswersTheQuestion) {
    const auto sheet = write("tour.json", selfRecordingSheet);
    const auto plain = write("plain.json", R"({"title": "P", "scenes": [{"name": "A", "prompt": "a"}]})");

    auto busy = open(sheet, {true, true, std::nullopt, true});
    EXPECT_FALSE(busy.sheet);
    ASSERT_EQ(busy.complaints.size(), 2u);
    EXPECT_EQ(busy.complaints[0].title, SheetDesk::takeIsRecording);
    EXPECT_EQ(report(sheet)["error"], AgentRecording::anotherTakeIsRecording);
    EXPECT_EQ(report(sheet)["state"], "refused");

    const auto asking = folder() / "other.report.json";
    auto waiting = open(sheet, {true, true, asking, true});
    EXPECT_FALSE(waiting.sheet);
    EXPECT_EQ(report(sheet)["error"], AgentRecording::waitingForAnotherSheet);

    auto same = open(sheet, {true, true, SheetReport::location(sheet), true});
    EXPECT_FALSE(same.sheet);
    EXPECT_TRUE(same.complaints.empty()) << "the sheet being asked about is already open";

    auto plainly = open(plain, {true, true, asking, true});
    ASSERT_TRUE(plainly.sheet);
    EXPECT_TRUE(plainly.answersTheQuestion);
    EXPECT_FALSE(plainly.recordsItself);

    const auto broken = write("broken.json", R"({"unattended": true, "title": "B", "scenes": []})");
    auto unreadable = open(broken, outside);
    EXPECT_FALSE(unreadable.sheet);
    EXPECT_EQ(report(broken)["error"], "the sheet could not be read: the demo sheet has no scenes in it");
    ASSERT_EQ(unreadable.complaints.size(), 1u);
    EXPECT_EQ(unreadable.complaints[0].detail, "the demo sheet has no scenes in it");
}

TEST_F(SheetDeskTest, aSelfRecordingSheetAsksThenPlacesEachTakeWhereTheLastEnded) {
    const auto file = write("tour.json", selfRecordingSheet);
    desktop.defaults.set(AgentRecording::defaultsKey, false);
    auto sheet = *open(file, outside).sheet;

    std::vector<RunParams> runs;
    std::vector<std::string> statesSeen;
    SheetDesk::SelfRun run;
    run.ask = [&] {
        statesSeen.push_back(report(file)["state"]);
        return AgentRecording::Answer::allow;
    };
    run.record = [&](std::size_t scene, const std::optional<DemoProgress::Place>& place) {
        runs.push_back(SheetDesk::selfRecordingParams(sheet, scene, place, "/tmp/t.mov", true, nullptr));
        AgentReport done;
        done.uploadID = "take" + std::to_string(scene);
        done.duration = 4.25;
        if (place) {
            done.insertedInto = place->videoID;
            done.insertedAtMs = static_cast<std::int64_t>(place->atSeconds * 1000);
        }
        return SheetDesk::result(done, runs.back());
    };
    run.changed = [](const OpenSheet&) {};
    run.complain = [](const TakeFlow::Complaint& complaint) { ADD_FAILURE() << complaint.detail; };
    SheetDesk::recordItself(sheet, desktop.defaults, run);

    EXPECT_EQ(statesSeen, std::vector<std::string>{"asking"});
    EXPECT_TRUE(AgentRecording::isAllowed(desktop.defaults)) << "the yes is kept";
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].prompt, "show the cart");
    EXPECT_EQ(runs[0].startURL, "https://shop.test/");
    EXPECT_TRUE(runs[0].pageOnly);
    EXPECT_EQ(runs[0].project, "p1");
    EXPECT_FALSE(runs[0].applyProjectSettings);
    EXPECT_TRUE(runs[0].assumeYes) << "nobody approves the steps";
    EXPECT_FALSE(runs[0].into);
    EXPECT_EQ(runs[1].scene, 2);
    EXPECT_EQ(runs[1].into, "take0");
    EXPECT_EQ(runs[1].atSeconds, 4.25);
    const auto written = report(file);
    EXPECT_EQ(written["state"], "done");
    EXPECT_EQ(written["videoID"], "take0");
    EXPECT_EQ(written["takes"][0]["atMs"], 0);
    EXPECT_EQ(written["takes"][1]["atMs"], 4250);

    // The pane: each scene with its take's state, the next place in the fields.
    const auto rows = SheetDesk::rows(sheet);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[1].text, "2. Pause: a hold, made in the editor");
    EXPECT_EQ(rows[2].text, "3. Pay: recorded");
    EXPECT_EQ(SheetDesk::load(sheet, 2), (SheetDesk::Fields{"pay", "take0", "0:08.5"}));
}

TEST_F(SheetDeskTest, aTakeLandsOnlyWhereItWasMeantAndADrivenSceneTalksThroughTheFolderBesideTheSheet) {
    RunParams params;
    params.upload = true;
    AgentReport uploaded;
    uploaded.uploadID = "u1";
    EXPECT_TRUE(SheetDesk::result(uploaded, params).landed);
    params.into = "v1";
    EXPECT_FALSE(SheetDesk::result(uploaded, params).landed) << "meant for a video it never went into";
    uploaded.insertedInto = "v1";
    EXPECT_TRUE(SheetDesk::result(uploaded, params).landed);
    params.upload = false;
    EXPECT_FALSE(SheetDesk::result(uploaded, params).landed);

    const auto file = write("drive.json", R"({"title": "D", "unattended": true, "stage": {},
        "scenes": [{"name": "A", "prompt": "a", "driven": true}, {"name": "B", "prompt": "b"}]})");
    auto sheet = *open(file, outside).sheet;
    fs::create_directories(folder() / "drive.drive");
    std::ofstream(folder() / "drive.drive" / "next.json") << "stale";
    auto driver = SheetDesk::driverFor(sheet, 0, desktop.clock);
    auto* files = dynamic_cast<FileDriver*>(driver.get());
    ASSERT_TRUE(files);
    EXPECT_EQ(files->directory(), folder() / "drive.drive");
    EXPECT_FALSE(fs::exists(folder() / "drive.drive" / "next.json")) << "made ready before the take";
    EXPECT_FALSE(SheetDesk::driverFor(sheet, 1, desktop.clock)) << "a planned scene has no driver";
    EXPECT_FALSE(SheetDesk::selfRecordingParams(sheet, 0, std::nullopt, "/tmp/t.mov", true, driver).rehearse);
    EXPECT_TRUE(SheetDesk::selfRecordingParams(sheet, 1, std::nullopt, "/tmp/t.mov", true, nullptr).rehearse);

    SheetDesk::Complaints complaints;
    EXPECT_TRUE(complaints.complain({"A", "b"}));
    complaints.setSelfRecording(true);
    EXPECT_FALSE(complaints.complain({"Title", "detail"}));
    EXPECT_EQ(complaints.unsaid(), "Title. detail");
}

// An assistant's run: no question here, the report in the run's folder, the first take
// where the claim said, the run's own driver and policy; a take stopped part-way ends it.
TEST_F(SheetDeskTest, anAssistantsRunRecordsUnaskedIntoItsFolderAndEndsAtATakeStoppedPartWay) {
    const auto sheetText = R"({"title": "Run", "stage": {"width": 1280, "height": 720},
        "scenes": [{"name": "A", "prompt": "a", "startURL": "https://shop.example/"},
                   {"name": "B", "prompt": "b", "driven": true},
                   {"name": "C", "prompt": "c"}]})";
    auto demo = DemoSheet::decode(sheetText);
    fs::create_directories(folder() / "run");
    OpenSheet sheet{folder() / "run" / "sheet.json",
                    DemoProgress(demo),
                    SheetReport::forSheet(demo, desktop.clock.wallTime(), desktop.random),
                    folder() / "run" / "report.json",
                    nullptr,
                    nullptr};
    sheet.progress.videoID = "v9";
    sheet.progress.endOfLastTake = 12;
    sheet.driver = std::make_shared<FileDriver>(folder() / "elsewhere", desktop.clock);
    sheet.cloud = std::make_shared<CloudPolicy>(std::vector<fs::path>{},
                                                [](const std::string&) { return std::vector<std::string>{}; });
    desktop.defaults.set(AgentRecording::defaultsKey, false); // the run was asked about elsewhere

    std::vector<RunParams> runs;
    SheetDesk::SelfRun run;
    run.record = [&](std::size_t scene, const std::optional<DemoProgress::Place>& place) {
        auto params = SheetDesk::selfRecordingParams(sheet, scene, place, "/tmp/t.mov", true,
                                                     SheetDesk::driverFor(sheet, scene, desktop.clock));
        runs.push_back(params);
        AgentReport report;
        report.uploadID = "take" + std::to_string(scene);
        report.insertedInto = params.into;
        report.insertedAtMs = static_cast<std::int64_t>(params.atSeconds.value_or(0) * 1000);
        report.duration = 3;
        // The second take is stopped part-way, and so is uploaded with a warning.
        if (scene == 1) report.warn("stopped part-way through the flow; the take is what was recorded up to then");
        return SheetDesk::unattendedResult(report, params, false);
    };
    run.changed = [](const OpenSheet&) {};
    run.complain = [](const TakeFlow::Complaint& complaint) { ADD_FAILURE() << complaint.detail; };
    SheetDesk::recordItself(sheet, desktop.defaults, run);

    ASSERT_EQ(runs.size(), 2u) << "nothing is recorded after the stopped take";
    EXPECT_EQ(runs[0].into, "v9");
    EXPECT_EQ(runs[0].atSeconds, 12);
    EXPECT_EQ(runs[0].cloud, sheet.cloud);
    EXPECT_EQ(runs[0].driver, nullptr);
    EXPECT_EQ(runs[1].atSeconds, 15);
    EXPECT_EQ(runs[1].driver, sheet.driver) << "the run's driver, not a folder beside a sheet";
    EXPECT_TRUE(fs::is_directory(folder() / "elsewhere")) << "made ready before its take";
    EXPECT_FALSE(fs::exists(folder() / "run" / "sheet.drive"));
    EXPECT_FALSE(fs::exists(SheetReport::location(sheet.location)));
    std::ifstream in(folder() / "run" / "report.json");
    const auto written = nlohmann::json::parse(in);
    EXPECT_EQ(written["state"], "failed");
    EXPECT_EQ(written["takes"][0]["state"], "recorded");
    EXPECT_EQ(written["takes"][1]["state"], "failed");
    EXPECT_NE(written["error"].get<std::string>().find("stopped part-way"), std::string::npos) << written.dump();
    EXPECT_EQ(written["takes"][2]["state"], "pending");

    // Before each take the stage browser is brought up, the take pinned to it and its
    // start page opened there (only a public one for an assistant); a self-recording
    // sheet's stage browser is closed after it, an assistant's is not.
    const auto profile = folder() / "Stage" / "Chrome";
    desktop.processes.programs["/bin/ps"] =
        ProgramOutput{0, "  500 /usr/lib/chromium/chromium --user-data-dir=" + profile.string() + " --no-first-run\n"};
    desktop.processes.table[500] = {1, "/usr/lib/chromium/chromium"};
    desktop.windows.windows = {{{"number", 7},
                                {"layer", 0},
                                {"ownerPID", 500},
                                {"ownerName", "Chromium"},
                                {"bounds", {{"x", 0}, {"y", 0}, {"width", 800}, {"height", 600}}}}};
    std::vector<std::int32_t> placed;
    StageBrowser::Desktop stage{desktop.processes, desktop.windows, desktop.clock,
                                [&](std::int32_t pid, const Rect&) { placed.push_back(pid); }};
    RunParams params;
    SheetDesk::putOnStage(params, sheet, profile, stage, {});
    EXPECT_EQ(params.pid, 500);
    EXPECT_EQ(placed, std::vector<std::int32_t>{500});
    EXPECT_TRUE(desktop.processes.launches.empty()) << "no page to open";
    params.startURL = "https://shop.example/";
    params.cloud = sheet.cloud;
    SheetDesk::putOnStage(params, sheet, profile, stage, {});
    ASSERT_EQ(desktop.processes.launches.size(), 1u);
    EXPECT_EQ(desktop.processes.launches[0].back(), "https://shop.example/");
    EXPECT_NE(std::find(desktop.processes.launches[0].begin(), desktop.processes.launches[0].end(),
                        "--user-data-dir=" + profile.string()),
              desktop.processes.launches[0].end());
    params.startURL = "http://127.0.0.1:8000/";
    EXPECT_THROW(SheetDesk::putOnStage(params, sheet, profile, stage, {}), CloudGuard::Refusal);
    EXPECT_EQ(desktop.processes.launches.size(), 1u) << "a private page is never opened";
    SheetDesk::leaveStage(sheet, profile, desktop.processes);
    EXPECT_TRUE(desktop.processes.terminated.empty());
    sheet.cloud = nullptr;
    SheetDesk::leaveStage(sheet, profile, desktop.processes);
    EXPECT_EQ(desktop.processes.terminated, std::vector<std::int32_t>{500});

    auto plain =
        *open(write("plain.json", R"({"title": "P", "scenes": [{"name": "A", "prompt": "a"}]})"), outside).sheet;
    RunParams unstaged;
    SheetDesk::putOnStage(unstaged, plain, profile, stage, {});
    EXPECT_FALSE(unstaged.pid) << "a sheet without a stage records where it is";
}

} // namespace
} // namespace vanto
