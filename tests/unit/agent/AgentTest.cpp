#include "agent/Agent.h"
#include "engine/Engine.h"
#include "platform/fake/FakePlatform.h"
#include "service/ConfigStore.h"
#include "service/UploadError.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;

class AgentTest : public ::testing::Test {
protected:
    AgentTest() {
        fs::create_directories(runs());
        fake.processes.env["VANTO_CONFIG"] = (fake.paths.configDir() / "config.json").string();
    }

    fs::path runs() { return fake.paths.configDir() / "runs"; }

    void link() {
        std::ofstream(fake.paths.configDir() / "config.json") << R"({"token":"tok-1","apiBase":"https://api.test"})";
    }

    // The run's error and the lines it logged.
    std::string run(const RunParams& params) {
        Agent agent = engine.makeAgent(ProgressLog(err));
        try {
            agent.run(params);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no error";
    }

    RunParams params(std::string prompt = "show saving") {
        RunParams p;
        p.prompt = std::move(prompt);
        return p;
    }

    std::vector<std::string> registered() {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(runs())) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    fake::FakePlatform fake;
    Platform platform = fake.platform();
    Engine engine{platform};
    std::ostringstream err;
};

// The lines a run logged before it went on to the screen.
std::string opening(const std::string& log, std::size_t lines) {
    std::size_t at = 0;
    for (std::size_t i = 0; i < lines && at != std::string::npos; ++i) at = log.find('\n', at + (i ? 1 : 0));
    return at == std::string::npos ? log : log.substr(0, at + 1);
}

TEST_F(AgentTest, thePlannersStepsArePreparedAndListedAndTheRunDeregisters) {
    link();
    fake.http.answer(200, R"({"id":"v1"})"); // the video the take goes into exists
    fake.http.answer(200, R"({"steps":[{"action":"open","app":"Chromium"},
        {"action":"navigate","url":"https://www.example.test/"},
        {"action":"click","target":"Save","role":"button","nth":2,"near":"Title"},
        {"action":"key","key":"cmd+s"}]})");
    auto p = params();
    p.startURL = "http://example.test";
    p.into = "v1";
    // The fake desktop has no Chromium window, so the run stops when it opens it.
    EXPECT_NE(run(p).find("Chromium"), std::string::npos);
    EXPECT_EQ(opening(err.str(), 6), "vanto: starting\n"
                                     "vanto: asking the planner\n"
                                     "vanto: planned 3 steps\n"
                                     "vanto:   1. open app=Chromium\n"
                                     "vanto:   2. click target=\"Save\" role=button nth=2 near=\"Title\"\n"
                                     "vanto:   3. key key=cmd+s\n");
    auto sent = fake.http.sent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].request.url, "https://api.test/api/video/v1");
    auto body = nlohmann::json::parse(sent[1].request.body);
    EXPECT_EQ(body["continues"], true);
    EXPECT_EQ(body["prompt"], "Google Chrome is already open on http://example.test. Start from that page; do not "
                              "navigate to it again. show saving");
    EXPECT_TRUE(registered().empty());
}

TEST_F(AgentTest, anotherLiveRunMakesThisOneWalkAndADeadOnesFileGoes) {
    link();
    fake.http.answer(200, R"({"steps":[]})");
    fake.processes.table[501] = fake::FakeProcess{};
    fake.processes.table[502] = fake::FakeProcess{1, "", false};
    std::ofstream(runs() / "501") << "1800000000";
    std::ofstream(runs() / "502") << "1800000000";
    fake.windows.addWindow(1, "Google-chrome", 700, "Shop", {0, 0, 900, 700});
    EXPECT_EQ(run(params()), "no error");
    EXPECT_NE(err.str().find("vanto: another vanto run is driving; walking the flow without recording\n"),
              std::string::npos)
        << err.str();
    EXPECT_EQ(registered(), std::vector<std::string>{"501"}) << "the dead run's file stays, or ours does";

    fake.processes.table[501].alive = false;
    err.str("");
    fake.http.answer(200, R"({"steps":[]})");
    run(params());
    EXPECT_EQ(err.str().find("walking"), std::string::npos) << err.str();
    EXPECT_TRUE(registered().empty());

    // --no-record walks whoever else runs.
    err.str("");
    auto walk = params();
    walk.driveOnly = true;
    fake.http.answer(200, R"({"steps":[]})");
    EXPECT_EQ(run(walk), "no error");
    EXPECT_NE(err.str().find("walking the flow without recording"), std::string::npos);
}

TEST_F(AgentTest, withoutALinkThereIsNoPlannerAndATakeForAVideoStopsFirst) {
    EXPECT_EQ(run(params()), UploadError::notConnected().what());
    EXPECT_EQ(err.str(), "vanto: starting\n");
    EXPECT_TRUE(registered().empty()) << "a failed run stays registered";

    err.str("");
    auto into = params();
    into.into = "v1";
    EXPECT_EQ(run(into), UploadError::notConnected().what());
    EXPECT_EQ(err.str(), "") << "the run started before the link was checked";
    EXPECT_TRUE(fake.http.sent().empty());
}

TEST_F(AgentTest, aPlanFileIsUsedInsteadOfThePlannerAndItsFaultsEndTheRun) {
    auto withFile = params();
    withFile.planFile = fake.paths.tempDir() / "plan.json";
    fs::create_directories(fake.paths.tempDir());
    std::ofstream(*withFile.planFile) << R"({"steps":[{"action":"wait"},{"target":"no action"}]})";
    EXPECT_NE(run(withFile).find("action"), std::string::npos) << "a step without an action fails the plan";

    std::ofstream(*withFile.planFile) << R"({"steps":[{"action":"back"},{"action":"back"}]})";
    err.str("");
    withFile.upload = false;
    run(withFile);
    EXPECT_EQ(opening(err.str(), 5), "vanto: starting\n"
                                     "vanto: using plan.json; the prompt is narration only, not the plan\n"
                                     "vanto: planned 2 steps\n"
                                     "vanto:   1. back\n"
                                     "vanto:   2. back\n");
    EXPECT_TRUE(fake.http.sent().empty()) << "the planner was asked";

    fs::remove(*withFile.planFile);
    EXPECT_EQ(run(withFile),
              "could not read the plan at " + withFile.planFile->string() + ": No such file or directory");
    fs::create_symlink("/dev/zero", *withFile.planFile);
    EXPECT_EQ(run(withFile),
              "could not read the plan at " + withFile.planFile->string() + ": it is a device, not a regular file");
}

TEST_F(AgentTest, aTakeForAVideoThatDoesNotExistStopsBeforeTheRunStarts) {
    link();
    fake.http.answer(404, R"({"error":"not found"})");
    auto into = params();
    into.into = "vid_missing";
    EXPECT_EQ(run(into), UploadError::noSuchVideo("vid_missing").what());
    EXPECT_EQ(err.str(), "");
    ASSERT_EQ(fake.http.sent().size(), 1u);
    EXPECT_EQ(fake.http.sent()[0].request.url, "https://api.test/api/video/vid_missing");

    // Without an upload the video is never asked about.
    into.upload = false;
    fake.http.answer(200, R"({"steps":[]})");
    run(into);
    EXPECT_EQ(fake.http.sent().size(), 2u);
    EXPECT_NE(err.str().find("vanto: planned 0 steps"), std::string::npos) << err.str();
}

TEST_F(AgentTest, thePlannersQuestionEndsTheRunWithTheQuestion) {
    link();
    fake.http.answer(422, R"({"error":"Which app should I use?"})");
    EXPECT_EQ(run(params()), "Which app should I use?");
}

} // namespace
} // namespace vanto
