#include "agent/Agent.h"
#include "plan/AgentError.h"

#include "../targets/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedDesktop;

// Whole runs over the scripted page: a plan file, the fake recorder writing a real
// small file, and the terminal played by the test.
class RunTest : public ::testing::Test {
protected:
    RunTest() {
        desktop.fake.processes.env["VANTO_CONFIG"] = (desktop.fake.paths.configDir() / "config.json").string();
        fs::create_directories(desktop.fake.paths.tempDir());
        publish = desktop.add("AXButton", "Publish", {300, 300, 120, 30});
        desktop.fake.capture.addWindow(ScriptedDesktop::windowNumber, {100, 100, 800, 600}, "Shop",
                                       ScriptedDesktop::pid);
    }

    void link() {
        fs::create_directories(desktop.fake.paths.configDir());
        std::ofstream(desktop.fake.paths.configDir() / "config.json")
            << R"({"token":"tok-1","apiBase":"https://api.test"})";
    }

    RunParams plan(const std::string& steps) {
        RunParams params;
        params.prompt = "show publishing";
        params.planFile = desktop.fake.paths.tempDir() / "plan.json";
        params.output = desktop.fake.paths.tempDir() / "take.mov";
        params.upload = false;
        std::ofstream(*params.planFile) << R"({"steps":)" + steps + "}";
        return params;
    }

    // The run's report, or its error as the report's warning with the path "failed".
    AgentReport run(const RunParams& params, std::stop_token stop = {}) {
        Agent agent = desktop.engine.makeAgent(
            ProgressLog(err,
                        [this](const std::string& line) {
                            if (onLine)
                                onLine(line);
                            else
                                lines.push_back(line);
                        }),
            callbacks,
            terminal ? std::function<std::optional<std::string>(std::stop_token)>(
                           [this](std::stop_token) -> std::optional<std::string> {
                               asked += 1;
                               return *terminal;
                           })
                     : nullptr);
        return desktop.driven([&] {
            try {
                return agent.run(params, stop);
            } catch (const std::exception& error) {
                AgentReport failed;
                failed.path = "failed";
                failed.warning = error.what();
                return failed;
            }
        });
    }

    bool logged(const std::string& line) const { return std::ranges::find(lines, line) != lines.end(); }
    std::size_t at(const std::string& line) const {
        return static_cast<std::size_t>(std::ranges::find(lines, line) - lines.begin());
    }

    bool uploaded() {
        for (const auto& sent : desktop.fake.http.sent())
            if (sent.request.url.find("upload") != std::string::npos) return true;
        return false;
    }

    ScriptedDesktop desktop;
    fake::FakeAXNodePtr publish;
    Agent::Callbacks callbacks;
    std::optional<std::string> terminal; // the line the person types, when there is a terminal
    int asked = 0;
    std::vector<std::string> lines;
    std::function<void(const std::string&)> onLine; // instead of only keeping each line
    std::ostringstream err;
};

constexpr const char* threeWaits = R"([{"action":"wait","ms":100},{"action":"wait"},{"action":"wait","ms":300}])";

TEST_F(RunTest, aWalkOnlyRunPerformsEveryStepRecordsNothingAndAsksNobody) {
    auto params = plan(threeWaits);
    params.driveOnly = true;
    terminal = "n"; // a no would decline, were anyone asked
    const double start = desktop.fake.clock.now();
    const auto report = run(params);
    EXPECT_EQ(report.json(), R"({"prompt":"show publishing","steps":["wait","wait","wait"],)"
                             R"("path":"","duration":0.0,"events":0,)"
                             R"("warning":"drove the flow without recording: another vanto run holds the camera"})")
        << report.json();
    EXPECT_EQ(asked, 0);
    // The three waits and nothing of a take's own: its still, tail and settling pauses are
    // 0.6 s or more each. The run's stop watcher ticks on the same clock, so the end is
    // a few hundredths late by however its ticks fell.
    const double elapsed = desktop.fake.clock.now() - start;
    EXPECT_GE(elapsed, 1.2 - 1e-9);
    EXPECT_LT(elapsed, 1.6);
    EXPECT_FALSE(fs::exists(params.output));
}

TEST_F(RunTest, theTerminalIsAskedOnlyWhenThereIsOneAndANoStopsBeforeAnythingMoves) {
    auto params = plan(threeWaits);
    terminal = "No";
    auto report = run(params);
    EXPECT_EQ(report.warning, AgentError::declined().what());
    EXPECT_TRUE(logged("run this plan? [Y/n]"));
    EXPECT_FALSE(logged("rehearsed; resetting to record"));

    // An empty line is a yes, and the go-ahead is asked for after the rehearsal.
    lines.clear();
    terminal = "";
    report = run(params);
    EXPECT_EQ(report.path, params.output.string()) << report.warning.value_or("");
    EXPECT_LT(at("rehearsed; resetting to record"), at("ready when you are - press return to start recording"));
    EXPECT_TRUE(logged("rolling"));
    EXPECT_EQ(asked, 3);

    // Without a terminal nobody is asked and the run goes on.
    lines.clear();
    terminal.reset();
    report = run(params);
    EXPECT_EQ(asked, 3);
    EXPECT_FALSE(logged("run this plan? [Y/n]"));
    EXPECT_FALSE(logged("rolling"));
    EXPECT_EQ(report.steps.size(), 3u);
    EXPECT_FALSE(report.warning) << *report.warning;
    EXPECT_GT(report.duration, 0.9 + 1.2) << "the still head and the steps are in the take";
    EXPECT_TRUE(fs::exists(report.path));
}

TEST_F(RunTest, aPlanThatDoesNotOpenItsApplicationDrivesTheWindowBeforeAnyStep) {
    bool published = false;
    desktop.onClick(publish, [&] {
        published = true;
        desktop.add("AXStaticText", "Published", Rect{600, 600, 80, 20});
    });
    auto params = plan(R"([{"action":"wait"},{"action":"click","target":"Publish"}])");
    params.rehearse = false;
    const auto report = run(params);
    EXPECT_TRUE(published) << report.warning.value_or("");
    ASSERT_TRUE(logged("driving Shop - Shop"));
    EXPECT_LT(at("driving Shop - Shop"), at("recording without a rehearsal"));
    EXPECT_EQ(report.steps, (std::vector<std::string>{"wait", "click Publish"}));
}

TEST_F(RunTest, aStopDuringStepFourOfSixKeepsTheTakeAndUploadsNothing) {
    link();
    std::stop_source stop;
    desktop.onClick(publish, [&] { stop.request_stop(); });
    auto params = plan(R"([{"action":"wait","ms":100},{"action":"wait","ms":100},{"action":"wait","ms":100},
        {"action":"click","target":"Publish"},{"action":"wait","ms":100},{"action":"wait","ms":100}])");
    params.upload = true;
    params.rehearse = false;
    const auto report = run(params, stop.get_token());
    EXPECT_EQ(report.path, params.output.string()) << report.warning.value_or("");
    EXPECT_TRUE(fs::exists(report.path));
    EXPECT_EQ(report.warning, "stopped part-way through the flow; the take is what was recorded up to then");
    EXPECT_TRUE(logged("stopped during step 4; keeping what has been recorded"));
    EXPECT_EQ(report.steps.size(), 3u);
    EXPECT_FALSE(uploaded());
    EXPECT_FALSE(report.uploadID);
}

// Typing "vanto" starts a nested run (here: its registry file appears on the click). A
// stop while waiting for it keeps the take, finished, and says so; a stop in the same
// wait after a rehearsal, before any recording, is the person's stop.
TEST_F(RunTest, aStopWhileWaitingForANestedRunIsAStopNotAFailure) {
    link();
    auto field = desktop.add("AXTextField", "Command", Rect{300, 400, 200, 30});
    field->set(ax::value, std::string(""));
    desktop.app->focusedElement = field;
    std::string shown;
    desktop.fake.events.onPost = [&, clicks = desktop.fake.events.onPost](const fake::PostedEvent& event) {
        if (clicks) clicks(event);
        if (event.kind == fake::PostedEvent::Kind::key && event.down && event.text)
            field->set(ax::value, shown += *event.text);
    };
    const auto runs = desktop.fake.paths.configDir() / "runs";
    desktop.onClick(publish, [&] {
        desktop.fake.processes.table[501] = fake::FakeProcess{};
        fs::create_directories(runs);
        std::ofstream(runs / "501") << "1800000000";
        desktop.add("AXStaticText", "Published", Rect{600, 600, 80, 20});
    });
    std::stop_source stop;
    auto params = plan(R"([{"action":"click","target":"Publish"},{"action":"type","text":"vanto demo"}])");
    params.upload = true;
    params.rehearse = false;
    auto stopOn = [&](const std::string& line) {
        return [&, line](const std::string& said) {
            lines.push_back(said);
            if (said == line) stop.request_stop();
        };
    };
    onLine = stopOn("recording a nested vanto run; waiting for it to finish");
    auto report = run(params, stop.get_token());
    EXPECT_EQ(report.path, params.output.string()) << report.warning.value_or("");
    EXPECT_EQ(report.warning, "stopped part-way through the flow; the take is what was recorded up to then");
    EXPECT_TRUE(logged("stopped while waiting for the nested vanto run; keeping what has been recorded"));
    EXPECT_FALSE(desktop.engine.recorder().status().recording);
    EXPECT_FALSE(uploaded());

    fs::remove(runs / "501");
    shown.clear();
    lines.clear();
    stop = {};
    params.rehearse = true;
    onLine = stopOn("waiting for a nested vanto run to finish");
    report = run(params, stop.get_token());
    EXPECT_EQ(report.path, "failed");
    EXPECT_EQ(report.warning, AgentError::stopped().what());
}

TEST_F(RunTest, aStepThatFailsWhileRecordingEndsTheRunButKeepsTheFile) {
    auto params = plan(R"([{"action":"wait","ms":100},{"action":"click","target":"Nowhere"}])");
    params.rehearse = false;
    const auto report = run(params);
    EXPECT_EQ(report.path, "failed");
    EXPECT_EQ(report.warning, AgentError::unresolved("Nowhere").what());
    EXPECT_TRUE(fs::exists(params.output)) << "the part recorded before the failure is gone";
}

} // namespace
} // namespace vanto
