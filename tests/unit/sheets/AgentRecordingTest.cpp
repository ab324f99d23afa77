#include "sheets/AgentRecording.h"

#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;
using AgentRecording::Answer;

class AgentRecordingTest : public ::testing::Test {
protected:
    fs::path sheet(const std::string& name, const std::string& text) {
        fs::create_directories(desktop.paths.tempDir());
        std::ofstream(desktop.paths.tempDir() / name) << text;
        return desktop.paths.tempDir() / name;
    }
    std::optional<std::string> refusal(const fs::path& file, bool connected = true) {
        return AgentRecording::refusal(file, desktop.extendedAttributes, desktop.permissions, connected);
    }

    fake::FakePlatform desktop;
};

TEST_F(AgentRecordingTest, onlyTheBooleanTrueAsksToRecord) {
    EXPECT_TRUE(AgentRecording::askedToRecordItself(sheet("a.json", R"({"unattended": true})")));
    EXPECT_FALSE(AgentRecording::askedToRecordItself(sheet("b.json", R"({"unattended": "true"})")));
    EXPECT_FALSE(AgentRecording::askedToRecordItself(sheet("c.json", R"({"unattended": true)")));
}

TEST_F(AgentRecordingTest, refusesADownloadedSheetFirstThenMissingPermissionsThenNoAccount) {
    const auto file = sheet("demo.json", R"({"unattended": true})");
    desktop.permissions.screenCapture = false;
    desktop.extendedAttributes.attributes[file] = {"user.xdg.origin.url"};
    EXPECT_EQ(refusal(file, false), "this sheet was downloaded or sent from another machine, so it is not recorded "
                                    "on its own. Press Record for each take.");
    // Marks that cannot be read are no proof the sheet is this machine's own.
    desktop.extendedAttributes.attributes[file] = {};
    desktop.extendedAttributes.unknown = {file};
    EXPECT_EQ(refusal(file), AgentRecording::downloaded);
    desktop.extendedAttributes.unknown.clear();

    EXPECT_EQ(refusal(file, false), AgentRecording::missingPermissions);
    desktop.permissions.screenCapture = true;
    EXPECT_EQ(refusal(file, false), "Vanto is not connected to an account, so there is nowhere to send the takes. "
                                    "Connect it from the Vanto window.");
    EXPECT_FALSE(refusal(file));
}

TEST_F(AgentRecordingTest, asksOnlyWhileAgentsMayNotRecordAndRemembersAYes) {
    auto report = SheetReport::forSheet(
        DemoSheet::decode(R"({"title": "T", "scenes": [{"name": "A", "prompt": "a"}]})"), 0, desktop.random);
    std::vector<SheetReport::State> saved;
    auto save = [&](const SheetReport& r) { saved.push_back(r.state); };
    auto answer = [](Answer a) { return [a] { return a; }; };

    EXPECT_FALSE(AgentRecording::consent(desktop.defaults, report, save, answer(Answer::deny)));
    EXPECT_TRUE(saved.empty());

    desktop.defaults.set("agentsMayRecord", false);
    EXPECT_FALSE(AgentRecording::consent(desktop.defaults, report, save, answer(Answer::allow)));
    EXPECT_EQ(saved, std::vector<SheetReport::State>{SheetReport::State::asking});
    EXPECT_EQ(report.state, SheetReport::State::recording);
    EXPECT_EQ(desktop.defaults.values.at("agentsMayRecord"), true);

    desktop.defaults.set("agentsMayRecord", false);
    EXPECT_EQ(AgentRecording::consent(desktop.defaults, report, save, answer(Answer::deny)),
              "the person at the machine chose not to let agents record");
    EXPECT_EQ(report.state, SheetReport::State::refused);
}

TEST_F(AgentRecordingTest, aSheetOpenedWhileAskingIsRefusedOnlyWhenItAsksToo) {
    using AgentRecording::WhileAsking;
    const fs::path asking = "/d/one.report.json";
    EXPECT_EQ(AgentRecording::whileAsking("/d/two.report.json", std::nullopt, true), WhileAsking::carryOn);
    EXPECT_EQ(AgentRecording::whileAsking("/d/x/../one.report.json", asking, true), WhileAsking::sameSheet);
    EXPECT_EQ(AgentRecording::whileAsking("/d/two.report.json", asking, true), WhileAsking::refuse);
    EXPECT_EQ(AgentRecording::whileAsking("/d/two.report.json", asking, false), WhileAsking::openPlainly);
}

} // namespace
} // namespace vanto
