#include "cli/Vanto.h"
#include "plan/AgentError.h"

#include "../targets/ScriptedDesktop.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;
using testing::ScriptedDesktop;

// Prompt runs of the whole program over a scripted desktop with a text field that
// shows what is typed into it, the person at the terminal played by the fake terminal.
class PromptRunTest : public ::testing::Test {
protected:
    PromptRunTest() {
        fs::create_directories(desktop.fake.paths.tempDir());
        auto field = desktop.add("AXTextField", "Name", Rect{200, 300, 200, 30});
        field->set(ax::value, std::string(""));
        desktop.app->focusedElement = field;
        desktop.fake.events.onPost = [this, field](const fake::PostedEvent& event) {
            if (event.kind != fake::PostedEvent::Kind::key || !event.down || !event.text) return;
            shown += *event.text;
            field->set(ax::value, shown);
            if (onKey) onKey();
        };
    }

    // A plan file of these steps.
    std::string plan(const nlohmann::json& steps) {
        const auto file = desktop.fake.paths.tempDir() / "plan.json";
        std::ofstream(file) << nlohmann::json{{"steps", steps}}.dump();
        return file.string();
    }

    struct Outcome {
        int status = -1;
        std::vector<std::string> lines; // standard output
    };
    Outcome runVanto(Arguments arguments) {
        std::istringstream in;
        std::ostringstream out;
        Vanto program(desktop.platform, in, out, err);
        arguments.insert(arguments.begin(), "/usr/bin/vanto");
        Outcome outcome;
        outcome.status = desktop.driven([&] { return program.main(arguments, desktop.fake.mainThread); });
        std::istringstream written(out.str());
        for (std::string line; std::getline(written, line);) outcome.lines.push_back(line);
        return outcome;
    }

    // When each typed character went down, in the clock's seconds.
    std::vector<double> typedAt() const {
        std::vector<double> times;
        for (const auto& event : desktop.fake.events.events)
            if (event.kind == fake::PostedEvent::Kind::key && event.down && event.text) times.push_back(event.time);
        return times;
    }

    ScriptedDesktop desktop;
    fake::FakeTerminal& terminal = desktop.fake.terminal;
    std::string output = (desktop.fake.paths.tempDir() / "take.mov").string();
    std::ostringstream err;
    std::string shown;
    std::function<void()> onKey;
};

TEST_F(PromptRunTest, aFinishedRunPrintsItsReportAsOneLineTypingAtTheGivenSpeed) {
    // Standard input is no terminal: whatever it holds, nobody is asked anything.
    terminal.lines = {"n", "n"};
    auto run = runVanto({"show typing", "--plan", plan({{{"action", "type"}, {"text", "hi"}}}), "--no-upload",
                         "--screen", "--output", output, "--cps", "5"});
    EXPECT_EQ(run.status, 0) << err.str();
    ASSERT_EQ(run.lines.size(), 1u);
    const auto report = nlohmann::ordered_json::parse(run.lines[0]);
    std::vector<std::string> keys;
    for (const auto& [key, value] : report.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"prompt", "steps", "path", "duration", "events"})) << run.lines[0];
    EXPECT_EQ(report["prompt"], "show typing");
    EXPECT_EQ(report["steps"], nlohmann::ordered_json::array({"type"}));
    EXPECT_EQ(report["path"], output);
    EXPECT_GT(report["duration"].get<double>(), 0);
    EXPECT_EQ(report["events"], 1);
    EXPECT_EQ(terminal.reads, 0);

    // Rehearsed, then recorded: each pass types two characters 1/5 s apart.
    const auto at = typedAt();
    ASSERT_EQ(at.size(), 4u);
    EXPECT_GE(at[1] - at[0], 0.2 - 1e-9);
    EXPECT_GE(at[3] - at[2], 0.2 - 1e-9);
}

TEST_F(PromptRunTest, ctrlCWhileTheTerminalWaitsForTheGoAheadCallsTheRunOff) {
    terminal.isTerminal = true;
    terminal.lines = {""}; // yes to the plan
    terminal.whileWaiting = [this] { terminal.interrupt(); };
    auto run = runVanto({"show waiting", "--plan", plan({{{"action", "wait"}, {"ms", 100}}}), "--no-upload", "--screen",
                         "--output", output});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_EQ(run.lines[0], answerLine(Response::failure(AgentError::stopped().what())));
    EXPECT_EQ(terminal.reads, 2);
    EXPECT_NE(err.str().find("vanto: ready when you are - press return to start recording\n"), std::string::npos);
    EXPECT_EQ(err.str().find("rolling"), std::string::npos) << err.str();
    EXPECT_FALSE(desktop.fake.capture.lastStream()) << "recording started after the stop";
    EXPECT_FALSE(terminal.interrupt()) << "interrupts are still watched after the run";
}

TEST_F(PromptRunTest, aSecondCtrlCFinishesTheMovieBeforeTheProcessEnds) {
    std::optional<int> endedAfterFirst;
    bool finishedWhenEnded = false;
    bool pressed = false;
    onKey = [&] {
        if (std::exchange(pressed, true)) return;
        terminal.interrupt();
        endedAfterFirst = terminal.endedWith;
        try {
            terminal.interrupt();
        } catch (const fake::FakeTerminal::ProcessEnded&) {
            // Here the process is gone; the run on the fake goes on and fails without its recorder.
            finishedWhenEnded = desktop.fake.capture.lastStream()->stopped;
        }
    };
    runVanto({"show typing", "--plan", plan({{{"action", "type"}, {"text", "hi"}}}), "--no-rehearse", "--no-upload",
              "--screen", "--output", output});
    EXPECT_EQ(endedAfterFirst, std::nullopt) << "the first Ctrl-C ended the process";
    EXPECT_EQ(terminal.endedWith, 130);
    EXPECT_TRUE(finishedWhenEnded) << "the movie was left unfinished";
    EXPECT_NE(err.str().find("vanto: stopped at once; the take is kept at " + output + "\n"), std::string::npos)
        << err.str();
}

} // namespace
} // namespace vanto
