#include "agent/Agent.h"
#include "drivers/FileDriver.h"
#include "plan/AgentError.h"

#include "../targets/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>

namespace vanto {
namespace {

using testing::ScriptedDesktop;
using Outcome = DriverResult::Outcome;
using Pauses = std::vector<std::pair<std::int64_t, std::int64_t>>;
namespace fs = std::filesystem;

Step step(const nlohmann::json& fields) {
    return Step::fromJSON(fields);
}

// A driver that hands over its commands in order, each after its pause on the clock,
// and keeps what it was told. Out of commands it stays silent for the whole wait.
class ScriptedDriver final : public TakeDriver {
public:
    explicit ScriptedDriver(fake::VirtualClock& clock) : clock_(clock) {}

    void after(double seconds, DriverCommand command) { cues_.push_back({seconds, std::move(command), nullptr}); }
    void failing(std::exception_ptr error) { cues_.push_back({0, {}, std::move(error)}); }

    void prepare() override {}
    DriverCommand next(double timeout, std::stop_token) override {
        waits.push_back(timeout);
        if (cues_.empty()) {
            clock_.advance(timeout);
            return DriverCommand::idle();
        }
        auto cue = cues_.front();
        cues_.pop_front();
        if (cue.error) std::rethrow_exception(cue.error);
        clock_.advance(cue.seconds);
        return cue.command;
    }
    void answer(const DriverResult& result) override { answers.push_back(result); }
    fs::path screenshotFile(std::int64_t id) override { return folder / ("look-" + std::to_string(id) + ".png"); }
    void opened(std::optional<std::int64_t> scene) override { told.push_back("opened " + std::to_string(*scene)); }
    void closed() override { told.push_back("closed"); }

    std::vector<double> waits;
    std::vector<DriverResult> answers;
    std::vector<std::string> told;
    fs::path folder;

private:
    struct Cue {
        double seconds;
        DriverCommand command;
        std::exception_ptr error;
    };
    fake::VirtualClock& clock_;
    std::deque<Cue> cues_;
};

class DrivenTakeTest : public ::testing::Test {
protected:
    DrivenTakeTest() { session.pid = ScriptedDesktop::pid; }

    Agent agent(Agent::Callbacks callbacks = {}) {
        return desktop.engine.makeAgent(ProgressLog(err, [this](const std::string& line) { lines.push_back(line); }),
                                        std::move(callbacks));
    }

    // The take from now on, its recording begun at this moment.
    Agent::Driven drive(Agent& run) { return run.drive({driver, session, {}, desktop.fake.clock.now(), 3}); }

    std::string failureOf(Agent& run) {
        try {
            drive(run);
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no error";
    }

    bool logged(const std::string& line) const { return std::ranges::find(lines, line) != lines.end(); }

    ScriptedDesktop desktop;
    ScriptedDriver driver{desktop.fake.clock};
    Session session;
    std::ostringstream err;
    std::vector<std::string> lines;
};

TEST_F(DrivenTakeTest, silenceForTwoMinutesKeepsTheTakeAndEveryPauseIsNoted) {
    desktop.add("AXButton", "Save", Rect{200, 300, 100, 30});
    auto wait = step({{"action", "wait"}, {"ms", 1000}});
    driver.after(0.3, DriverCommand::performing(1, wait)); // too short to be a pause
    driver.after(2, DriverCommand::looking(2));
    driver.after(1, DriverCommand::performing(3, wait)); // the look did not end the pause
    auto run = agent();
    const auto take = drive(run);

    EXPECT_TRUE(take.idledOut);
    EXPECT_FALSE(take.stopped);
    EXPECT_EQ(take.steps, (std::vector<std::string>{"wait", "wait"}));
    EXPECT_EQ(take.idleMs, (Pauses{{1300, 4300}, {5300, 125300}}));
    EXPECT_TRUE(logged("no step from the agent for 120 seconds; keeping the take"));
    EXPECT_EQ(driver.waits, std::vector<double>(4, 120));
    EXPECT_EQ(driver.told, (std::vector<std::string>{"opened 3", "closed"}));

    ASSERT_EQ(driver.answers.size(), 4u);
    const DriverLook page{std::nullopt, {{"button", "Save"}}, std::nullopt};
    EXPECT_EQ(driver.answers[0], (DriverResult{0, Outcome::started, std::nullopt, page}));
    EXPECT_EQ(driver.answers[1], (DriverResult{1, Outcome::done, std::nullopt, page}));
    EXPECT_EQ(driver.answers[2], (DriverResult{2, Outcome::looked, std::nullopt, page}));
    EXPECT_EQ(driver.answers[3].id, 3);
    // Between steps the panel says who is driving.
    ASSERT_TRUE(desktop.fake.ui.panel);
    EXPECT_EQ(desktop.fake.ui.panel->caption, "● REC   driven by an agent");
    EXPECT_EQ(desktop.fake.ui.panel->message, "the agent is thinking…");
}

TEST_F(DrivenTakeTest, whatTheAgentCannotDoIsAnsweredAndTheTakeGoesOn) {
    auto save = desktop.add("AXButton", "Save", Rect{200, 300, 100, 30});
    desktop.onClick(save, [&] { desktop.add("AXStaticText", "Saved", Rect{200, 400, 100, 20}); });
    driver.after(0, DriverCommand::performing(1, step({{"action", "open"}, {"app", "Gedit"}})));
    driver.after(0, DriverCommand::performing(2, step({{"action", "click"}, {"target", "Nowhere"}})));
    driver.after(0, DriverCommand::performing(3, step({{"action", "fly"}})));
    driver.after(0, DriverCommand::performing(4, step({{"action", "type"}})));
    driver.after(0, DriverCommand::performing(5, step({{"action", "key"}, {"key", "x"}})));
    driver.after(0, DriverCommand::performing(6, step({{"action", "click"}, {"target", "Save"}})));
    driver.after(0, DriverCommand::ending(7));
    auto run = agent();
    const auto take = drive(run);

    EXPECT_FALSE(take.idledOut);
    EXPECT_FALSE(take.stopped);
    EXPECT_EQ(take.steps, (std::vector<std::string>{"open", "click Nowhere", "fly", "type", "key", "click Save"}));
    EXPECT_TRUE(desktop.fake.processes.launches.empty()) << "the driver's open launched something";
    std::vector<std::tuple<std::int64_t, Outcome, std::string>> told;
    for (const auto& answer : driver.answers) {
        told.emplace_back(answer.id, answer.outcome, answer.error.value_or(""));
        EXPECT_EQ(answer.look.has_value(), answer.outcome != Outcome::ended) << answer.id;
    }
    EXPECT_EQ(told, (std::vector<std::tuple<std::int64_t, Outcome, std::string>>{
                        {0, Outcome::started, ""},
                        {1, Outcome::failed, AgentError::notInADrivenTake("open").what()},
                        {2, Outcome::failed, AgentError::unresolved("Nowhere").what()},
                        {3, Outcome::failed, AgentError::unknownAction("fly").what()},
                        {4, Outcome::failed, "missing required field: text"},
                        {5, Outcome::unchanged, ""},
                        {6, Outcome::done, ""},
                        {7, Outcome::ended, ""},
                    }));
    EXPECT_EQ(driver.answers[6].look->controls, (std::vector<DriverLook::Control>{{"button", "Save"}}))
        << "a static text is not a control";
}

TEST_F(DrivenTakeTest, anAbortOrABrokenDriverEndsTheTakeAndAStopKeepsIt) {
    driver.after(0, DriverCommand::aborting(1));
    auto run = agent();
    EXPECT_EQ(failureOf(run), AgentError::abortedByDriver().what());
    EXPECT_EQ(driver.told, (std::vector<std::string>{"opened 3", "closed"}));

    driver.failing(std::make_exception_ptr(FileDriver::Failure::unreadable("it names no step, look, end or abort")));
    EXPECT_EQ(failureOf(run), "the driver's command could not be read: it names no step, look, end or abort");
    EXPECT_EQ(driver.told.back(), "closed");
    EXPECT_FALSE(logged("stopped while driven; keeping what has been recorded"));

    // The panel's Stop during the wait, and the person's stop between steps.
    driver.failing(std::make_exception_ptr(Cancelled()));
    auto take = drive(run);
    EXPECT_TRUE(take.stopped);
    EXPECT_TRUE(logged("stopped while driven; keeping what has been recorded"));

    Agent::Callbacks callbacks;
    callbacks.stopped = [&] { return driver.answers.back().id == 9; };
    auto stoppable = agent(callbacks);
    driver.after(0, DriverCommand::performing(9, step({{"action", "wait"}})));
    driver.after(0, DriverCommand::ending(10));
    take = drive(stoppable);
    EXPECT_TRUE(take.stopped);
    EXPECT_EQ(take.steps, std::vector<std::string>{"wait"});
    EXPECT_EQ(driver.answers.back().id, 9) << "the command after the stop was taken";
}

TEST_F(DrivenTakeTest, aRunWithADriverRecordsUploadsAndPlacesTheTakeWithoutItsPause) {
    const auto config = desktop.fake.paths.configDir() / "config.json";
    fs::create_directories(config.parent_path());
    fs::create_directories(desktop.fake.paths.tempDir());
    std::ofstream(config) << R"({"token":"tok-1","apiBase":"https://api.test"})";
    desktop.fake.processes.env["VANTO_CONFIG"] = config.string();
    desktop.fake.capture.addWindow(ScriptedDesktop::windowNumber, {100, 100, 800, 600}, "Shop", ScriptedDesktop::pid);
    auto& http = desktop.fake.http;
    http.answer(200, R"({"id":"v1"})"); // the video the take goes into
    http.answer(200, R"({"session_id":"up_1"})");
    http.answer(200, R"({"etag":"e1"})");
    http.answer(200, R"({"id":"rec1"})");
    http.answer(200, R"({})"); // the events
    http.answer(200, R"({"at_ms":3000})");
    http.answer(200, R"({"at_ms":4200})");
    driver.folder = desktop.fake.paths.tempDir();
    driver.after(0.1, DriverCommand::performing(1, step({{"action", "wait"}, {"label", "a breath"}})));

    RunParams params;
    params.prompt = "show saving";
    params.output = desktop.fake.paths.tempDir() / "take.mov";
    params.into = "v1";
    params.atSeconds = 3;
    params.clientKey = "k";
    params.driver = std::shared_ptr<TakeDriver>(&driver, [](TakeDriver*) {}); // the test keeps it
    params.scene = 3;
    auto run = agent();
    const auto report = desktop.driven([&] { return run.run(params); });

    EXPECT_EQ(report.steps, std::vector<std::string>{"a breath"});
    EXPECT_EQ(report.warning, "the agent sent nothing for 120 seconds, so the take ended there");
    ASSERT_TRUE(report.idleMs);
    ASSERT_EQ(report.idleMs->size(), 1u);
    const auto [start, end] = report.idleMs->front();
    EXPECT_GE(end - start, 120000);
    EXPECT_LE(end, std::llround(report.duration * 1000));
    EXPECT_EQ(report.insertedInto, "v1");
    EXPECT_TRUE(logged("put the driven take in as 2 pieces, without its pauses"));
    std::vector<std::string> keys;
    for (const auto& sent : http.sent())
        if (sent.request.url.ends_with("/clips/insert"))
            keys.push_back(nlohmann::json::parse(sent.request.body)["client_key"]);
    EXPECT_EQ(keys, (std::vector<std::string>{"k:0", "k:1"}));
    // The agent saw the recorded window.
    ASSERT_TRUE(driver.answers.front().look);
    EXPECT_EQ(driver.answers.front().look->screenshot, "look-0.png");
    EXPECT_TRUE(fs::exists(driver.folder / "look-0.png"));
}

} // namespace
} // namespace vanto
