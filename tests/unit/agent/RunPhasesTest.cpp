#include "agent/Agent.h"
#include "engine/Engine.h"
#include "plan/AgentError.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <sstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;
using Lines = std::deque<std::optional<std::string>>;

class RunPhasesTest : public ::testing::Test {
protected:
    // An agent whose terminal answers the given lines, or with no terminal at all.
    Agent agent(std::optional<Lines> terminal = std::nullopt, Agent::Callbacks callbacks = {}) {
        std::function<std::optional<std::string>(std::stop_token)> readLine;
        if (terminal) {
            lines = *terminal;
            readLine = [this](std::stop_token) -> std::optional<std::string> {
                ++reads;
                if (lines.empty()) return std::nullopt;
                auto line = lines.front();
                lines.pop_front();
                return line;
            };
        }
        return engine.makeAgent(ProgressLog(err), std::move(callbacks), std::move(readLine));
    }

    std::string errorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "no error";
    }

    fake::FakePlatform fake;
    Platform platform = fake.platform();
    Engine engine{platform};
    std::ostringstream err;
    Lines lines;
    int reads = 0;
};

Step step(std::string action, std::optional<std::string> target, std::optional<std::string> key = {}) {
    Step s;
    s.action = std::move(action);
    s.target = std::move(target);
    s.key = std::move(key);
    return s;
}

RunParams withApp(std::optional<std::string> app, std::optional<std::int32_t> pid = {}) {
    RunParams p;
    p.app = std::move(app);
    p.pid = pid;
    return p;
}

TEST_F(RunPhasesTest, theReportHasItsKeysInOrderAndLeavesOutWhatItLacks) {
    AgentReport report;
    report.prompt = "show saving";
    report.steps = {"click Save"};
    report.path = "/tmp/take.mov";
    report.duration = 4.5;
    report.events = 3;
    EXPECT_EQ(report.json(),
              R"({"prompt":"show saving","steps":["click Save"],"path":"/tmp/take.mov","duration":4.5,"events":3})");
    report.warn("first.");
    report.warn("second.");
    report.insertedAtMs = 3000;
    report.insertedInto = "v1";
    report.idleMs = {{{100, 2000}}};
    report.uploadURL = "https://app.test/videos/v1";
    report.uploadID = "up1";
    EXPECT_EQ(report.json(), R"({"prompt":"show saving","steps":["click Save"],"path":"/tmp/take.mov",)"
                             R"("duration":4.5,"events":3,"warning":"first. second.","uploadID":"up1",)"
                             R"("uploadURL":"https://app.test/videos/v1","insertedInto":"v1","insertedAtMs":3000,)"
                             R"("idleMs":[[100,2000]]})");
    report.prompt = "\xff";
    EXPECT_EQ(report.json(), "{}");
}

TEST_F(RunPhasesTest, onlyANoAtTheTerminalDeclinesAndWithoutOneNobodyIsAsked) {
    const std::vector<Step> steps{step("click", "Save"), step("key", std::nullopt, "Return")};
    for (const char* no : {"n", "No", "  NO \n"}) {
        err.str("");
        EXPECT_FALSE(agent(Lines{no}).confirm(steps, "run this plan?", false)) << no;
        EXPECT_EQ(err.str(), "vanto:   1. click Save\nvanto:   2. key\nvanto: run this plan? [Y/n]\n");
    }
    for (std::optional<std::string> yes :
         {std::optional<std::string>(""), std::optional<std::string>("nope"), std::optional<std::string>()})
        EXPECT_TRUE(agent(Lines{yes}).confirm(steps, "run this plan?", false)) << yes.value_or("end of input");

    err.str("");
    reads = 0;
    EXPECT_TRUE(agent(Lines{"n"}).confirm(steps, "run this plan?", true)) << "assumeYes asked anyway";
    auto noTerminal = agent();
    EXPECT_TRUE(noTerminal.confirm(steps, "run this plan?", false));
    noTerminal.awaitGoAhead();
    EXPECT_EQ(err.str(), "");
    EXPECT_EQ(reads, 0);

    std::vector<Step> asked;
    Agent::Callbacks callbacks;
    callbacks.approve = [&](const std::vector<Step>& s, const std::string& q) {
        asked = s;
        return q != "run this plan?";
    };
    auto withCallback = agent(Lines{"y"}, callbacks);
    EXPECT_FALSE(withCallback.confirm(steps, "run this plan?", false));
    EXPECT_EQ(asked, steps);
    EXPECT_EQ(reads, 0) << "the terminal was asked although a callback answers";
}

TEST_F(RunPhasesTest, theGoAheadComesFromTheCallbackOrTheTerminal) {
    agent(Lines{""}).awaitGoAhead();
    EXPECT_EQ(err.str(), "vanto: ready when you are - press return to start recording\nvanto: rolling\n");
    EXPECT_EQ(reads, 1);

    err.str("");
    Agent::Callbacks ready;
    ready.readyToRecord = [] { return true; };
    agent(Lines{}, ready).awaitGoAhead();
    EXPECT_EQ(err.str(), "vanto: rolling\n");
    Agent::Callbacks notReady;
    notReady.readyToRecord = [] { return false; };
    EXPECT_EQ(errorOf([&] { agent(std::nullopt, notReady).awaitGoAhead(); }), AgentError::stopped().what());
}

TEST_F(RunPhasesTest, whatCountsAsCallingTheRunOff) {
    auto as = [](auto error) { return std::make_exception_ptr(error); };
    EXPECT_TRUE(Agent::calledOff(as(AgentError::stopped())));
    EXPECT_TRUE(Agent::calledOff(as(Cancelled())));
    EXPECT_FALSE(Agent::calledOff(as(AgentError::declined())));
    EXPECT_FALSE(Agent::calledOff(as(Error("network down"))));
    std::stop_source stop;
    stop.request_stop();
    EXPECT_TRUE(Agent::calledOff(as(Error("network down")), stop.get_token())) << "the run's task was cancelled";
}

TEST_F(RunPhasesTest, theTargetWindowLeavesThisProgramOutAndPrefersABrowser) {
    fake.processes.table[4242] = fake::FakeProcess{300, "/usr/bin/vanto"};
    fake.processes.table[300] = fake::FakeProcess{1, "/usr/bin/xterm"};
    fake.windows.addWindow(1, "Gedit", 600, "notes", {0, 0, 500, 400});
    fake.windows.addWindow(2, "Google-chrome", 700, "Shop", {0, 0, 900, 700});
    fake.windows.addWindow(3, "XTerm", 300, "shell", {0, 0, 600, 400});
    fake.windows.addWindow(4, "Vanto", 4242, "Vanto", {0, 0, 600, 400});
    auto run = agent();

    EXPECT_EQ(run.targetWindow({}).windowID, 2u) << "the browser behind the terminal";
    fake.windows.windows.erase(fake.windows.windows.begin() + 2); // the browser closes
    EXPECT_EQ(run.targetWindow({}).windowID, 1u);

    EXPECT_EQ(run.targetWindow(withApp("gedit")).windowID, 1u);
    EXPECT_EQ(run.targetWindow(withApp("XTerm")).windowID, 3u) << "a named app is found among our ancestors";
    EXPECT_EQ(errorOf([&] { run.targetWindow(withApp("Firefox")); }), AgentError::noWindow("Firefox").what());
    EXPECT_EQ(errorOf([&] { run.targetWindow(withApp("vanto")); }), AgentError::cannotDriveItself().what());
    EXPECT_EQ(errorOf([&] { run.targetWindow(withApp(std::nullopt, 4242)); }), AgentError::cannotDriveItself().what());
    EXPECT_EQ(run.targetWindow(withApp(std::nullopt, 300)).windowID, 3u);

    fake.windows.windows.clear();
    fake.windows.addWindow(5, "Chromium", 800, "Docs", {0, 0, 900, 700});
    fake.windows.addWindow(6, "Firefox-esr", 801, "Docs", {0, 0, 900, 700});
    fake.windows.addWindow(7, "Gimp", 802, "Image", {0, 0, 900, 700});
    EXPECT_EQ(run.targetWindow({}).windowID, 6u);
    EXPECT_EQ(errorOf([&] { run.targetWindow(withApp("Google Chrome")); }),
              AgentError::noWindow("Google Chrome").what());
    fake.windows.addWindow(8, "Google-chrome", 803, "Mail", {0, 0, 900, 700});
    EXPECT_EQ(run.targetWindow(withApp("Google Chrome")).windowID, 8u) << "as X11 names its class";
}

TEST_F(RunPhasesTest, theTakeFramesTheWindowOrOnlyItsPage) {
    auto run = agent();
    // No window of the process ever shows: the run waits its ten seconds, then gives up.
    fake.clock.setAutoAdvance(true);
    EXPECT_EQ(errorOf([&] { run.windowToFrame(700); }), AgentError::nothingToFrame().what());
    EXPECT_GE(fake.clock.slept(), 10);

    const WindowInfo window{9, "Chromium", 700, "Shop", 100, 100, 900, 700};
    RunParams pageOnly;
    pageOnly.pageOnly = true;
    auto ax = fake.accessibility.addApplication(700, "Chromium");
    auto axWindow = fake.accessibility.addWindow(ax, "Shop", Rect{100, 100, 900, 700});
    EXPECT_EQ(run.pageRect(window, {}), std::nullopt);
    EXPECT_EQ(run.pageRect(window, pageOnly), std::nullopt);
    // Past the window's bottom edge the page is cut to the window.
    auto web = axWindow->add("AXWebArea", "Shop", Rect{100.4, 180.6, 899.7, 700});
    EXPECT_EQ(run.pageRect(window, pageOnly), (Rect{0, 81, 899, 619}));
    web->frame = Rect{100, 701, 800, 100}; // 99 points of it inside the window
    EXPECT_EQ(run.pageRect(window, pageOnly), std::nullopt);
    EXPECT_EQ(err.str(), "vanto: could not find the page in the window; recording all of it\n"
                         "vanto: recording only the page: 899x619 at 0,81\n"
                         "vanto: could not find the page in the window; recording all of it\n");

    err.str("");
    fake.windows.addWindow(9, "Chromium", 700, "Shop", {100, 100, 900, 700});
    Session session;
    session.visited = {700, 701};
    web->frame = Rect{100, 180, 900, 620};
    auto target = run.recordingTarget(pageOnly, session);
    EXPECT_EQ(target.kind, Target::Kind::window);
    EXPECT_EQ(target.windowID, 9u);
    EXPECT_EQ(target.rect, (Rect{0, 80, 900, 620}));
    EXPECT_EQ(err.str(),
              "vanto: the flow spans 2 applications; framing Chromium - pass --screen to record all of them\n"
              "vanto: recording only the page: 900x620 at 0,80\n");
    RunParams screen;
    screen.fullScreen = true;
    target = run.recordingTarget(screen, session);
    EXPECT_EQ(target.kind, Target::Kind::display);
    EXPECT_EQ(target.displayID, 1u);
}

TEST_F(RunPhasesTest, aDrivenTakeGoesIntoAVideoAsItsKeptPieces) {
    fs::create_directories(fake.paths.tempDir());
    const auto file = fake.paths.tempDir() / "take.mov";
    std::ofstream(file) << "movie";
    fake.http.answer(200, R"({"session_id":"up_1"})");
    fake.http.answer(200, R"({"etag":"e1"})");
    fake.http.answer(200, R"({"id":"rec1"})");
    fake.http.answer(200, R"({"at_ms":3000})");
    fake.http.answer(200, R"({"at_ms":5300})");
    APIClient api(Config{"tok", "https://api.test"}, fake.http, fake.clock);
    AgentReport report;
    report.path = file.string();
    report.duration = 10;
    report.idleMs = {{{2000, 6000}}};
    RunParams params;
    params.prompt = "show saving";
    params.into = "v1";
    params.atSeconds = 3;
    params.clientKey = "k";
    auto run = agent();
    run.upload(report, StopResult{file.string(), 10, 0, std::nullopt}, {}, params, api);

    auto sent = fake.http.sent();
    ASSERT_EQ(sent.size(), 5u) << "a take without events posts none";
    auto first = nlohmann::json::parse(sent[3].request.body);
    auto second = nlohmann::json::parse(sent[4].request.body);
    EXPECT_EQ(sent[3].request.url, "https://api.test/api/video/v1/clips/insert");
    // The pause loses all but its margins; the second piece follows the first.
    EXPECT_EQ(
        first,
        (nlohmann::json{
            {"source_video_id", "rec1"}, {"in_ms", 0}, {"out_ms", 2300}, {"at_ms", 3000}, {"client_key", "k:0"}}));
    EXPECT_EQ(
        second,
        (nlohmann::json{
            {"source_video_id", "rec1"}, {"in_ms", 5700}, {"out_ms", 10000}, {"at_ms", 5300}, {"client_key", "k:1"}}));
    EXPECT_EQ(err.str(), "vanto: put the driven take in as 2 pieces, without its pauses\n");
    EXPECT_EQ(report.uploadID, "rec1");
    EXPECT_EQ(report.insertedInto, "v1");
    EXPECT_EQ(report.insertedAtMs, 3000);
    EXPECT_EQ(report.uploadURL, "https://app.test/videos/v1");
    EXPECT_EQ(report.warning, std::nullopt);
}

TEST_F(RunPhasesTest, theRehearsalStopsWhenCalledOffOrWhenAStepDoesNothing) {
    // The person stops once the first step's ten seconds have passed.
    Agent::Callbacks callbacks;
    callbacks.stopped = [&] { return fake.clock.slept() >= 10; };
    auto wait = step("wait", std::nullopt);
    wait.ms = 20000;
    Session session;
    // The stop is seen before the second step begins: it is never tried.
    EXPECT_EQ(errorOf([&] {
                  agent(std::nullopt, callbacks).rehearse({wait, step("frobnicate", "x")}, session);
              }),
              AgentError::stopped().what());
    EXPECT_EQ(fake.clock.slept(), 10) << "the first step ran, the second did not";

    auto tab = step("key", std::nullopt, "Tab");
    EXPECT_EQ(errorOf([&] { agent().rehearse({wait, tab}, session); }), AgentError::stuck("key").what());
}

TEST_F(RunPhasesTest, whatGoesWrongAfterTheTakeIsSafeJoinsTheWarning) {
    fake.http.answer(500, R"({"error":"clips are busy"})");
    APIClient api(Config{"tok", "https://api.test"}, fake.http, fake.clock);
    AgentReport report;
    report.uploadID = "rec1";
    report.idleMs = {{{1000, 3000}, {5000, 8000}}};
    agent().cutIdle(report, 10000, api);
    ASSERT_TRUE(report.warning);
    EXPECT_EQ(report.warning->rfind("the pauses were not cut out: ", 0), 0u) << *report.warning;
    EXPECT_NE(report.warning->find("clips are busy"), std::string::npos) << *report.warning;
    EXPECT_EQ(report.warning->find("stopped cutting"), std::string::npos) << "the service's words, not ours";
    EXPECT_EQ(err.str(), "");

    // A stop while the take goes up keeps the take and says so.
    std::stop_source stop;
    stop.request_stop();
    AgentReport stopped;
    agent().upload(stopped, StopResult{"/tmp/take.mov", 3, 0, std::nullopt}, {}, RunParams{}, api, stop.get_token());
    EXPECT_EQ(stopped.warning, "stopped before the upload finished");
    EXPECT_EQ(stopped.uploadID, std::nullopt);
}

} // namespace
} // namespace vanto
