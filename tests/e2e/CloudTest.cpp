// Recordings an assistant asks for, end to end: the real window polls the real
// devservice, asks the person through a dialog read and answered over AT-SPI, and
// records the takes in the stage browser, a real Chromium. There is no internet here
// and a run refuses private addresses, so the page is served under a public-looking
// name: the test starts the stage browser itself, with the stage profile and the
// stage's switches, and maps shop.example to its own page server; the window adopts
// that browser as the running stage browser.
//
// One desktop, window, stage browser and service for the whole suite; each case is one
// request.

#include "DevService.h"
#include "Harness.h"
#include "WindowTree.h"
#include "platform/Geometry.h"
#include "stage/StageBrowser.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace vanto::e2e {
namespace {

namespace fs = std::filesystem;
using test::DevService;

// The shop's page: its size and its button's presses in the title, so that the window
// title tells what the page saw.
constexpr const char* shopPage = R"(<!doctype html>
<html><head><title>shop</title></head>
<body style="margin:0;font:24px sans-serif">
<h1>Shop</h1>
<button id="begin" style="font-size:24px">Begin</button>
<script>
let presses = 0;
function show() { document.title = "shop " + innerWidth + "x" + innerHeight + " begin=" + presses; }
document.getElementById("begin").addEventListener("click", () => { presses++; show(); });
addEventListener("resize", show);
show();
</script>
</body></html>)";

// Everything the suite shares: a home, the devservice with a linked account, a page
// server, the stage browser and the window.
struct Suite {
    TempDir folder{"vanto-e2e-cloud"};
    std::optional<DevService> service;
    std::string token;
    std::optional<Child> pages;
    int port = 0;
    std::optional<Child> browser;
    std::optional<VantoSession> hands;
    std::optional<Child> window;
    std::uint64_t windowID = 0;
    std::optional<Tree> tree;

    fs::path home() const { return folder.path() / "home"; }
    fs::path data() const { return folder.path() / "data"; }
    fs::path configFolder() const { return home() / ".config" / "vanto"; }
    fs::path profile() const { return data() / "vanto" / "Stage" / "Chrome"; }
};
Suite* suite = nullptr;

class Cloud : public testing::Test {
protected:
    static void SetUpTestSuite() {
        suite = new Suite;
        ::setenv("HOME", suite->home().c_str(), 1);
        ::setenv("XDG_DATA_HOME", suite->data().c_str(), 1);
        for (const char* name : {"VANTO_CONFIG", "VANTO_API_BASE", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            ::unsetenv(name);
        fs::create_directories(suite->configFolder());
        ::chmod(suite->configFolder().c_str(), 0700);
        suite->service.emplace();
        suite->token = suite->service->addAccount("ada@example.test", "Ada Lovelace");
        std::ofstream(suite->configFolder() / "config.json")
            << Json{{"token", suite->token}, {"apiBase", suite->service->base()}}.dump();

        // The page server says which port it took on its first line.
        const auto site = suite->folder.path() / "site";
        fs::create_directories(site);
        std::ofstream(site / "index.html") << shopPage;
        suite->pages.emplace(std::vector<std::string>{"/usr/bin/python3", "-u", "-m", "http.server", "0", "--bind",
                                                      "127.0.0.1", "--directory", site.string()},
                             ChildOptions{.pipeStdout = true, .silenceStderr = true});
        const auto line = suite->pages->readLine(10s).value_or("");
        const auto at = line.find(" port ");
        if (at == std::string::npos) return; // checked by every case
        suite->port = std::atoi(line.c_str() + at + 6);

        // The stage browser, as the window would start it, with the shop's name mapped here.
        fs::create_directories(suite->profile());
        auto argv = StageBrowser::arguments(Rect{0, 0, 1280, 811}, suite->profile(), ::geteuid() == 0);
        argv.insert(argv.begin(), std::string(StageBrowser::program));
        argv.insert(argv.end() - 1, "--host-resolver-rules=MAP shop.example 127.0.0.1:" + std::to_string(suite->port));
        suite->browser.emplace(argv, ChildOptions{.silenceStderr = true, .ownProcessGroup = true});

        suite->hands.emplace();
        suite->window.emplace(std::vector<std::string>{vantoBinary(), "--window"});
        suite->windowID = waitForWindow(*suite->hands, "Vanto");
        suite->tree.emplace(suite->window->pid());
    }

    static void TearDownTestSuite() {
        delete suite;
        suite = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(suite->port, 0) << "the page server did not start";
        ASSERT_TRUE(waitForWindowOf(*suite->hands, suite->browser->pid(), "", 45s)) << "no stage browser window";
        ASSERT_NE(suite->windowID, 0u) << "the window did not come up";
        ASSERT_TRUE(suite->tree->waitFor("Record")) << "the window is not on the accessibility bus";
    }

    DevService& service() { return *suite->service; }
    Tree& tree() { return *suite->tree; }

    // An assistant's request; its run's ID.
    std::string request(const Json& sheet) {
        auto made =
            service().call("POST", "/__cloud/requests", Json{{"requested_by", "Claude"}, {"sheet", sheet}}.dump(),
                           {{"Content-Type", "application/json"}});
        EXPECT_EQ(made.status, 201) << made.body;
        return Json::parse(made.body, nullptr, false).value("id", "");
    }

    void plan(const std::string& pattern, const Json& steps) {
        auto stored =
            service().call("POST", "/__plans", Json{{"pattern", pattern}, {"plan", {{"steps", steps}}}}.dump(),
                           {{"Content-Type", "application/json"}});
        EXPECT_EQ(stored.status, 201) << stored.body;
    }

    Json run(const std::string& id) {
        auto answer = service().call("GET", "/__cloud/runs/" + id);
        return Json::parse(answer.body, nullptr, false);
    }

    // The run once the predicate holds of it (or when the time is up).
    Json runWhen(const std::string& id, const std::function<bool(const Json&)>& holds, Duration timeout) {
        Json now;
        e2e::waitFor(
            [&] {
                now = run(id);
                return now.is_object() && holds(now);
            },
            timeout, 500ms);
        return now;
    }

    Json finished(const std::string& id, Duration timeout = 240s) {
        return runWhen(
            id,
            [](const Json& now) {
                const auto state = now.value("state", "");
                return state == "done" || state == "failed" || state == "cancelled" || state == "refused";
            },
            timeout);
    }

    void press(const std::string& name, const std::string& after) {
        auto node = tree().waitFor(name, 20s, after);
        ASSERT_TRUE(node) << "no \"" << name << "\" after \"" << after << "\":\n" << tree().dump();
        auto answer = suite->hands->ask(Json{{"cmd", "click"}, {"to", centre(*node)}});
        ASSERT_EQ(answer.value("ok", false), true) << answer.dump();
    }

    // The person allows every later request from now on, if still asked.
    void alwaysAllow(const std::string& id) {
        const auto asked = runWhen(
            id,
            [](const Json& now) { return now.value("state", "") != "waiting" && now.value("state", "") != "claimed"; },
            30s);
        if (asked.value("state", "") == "asking") press("Always allow", "Record a demo for Claude?");
    }

    static Json lastReport(const Json& run) {
        const auto& reports = run["reports"];
        return reports.empty() ? Json::object() : reports.back();
    }

    std::string shop() const { return "http://shop.example/"; }
};

// First, while the person is still asked: Escape declines and nothing is recorded.
TEST_F(Cloud, EscapeDeclinesTheQuestionAndNothingIsRecorded) {
    const auto id = request({{"title", "Declined tour"},
                             {"stage", {{"width", 1280}, {"height", 720}}},
                             {"scenes", {{{"kind", "take"}, {"prompt", "never asked"}, {"startURL", shop()}}}}});
    ASSERT_TRUE(tree().waitFor("Record a demo for Claude?", 30s)) << tree().dump();
    const auto dialog = waitForWindow(*suite->hands, "Record a demo for Claude?");
    ASSERT_NE(dialog, 0u);
    activateWindow(dialog);
    suite->hands->ask(Json{{"cmd", "key"}, {"keys", {"escape"}}});
    const auto ended = finished(id, 30s);
    EXPECT_EQ(ended.value("state", ""), "refused") << ended.dump(2);
    EXPECT_EQ(lastReport(ended).value("code", ""), "consent_declined");
    EXPECT_TRUE(tree().gone("Record a demo for Claude?"));
    EXPECT_EQ(titleOf(*suite->hands, suite->browser->pid()).value_or("").find("shop"), std::string::npos)
        << "the stage browser was never given the page";
}

TEST_F(Cloud, TwoTakesAreAllowedRecordedInTheStageBrowserAndReportedDone) {
    plan("tour one", Json{{{"action", "click"}, {"target", "Begin"}, {"role", "button"}}});
    plan("tour two", Json{{{"action", "click"}, {"target", "Begin"}, {"role", "button"}}});
    const auto id = request({{"title", "Shop tour"},
                             {"stage", {{"width", 1280}, {"height", 720}}},
                             {"scenes",
                              {{{"kind", "take"}, {"name", "First"}, {"prompt", "tour one"}, {"startURL", shop()}},
                               {{"kind", "take"}, {"name", "Second"}, {"prompt", "tour two"}, {"startURL", shop()}}}}});

    // Asked: the question names the requester, the takes and the page's host.
    ASSERT_TRUE(tree().waitFor("Record a demo for Claude?", 30s)) << tree().dump();
    EXPECT_TRUE(tree().waitFor(
        "An assistant that calls itself Claude wants to record 2 takes of shop.example and put them in a video in "
        "your account. It records in Vanto's cloud stage browser, which has none of your tabs or sign-ins, and only "
        "public web pages. Your mouse and keyboard are used while it records."));
    const auto dialog = waitForWindow(*suite->hands, "Record a demo for Claude?");
    ASSERT_NE(dialog, 0u);
    screenshot(dialog, "cloud-consent");
    EXPECT_EQ(run(id).value("state", ""), "asking");
    // Return answers nothing; the question stays until a button is pressed.
    activateWindow(dialog);
    suite->hands->ask(Json{{"cmd", "key"}, {"keys", {"return"}}});
    std::this_thread::sleep_for(1500ms);
    EXPECT_TRUE(tree().waitFor("Record a demo for Claude?", 1s)) << "Return answered the question";
    EXPECT_EQ(run(id).value("state", ""), "asking");
    press("Allow", "Record a demo for Claude?");

    const auto done = finished(id);
    ASSERT_EQ(done.value("state", ""), "done") << done.dump(2);
    const auto report = lastReport(done);
    ASSERT_EQ(report.value("/report/takes"_json_pointer, Json::array()).size(), 2u) << report.dump(2);
    for (const auto& take : report["report"]["takes"]) EXPECT_EQ(take.value("state", ""), "recorded") << take.dump();
    const auto video = report.value("video_id", "");
    ASSERT_FALSE(video.empty()) << report.dump(2);
    EXPECT_EQ(report.value("/report/takes/0/recording_id"_json_pointer, ""), video) << "the first take made the video";

    // Both takes are in that one video, the second where the first's movie ends: no
    // frames of the first play after the second.
    const auto timeline =
        service().call("GET", "/api/video/" + video + "/timeline", "", {{"Authorization", "Bearer " + suite->token}});
    ASSERT_EQ(timeline.status, 200) << timeline.body;
    const auto clips = Json::parse(timeline.body)["clips"];
    ASSERT_EQ(clips.size(), 2u) << timeline.body;
    EXPECT_FALSE(clips[0].contains("source_video_id")) << "the first take's own footage first: " << timeline.body;
    EXPECT_EQ(clips[1].value("source_video_id", ""), report.value("/report/takes/1/recording_id"_json_pointer, ""))
        << timeline.body;
    EXPECT_EQ(clips[1].value("at_ms", -1), report.value("/report/takes/1/at_ms"_json_pointer, -2)) << timeline.body;
    EXPECT_NEAR(clips[1].value("at_ms", 0.0), report.value("/report/takes/0/duration_ms"_json_pointer, 0.0), 250);
    EXPECT_TRUE(tree().waitFor("The assistant's demo is recorded: every take is in the video.", 10s))
        << tree().dump();

    // In the stage browser, its page the size asked for, the button pressed on the takes.
    const auto title = titleOf(*suite->hands, suite->browser->pid()).value_or("");
    int width = 0, height = 0, presses = 0;
    ASSERT_EQ(std::sscanf(title.c_str(), "shop %dx%d begin=%d", &width, &height, &presses), 3) << title;
    EXPECT_NEAR(width, 1280, 8) << title;
    EXPECT_NEAR(height, 720, 4) << title;
    EXPECT_GE(presses, 1) << title;
}

TEST_F(Cloud, AStopDuringTheSecondTakeEndsTheRunCancelled) {
    plan("quick look", Json{{{"action", "click"}, {"target", "Begin"}, {"role", "button"}}});
    plan("slow look", Json{{{"action", "click"}, {"target", "Begin"}, {"role", "button"}},
                           {{"action", "wait"}, {"ms", 30000}, {"description", "lingers on the shop"}}});
    const auto id = request({{"title", "Stopped tour"},
                             {"stage", {{"width", 1280}, {"height", 720}}},
                             {"scenes",
                              {{{"kind", "take"}, {"prompt", "quick look"}, {"startURL", shop()}},
                               {{"kind", "take"}, {"prompt", "slow look"}, {"startURL", shop()}}}}});
    alwaysAllow(id);
    const auto second = runWhen(
        id,
        [](const Json& now) {
            const auto state = now.value("state", "");
            return lastReport(now).value("/report/takes/1/state"_json_pointer, "") == "recording" || state == "done" ||
                   state == "failed" || state == "cancelled";
        },
        180s);
    ASSERT_EQ(lastReport(second).value("/report/takes/1/state"_json_pointer, ""), "recording") << second.dump(2);
    auto stopped = service().call("POST", "/__cloud/runs/" + id + "/stop", R"({"stop":"cancel"})",
                                  {{"Content-Type", "application/json"}});
    ASSERT_EQ(stopped.status, 200) << stopped.body;

    const auto ended = finished(id, 90s);
    EXPECT_EQ(ended.value("state", ""), "cancelled") << ended.dump(2);
    const auto report = lastReport(ended);
    EXPECT_EQ(report.value("code", ""), "cancelled") << report.dump(2);
    EXPECT_EQ(report.value("/report/takes/0/state"_json_pointer, ""), "recorded");
    EXPECT_EQ(report.value("/report/takes/1/state"_json_pointer, ""), "failed");
}

TEST_F(Cloud, ADrivenSceneIsDrivenThroughTheServicesCommandQueue) {
    const auto id = request(
        {{"title", "Driven tour"},
         {"stage", {{"width", 1280}, {"height", 720}}},
         {"scenes", {{{"kind", "take"}, {"prompt", "the assistant drives"}, {"startURL", shop()}, {"driven", true}}}}});
    auto queue = [&](const Json& command) {
        auto queued = service().call("POST", "/__cloud/runs/" + id + "/commands", command.dump(),
                                     {{"Content-Type", "application/json"}});
        EXPECT_EQ(queued.status, 201) << queued.body;
    };
    queue({{"step", {{"action", "click"}, {"target", "Begin"}}}});
    queue({{"look", true}});
    queue({{"end", true}});
    alwaysAllow(id);

    const auto done = finished(id, 180s);
    ASSERT_EQ(done.value("state", ""), "done") << done.dump(2);
    const auto& answers = done["answers"];
    ASSERT_EQ(answers.size(), 3u) << done.dump(2);
    EXPECT_EQ(answers[0].value("/result/outcome"_json_pointer, ""), "done") << answers[0].dump();
    EXPECT_EQ(answers[1].value("/result/outcome"_json_pointer, ""), "looked") << answers[1].dump();
    EXPECT_GT(answers[1].value("screenshot_bytes", 0), 1000) << "the look came with a picture of the page";
    EXPECT_EQ(answers[2].value("/result/outcome"_json_pointer, ""), "ended") << answers[2].dump();
    EXPECT_EQ(lastReport(done).value("/report/takes/0/state"_json_pointer, ""), "recorded");
}

TEST_F(Cloud, APageOnAPrivateAddressIsRefusedAndTheRunFails) {
    const auto privatePage = "http://127.0.0.1:" + std::to_string(suite->port) + "/";
    plan("local look", Json{{{"action", "click"}, {"target", "Begin"}, {"role", "button"}}});
    const auto id = request({{"title", "Local tour"},
                             {"stage", {{"width", 1280}, {"height", 720}}},
                             {"scenes", {{{"kind", "take"}, {"prompt", "local look"}, {"startURL", privatePage}}}}});
    alwaysAllow(id);
    const auto ended = finished(id, 120s);
    ASSERT_EQ(ended.value("state", ""), "failed") << ended.dump(2);
    const auto report = lastReport(ended);
    EXPECT_EQ(report.value("code", ""), "take_failed");
    EXPECT_NE(report.value("detail", "").find("only opens public web pages, not " + privatePage), std::string::npos)
        << report.dump(2);
    EXPECT_EQ(report.value("/report/takes/0/state"_json_pointer, ""), "failed");
}

// Last, as it ends the suite's window: quitting while a run records leaves the run
// held, and the next launch tells the service the run ended with the quit.
TEST_F(Cloud, QuittingWhileARunRecordsLeavesItHeldForTheNextLaunchToSettle) {
    plan("long look", Json{{{"action", "click"}, {"target", "Begin"}, {"role", "button"}},
                           {{"action", "wait"}, {"ms", 30000}, {"description", "lingers on the shop"}}});
    const auto id = request({{"title", "Long tour"},
                             {"stage", {{"width", 1280}, {"height", 720}}},
                             {"scenes", {{{"kind", "take"}, {"prompt", "long look"}, {"startURL", shop()}}}}});
    alwaysAllow(id);
    const auto recording = runWhen(
        id, [](const Json& now) { return lastReport(now).value("state", "") == "recording"; }, 60s);
    ASSERT_EQ(lastReport(recording).value("state", ""), "recording") << recording.dump(2);
    const auto held = suite->configFolder() / "cloud-run.json";
    EXPECT_TRUE(fs::exists(held));

    ::kill(suite->window->pid(), SIGTERM);
    EXPECT_EQ(suite->window->wait(60s), exitedWith(0)) << "the window did not quit cleanly";
    EXPECT_TRUE(fs::exists(held)) << "the run is no longer held";
    EXPECT_EQ(run(id).value("state", ""), "recording") << "nothing final was said on the way out";

    suite->window.emplace(std::vector<std::string>{vantoBinary(), "--window"});
    const auto settled = runWhen(
        id, [](const Json& now) { return now.value("state", "") == "failed"; }, 60s);
    const auto report = lastReport(settled);
    EXPECT_EQ(report.value("code", ""), "app_restarted") << settled.dump(2);
    EXPECT_EQ(report.value("detail", ""), "Vanto quit during the run");
    EXPECT_TRUE(e2e::waitFor([&] { return !fs::exists(held); }, 10s));
}

} // namespace
} // namespace vanto::e2e
