// The desktop window of the real binary on the headless desktop, found and read through
// AT-SPI by the names its controls carry and driven with real input through a second
// vanto's control protocol: a complaint about the pane's fields, the settings panes,
// and a take typed into the pane and recorded against the devservice with its plan
// dialog, go-ahead and result answered. Screenshots of the window, the dialogs and each
// settings pane are written into the build folder's screenshots/ for a person to look at.

#include "DevService.h"
#include "Harness.h"
#include "WindowTree.h"
#include "platform/Clock.h"
#include "platform/JsonFileDefaults.h"
#include "stage/StageBrowser.h"
#include "targets/CorrectionStore.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <sys/stat.h>
#include <sys/xattr.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

namespace vanto::e2e {
namespace {

namespace fs = std::filesystem;
using test::DevService;

// A home of its own, and the window in it; a second vanto types and clicks.
class Window : public testing::Test {
protected:
    Window() {
        ::setenv("HOME", home().c_str(), 1);
        for (const char* name :
             {"VANTO_CONFIG", "VANTO_API_BASE", "XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"})
            ::unsetenv(name);
        fs::create_directories(configFolder());
        ::chmod(configFolder().c_str(), 0700);
    }

    fs::path home() const { return folder.path() / "home"; }
    fs::path configFolder() const { return home() / ".config" / "vanto"; }

    void open(const std::vector<std::string>& arguments = {"--window"}) {
        std::vector<std::string> argv{vantoBinary()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        window.emplace(argv);
        windowID = waitForWindow(hands, "Vanto");
        ASSERT_NE(windowID, 0u) << "the window did not come up";
        tree.emplace(window->pid());
        ASSERT_TRUE(tree->waitFor("Record")) << "the window's controls are not on the accessibility bus:\n"
                                             << tree->dump();
    }

    void press(const std::string& name, const std::string& after = "") {
        auto node = tree->waitFor(name, 20s, after);
        ASSERT_TRUE(node) << "no \"" << name << "\" in the window";
        auto answer = hands.ask(Json{{"cmd", "click"}, {"to", centre(*node)}});
        ASSERT_EQ(answer.value("ok", false), true) << answer.dump();
    }

    void typeInto(const std::string& name, const std::string& text) {
        press(name);
        auto answer = hands.ask(Json{{"cmd", "type"}, {"text", text}, {"charsPerSecond", 40}});
        ASSERT_EQ(answer.value("ok", false), true) << answer.dump();
    }

    void keys(const std::vector<std::string>& chord) {
        auto answer = hands.ask(Json{{"cmd", "key"}, {"keys", chord}});
        ASSERT_EQ(answer.value("ok", false), true) << answer.dump();
    }

    TempDir folder{"vanto-e2e-window"};
    VantoSession hands;
    std::optional<Child> window;
    std::uint64_t windowID = 0;
    std::optional<Tree> tree;
};

TEST_F(Window, ComplainsAboutATimeWithoutAVideoAndShowsItsSettingsPanes) {
    open();
    if (HasFatalFailure()) return;
    screenshot(windowID, "window-main");

    typeInto("Prompt", "show the cart");
    typeInto("Time", "1:30");
    press("Record");
    ASSERT_TRUE(tree->waitFor("There is no video to put this take in")) << "no complaint";
    EXPECT_TRUE(tree->waitFor("Add the video's ID or link, or clear the time to record a take of its own."));
    screenshot(waitForWindow(hands, "Vanto"), "window-complaint");
    press("OK", "There is no video to put this take in");
    EXPECT_TRUE(tree->gone("There is no video to put this take in"));

    // The settings: each pane by its tab.
    keys({"ctrl+,"});
    const auto settings = waitForWindow(hands, "Vanto Settings");
    ASSERT_NE(settings, 0u) << "the settings window did not come up";
    EXPECT_TRUE(tree->waitFor("Screen Recording status"));
    EXPECT_TRUE(tree->waitFor("Review Screen Recording")) << "the display can be captured, so it is granted";
    EXPECT_TRUE(tree->waitFor("Review Accessibility")) << "the headless desktop has accessibility on";
    screenshot(settings, "settings-permissions");
    press("Memory");
    EXPECT_TRUE(tree->waitFor("Nothing yet."));
    screenshot(settings, "settings-memory");
    press("Agents");
    EXPECT_TRUE(tree->waitFor("Let agents record"));
    screenshot(settings, "settings-agents");

    // The pane's button starts the stage browser: a Chromium of the stage profile, its
    // window placed for the default stage (the whole of this 1440 by 900 desktop).
    press("Open the stage browser");
    const auto profile = home() / ".local" / "share" / "vanto" / "Stage" / "Chrome";
    std::optional<std::int32_t> stage;
    EXPECT_TRUE(e2e::waitFor(
        [&] {
            const auto listing = runCommand({"ps", "-axww", "-o", "pid=,args="});
            stage = listing ? vanto::StageBrowser::pid(listing->output, profile) : std::nullopt;
            return stage.has_value();
        },
        30s, 300ms))
        << "no stage browser started";
    if (stage) {
        const auto placed = waitForWindowOf(hands, *stage, "", 30s);
        ASSERT_TRUE(placed) << "the stage browser showed no window";
        EXPECT_TRUE(e2e::waitFor(
            [&] {
                const auto now = windowOf(hands, *stage);
                return now && std::abs(now->value("width", 0) - 1440) <= 8 &&
                       std::abs(now->value("height", 0) - 900) <= 8;
            },
            10s, 200ms))
            << windowOf(hands, *stage).value_or(Json()).dump();
        ::kill(*stage, SIGTERM);
    }

    // Quit from the window's menu shortcut ends the program cleanly.
    activateWindow(windowID);
    press("Prompt");
    keys({"ctrl+q"});
    EXPECT_EQ(window->wait(20s), exitedWith(0));
}

// Answers remembered by earlier runs, and the memory pane forgetting one application's.
TEST_F(Window, TheMemoryPaneForgetsOneApplicationsAnswers) {
    {
        JsonFileDefaults defaults(configFolder() / JsonFileDefaults::fileName);
        SystemClock clock;
        CorrectionStore store(defaults, clock);
        auto button = [](std::string label) {
            return Correction{std::move(label), "AXButton", "", {}, {}, {}, {}, false};
        };
        store.remember("org.shop", "Save", button("Save"));
        store.remember("org.shop", "Cart", button("Cart"));
        store.remember("chromium", "Back", button("Back"));
    }
    open();
    if (HasFatalFailure()) return;
    keys({"ctrl+,"});
    const auto settings = waitForWindow(hands, "Vanto Settings");
    ASSERT_NE(settings, 0u) << "the settings window did not come up";
    press("Memory");
    ASSERT_TRUE(tree->waitFor("3 things, across 2 apps."));
    press("Forget\u2026");
    // Qt does not put a button's pop-up menu on the accessibility bus: its items
    // (chromium, org.shop, then Everything) are chosen from the keyboard.
    keys({"down", "down", "return"});
    EXPECT_TRUE(tree->waitFor("1 thing, across 1 app.")) << tree->dump();
    screenshot(settings, "settings-memory-forgot");
    JsonFileDefaults stored(configFolder() / JsonFileDefaults::fileName);
    EXPECT_EQ(stored.get("corrections").value_or(nlohmann::json()).size(), 1u) << "forgotten in the store itself";
}

// A take typed into the pane, planned by the devservice for a page in Chromium, and
// answered through its three dialogs.
TEST_F(Window, RecordsATakeTypedIntoThePaneAndAnswersItsDialogs) {
    DevService service;
    const auto token = service.addAccount("ada@example.test", "Ada Lovelace");
    std::ofstream(configFolder() / "config.json") << Json{{"token", token}, {"apiBase", service.base()}}.dump();
    const std::string prompt = "press begin on the page";
    const std::string page = "file://" + (fs::path(VANTO_SOURCE_DIR) / "tests/e2e/pages/promptrun.html").string();
    const Json steps = {{{"action", "navigate"}, {"url", page}},
                        {{"action", "click"}, {"target", "Begin"}, {"role", "button"}}};
    auto stored = service.call("POST", "/__plans", Json{{"prompt", prompt}, {"plan", {{"steps", steps}}}}.dump(),
                               {{"Content-Type", "application/json"}});
    ASSERT_EQ(stored.status, 201) << stored.body;

    auto chromium = startChromium("about:blank", 0, 0, 1440, 900);
    ASSERT_TRUE(waitForWindowOf(hands, chromium->pid(), "about:blank")) << "Chromium's window did not come up";
    open();
    if (HasFatalFailure()) return;
    EXPECT_TRUE(tree->waitFor("ada@example.test")) << "the account item names the linked account";
    activateWindow(windowID);
    typeInto("Prompt", prompt);
    press("Record");

    ASSERT_TRUE(tree->waitFor("Run this plan?", 60s)) << "no plan to approve";
    EXPECT_TRUE(tree->waitFor("1. navigate " + page +
                              "\n2. click Begin\n\nEvery step runs twice: once rehearsing, "
                              "once on the take."));
    screenshot(waitForWindow(hands, "Vanto"), "window-approve");
    press("Run", "Run this plan?");

    ASSERT_TRUE(tree->waitFor("Ready to record?", 120s)) << "no go-ahead question";
    screenshot(waitForWindow(hands, "Vanto"), "window-ready");
    press("Record", "Ready to record?");

    auto result = tree->waitFor("Recorded and uploaded", 180s);
    ASSERT_TRUE(result) << "no result dialog";
    screenshot(waitForWindow(hands, "Vanto"), "window-result");
    // The dialog names the uploaded take's address; the service holds that video.
    std::string address;
    for (const auto& node : tree->read())
        for (const auto* text : {&node.name, &node.description})
            if (text->starts_with(service.base() + "/videos/")) address = *text;
    ASSERT_FALSE(address.empty()) << "the result does not name the take's address";
    const auto video = service.call("GET", "/api/video/" + address.substr(address.rfind('/') + 1), "",
                                    {{"Authorization", "Bearer " + token}});
    EXPECT_EQ(video.status, 200) << video.body;
    press("Done", "Recorded and uploaded");
    EXPECT_TRUE(tree->gone("Recorded and uploaded"));
    EXPECT_EQ(titleOf(hands, chromium->pid()).value_or("").rfind("seen load=1 begin=1", 0), 0u)
        << "the page saw the take's click once after the reset";
}

// Demo sheets in the window: one with a download mark turned away, one that records
// itself take after take into one video against the devservice.
class SheetWindow : public Window {
protected:
    // Take, hold, take, asking to record itself; both takes press Begin on the page.
    fs::path writeSheet(const std::string& name) {
        const auto file = folder.path() / name;
        std::ofstream(file) << Json{{"title", "Newsletter tour"},
                                    {"unattended", true},
                                    {"scenes",
                                     {{{"name", "Begin"}, {"prompt", firstPrompt}},
                                      {{"kind", "hold"}, {"name", "Pause"}, {"seconds", 2}, {"freezeOn", "the form"}},
                                      {{"name", "Again"}, {"prompt", secondPrompt}}}}}
                                   .dump();
        return file;
    }

    static Json readJson(const fs::path& file) {
        std::ifstream in(file);
        return Json::parse(in, nullptr, false);
    }

    const std::string firstPrompt = "open the sign-up page and press begin";
    const std::string secondPrompt = "press begin once more";
};

TEST_F(SheetWindow, ASheetFromAnotherMachineIsRefusedAndShownInTheDemoPane) {
    const auto sheet = writeSheet("tour.json");
    // The mark a browser leaves on what it downloaded (what setfattr -n user.xdg.origin.url sets).
    const std::string origin = "https://x/";
    ASSERT_EQ(::setxattr(sheet.c_str(), "user.xdg.origin.url", origin.data(), origin.size(), 0), 0)
        << "the test's folder cannot carry extended attributes";
    open({"--demo", sheet.string()});
    if (HasFatalFailure()) return;
    ASSERT_TRUE(tree->waitFor("This demo asked to record on its own")) << tree->dump();
    EXPECT_TRUE(tree->waitFor("This sheet was downloaded or sent from another machine, so it is not recorded on its "
                              "own. Press Record for each take."));
    const auto report = readJson(folder.path() / "tour.report.json");
    EXPECT_EQ(report.value("state", ""), "refused") << report.dump();
    EXPECT_EQ(report.value("error", ""), "this sheet was downloaded or sent from another machine, so it is not "
                                         "recorded on its own. Press Record for each take.");
    press("OK", "This demo asked to record on its own");
    ASSERT_TRUE(tree->gone("This demo asked to record on its own"));
    // The alert was the first window of that title; now the main window is the only one.
    windowID = waitForWindow(hands, "Vanto");

    // Still open for the person to record take by take.
    EXPECT_TRUE(tree->waitFor("1. Begin: to record")) << tree->dump();
    EXPECT_TRUE(tree->waitFor("2. Pause: a hold, made in the editor"));
    EXPECT_TRUE(tree->waitFor("Freeze the frame on the form for 2s"));
    screenshot(windowID, "window-demo-sheet");
    activateWindow(windowID);
    press("Prompt");
    keys({"ctrl+q"});
    EXPECT_EQ(window->wait(20s), exitedWith(0));
}

TEST_F(SheetWindow, ASheetThatAsksRecordsBothTakesIntoOneVideoEachWhereTheLastEnded) {
    DevService service;
    const auto token = service.addAccount("ada@example.test", "Ada Lovelace");
    std::ofstream(configFolder() / "config.json") << Json{{"token", token}, {"apiBase", service.base()}}.dump();
    const std::string page = "file://" + (fs::path(VANTO_SOURCE_DIR) / "tests/e2e/pages/promptrun.html").string();
    const Json begin = {{"action", "click"}, {"target", "Begin"}, {"role", "button"}};
    for (const auto& [prompt, steps] : {std::pair{firstPrompt, Json{{{"action", "navigate"}, {"url", page}}, begin}},
                                        {secondPrompt, Json::array({begin})}}) {
        auto stored = service.call("POST", "/__plans", Json{{"prompt", prompt}, {"plan", {{"steps", steps}}}}.dump(),
                                   {{"Content-Type", "application/json"}});
        ASSERT_EQ(stored.status, 201) << stored.body;
    }
    auto chromium = startChromium("about:blank", 0, 0, 1440, 900);
    ASSERT_TRUE(waitForWindowOf(hands, chromium->pid(), "about:blank")) << "Chromium's window did not come up";

    // The window is up first; a second launch hands it the sheet and ends.
    open();
    if (HasFatalFailure()) return;
    const auto sheet = writeSheet("tour.json");
    auto handed = runCommand({vantoBinary(), "--demo", sheet.string()}, 20s);
    ASSERT_TRUE(handed) << "the second launch did not end";
    EXPECT_EQ(handed->status, exitedWith(0)) << handed->output;

    Json report;
    const bool ended = e2e::waitFor(
        [&] {
            report = readJson(folder.path() / "tour.report.json");
            const auto state = report.is_object() ? report.value("state", "") : "";
            return state != "" && state != "recording" && state != "asking";
        },
        300s, 500ms);
    ASSERT_TRUE(ended) << "the sheet did not finish recording itself: " << report.dump();
    ASSERT_EQ(report.value("state", ""), "done") << report.dump(2);
    ASSERT_EQ(report["takes"].size(), 2u);
    const auto& first = report["takes"][0];
    const auto& second = report["takes"][1];
    EXPECT_EQ(first.value("scene", -1), 0);
    EXPECT_EQ(second.value("scene", -1), 2);
    for (const auto& take : report["takes"]) EXPECT_EQ(take.value("state", ""), "recorded") << take.dump();
    EXPECT_EQ(first.value("atMs", -1), 0) << "the first take makes the video";
    EXPECT_EQ(report.value("videoID", ""), first.value("recordingID", ""));
    const auto at = second.value("atMs", std::int64_t{-1});
    EXPECT_NEAR(static_cast<double>(at), first.value("durationMs", 0.0), 250) << "placed where the first ended";

    // The video on the service: the first take, then the second from where the first ends.
    const auto timeline = service.call("GET", "/api/video/" + report.value("videoID", "") + "/timeline", "",
                                       {{"Authorization", "Bearer " + token}});
    ASSERT_EQ(timeline.status, 200) << timeline.body;
    const auto clips = Json::parse(timeline.body)["clips"];
    // Exactly two: a first take cut short of its movie's end would leave its last frames
    // playing after the second.
    ASSERT_EQ(clips.size(), 2u) << timeline.body;
    EXPECT_EQ(clips[0].value("at_ms", -1), 0) << timeline.body;
    EXPECT_EQ(clips[1].value("source_video_id", ""), second.value("recordingID", "")) << timeline.body;
    EXPECT_EQ(clips[1].value("at_ms", std::int64_t{-1}), at) << timeline.body;
    EXPECT_EQ(clips[1].value("at_ms", std::int64_t{-1}),
              clips[0].value("out_ms", std::int64_t{0}) - clips[0].value("in_ms", std::int64_t{0}))
        << "the second take follows the first without a gap: " << timeline.body;
    EXPECT_EQ(titleOf(hands, chromium->pid()).value_or("").rfind("seen load=1 begin=", 0), 0u);

    // The pane shows both takes recorded.
    EXPECT_TRUE(tree->waitFor("1. Begin: recorded")) << tree->dump();
    EXPECT_TRUE(tree->waitFor("3. Again: recorded"));
    activateWindow(windowID);
    screenshot(windowID, "window-demo-sheet-recorded");
}

// A sheet that does not ask: the person presses Record for its first take, answers its
// dialogs, and the report beside the sheet has the take and the pane moves on.
TEST_F(SheetWindow, RecordTakesTheSelectedSceneOfTheSheetAndTheReportFollows) {
    DevService service;
    std::ofstream(configFolder() / "config.json")
        << Json{{"token", service.addAccount("ada@example.test", "Ada")}, {"apiBase", service.base()}}.dump();
    const std::string page = "file://" + (fs::path(VANTO_SOURCE_DIR) / "tests/e2e/pages/promptrun.html").string();
    const Json steps = {{{"action", "navigate"}, {"url", page}},
                        {{"action", "click"}, {"target", "Begin"}, {"role", "button"}}};
    auto stored = service.call("POST", "/__plans", Json{{"prompt", firstPrompt}, {"plan", {{"steps", steps}}}}.dump(),
                               {{"Content-Type", "application/json"}});
    ASSERT_EQ(stored.status, 201) << stored.body;
    auto chromium = startChromium("about:blank", 0, 0, 1440, 900);
    ASSERT_TRUE(waitForWindowOf(hands, chromium->pid(), "about:blank")) << "Chromium's window did not come up";
    auto sheet = readJson(writeSheet("tour.json"));
    sheet.erase("unattended");
    std::ofstream(folder.path() / "tour.json") << sheet.dump();
    open({"--demo", (folder.path() / "tour.json").string()});
    if (HasFatalFailure()) return;

    press("Record");
    ASSERT_TRUE(tree->waitFor("Run this plan?", 60s)) << "no plan to approve";
    press("Run", "Run this plan?");
    ASSERT_TRUE(tree->waitFor("Ready to record?", 120s)) << "no go-ahead question";
    press("Record", "Ready to record?");
    ASSERT_TRUE(tree->waitFor("Recorded and uploaded", 180s)) << "no result dialog";
    press("Done", "Recorded and uploaded");

    const auto report = readJson(folder.path() / "tour.report.json");
    EXPECT_EQ(report.value("state", ""), "recording") << report.dump(2);
    EXPECT_EQ(report.value("/takes/0/state"_json_pointer, ""), "recorded");
    EXPECT_EQ(report.value("/takes/1/state"_json_pointer, ""), "pending");
    EXPECT_TRUE(tree->waitFor("1. Begin: recorded")) << tree->dump();
}

// A driven scene: the test is the agent beside the sheet, talking through tour.drive.
// The sheet has a stage, so the take is recorded in the stage browser the window
// starts, which it closes once the sheet has recorded itself.
TEST_F(SheetWindow, ADrivenSceneTakesItsStepsFromTheFolderBesideTheSheetUntilItsDriverEndsIt) {
    DevService service;
    std::ofstream(configFolder() / "config.json")
        << Json{{"token", service.addAccount("ada@example.test", "Ada")}, {"apiBase", service.base()}}.dump();
    const std::string page = "file://" + (fs::path(VANTO_SOURCE_DIR) / "tests/e2e/pages/promptrun.html").string();
    ::setenv("XDG_DATA_HOME", (folder.path() / "data").c_str(), 1);
    const auto profile = folder.path() / "data" / "vanto" / "Stage" / "Chrome";
    const auto sheet = folder.path() / "tour.json";
    std::ofstream(sheet) << Json{{"title", "Driven tour"},
                                 {"unattended", true},
                                 {"stage", Json::object()},
                                 {"scenes",
                                  {{{"name", "Drive"},
                                    {"prompt", "the agent beside the sheet drives"},
                                    {"driven", true},
                                    {"startURL", page}}}}}
                                .dump();
    open({"--demo", sheet.string()});
    if (HasFatalFailure()) return;

    const auto drive = folder.path() / "tour.drive";
    auto answerTo = [&](int id) {
        const auto file = drive / ("result-" + std::to_string(id) + ".json");
        e2e::waitFor([&] { return fs::exists(file); }, 90s, 100ms);
        return readJson(file);
    };
    auto send = [&](const Json& command) {
        std::ofstream(drive / ".next.json") << command.dump();
        fs::rename(drive / ".next.json", drive / "next.json");
    };
    EXPECT_EQ(answerTo(0).value("outcome", ""), "started");
    send({{"id", 1}, {"step", {{"action", "click"}, {"target", "Begin"}}}});
    EXPECT_EQ(answerTo(1).value("outcome", ""), "done");
    send({{"id", 2}, {"end", true}});
    EXPECT_EQ(answerTo(2).value("outcome", ""), "ended");

    Json report;
    EXPECT_TRUE(e2e::waitFor(
        [&] {
            report = readJson(folder.path() / "tour.report.json");
            return report.is_object() && report.value("state", "") == "done";
        },
        60s, 500ms))
        << report.dump(2);
    EXPECT_EQ(report.value("/takes/0/steps"_json_pointer, Json::array()), Json::array({"click Begin"}));
    // The page was the stage browser's: it ran with the stage profile, and is asked to quit now.
    auto stageBrowsers = [&] {
        const auto listing = runCommand({"ps", "-axww", "-o", "args="});
        return listing ? listing->output.find("--user-data-dir=" + profile.string()) : std::string::npos;
    };
    EXPECT_TRUE(fs::exists(profile / "Default")) << "no stage browser ran";
    EXPECT_TRUE(e2e::waitFor([&] { return stageBrowsers() == std::string::npos; }, 20s, 200ms))
        << "the stage browser is still running";
}

TEST_F(SheetWindow, WhileAgentsMayNotRecordThePersonIsAskedAndANoOrAnotherSheetRefusesIt) {
    DevService service;
    std::ofstream(configFolder() / "config.json")
        << Json{{"token", service.addAccount("ada@example.test", "Ada")}, {"apiBase", service.base()}}.dump();
    JsonFileDefaults(configFolder() / JsonFileDefaults::fileName).set("agentsMayRecord", false);
    const auto sheet = writeSheet("tour.json");
    open({"--demo", sheet.string()});
    if (HasFatalFailure()) return;
    ASSERT_TRUE(tree->waitFor("Let agents record demos?")) << tree->dump();
    const auto file = folder.path() / "tour.report.json";
    EXPECT_EQ(readJson(file).value("state", ""), "asking");
    press("Don't Allow", "Let agents record demos?");
    Json report;
    EXPECT_TRUE(e2e::waitFor(
        [&] {
            report = readJson(file);
            return report.is_object() && report.value("state", "") == "refused";
        },
        20s, 200ms))
        << report.dump(2);
    EXPECT_EQ(report.value("error", ""), "the person at the machine chose not to let agents record");
    EXPECT_TRUE(tree->waitFor("1. Begin: to record")) << "the sheet stays open for the person";

    // Asked again, and another sheet handed over meanwhile: the one asked about is refused.
    auto handOver = [&](const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{vantoBinary()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        auto handed = runCommand(argv, 20s);
        ASSERT_TRUE(handed && handed->status == exitedWith(0)) << (handed ? handed->output : "it did not end");
    };
    handOver({"--demo", sheet.string()});
    ASSERT_TRUE(tree->waitFor("Let agents record demos?")) << tree->dump();
    const auto plain = folder.path() / "plain.json";
    std::ofstream(plain) << R"({"title": "Plain", "scenes": [{"name": "Only", "prompt": "show it"}]})";
    handOver({"--demo", plain.string()});
    EXPECT_TRUE(e2e::waitFor(
        [&] {
            report = readJson(file);
            return report.is_object() && report.value("error", "") == "another sheet was opened while Vanto was asking";
        },
        20s, 200ms))
        << report.dump(2);
    EXPECT_TRUE(tree->waitFor("1. Only: to record")) << tree->dump();
    handOver({"--window"});
}

TEST_F(SheetWindow, QuittingWhileASheetRecordsItselfAbandonsItsReport) {
    DevService service;
    std::ofstream(configFolder() / "config.json")
        << Json{{"token", service.addAccount("ada@example.test", "Ada")}, {"apiBase", service.base()}}.dump();
    // The planner is held up, so the first take is still under way when the window goes.
    service.inject(Json{{"path", "/api/capture/plan"}, {"delayMs", 15000}});
    auto chromium = startChromium("about:blank", 0, 0, 1440, 900);
    ASSERT_TRUE(waitForWindowOf(hands, chromium->pid(), "about:blank")) << "Chromium's window did not come up";
    const auto sheet = writeSheet("tour.json");
    open({"--demo", sheet.string()});
    if (HasFatalFailure()) return;
    const auto file = folder.path() / "tour.report.json";
    ASSERT_TRUE(e2e::waitFor(
        [&] {
            const auto report = readJson(file);
            return report.is_object() && report.value("/takes/0/state"_json_pointer, "") == "recording";
        },
        30s, 200ms))
        << readJson(file).dump();
    ::kill(window->pid(), SIGTERM);
    EXPECT_EQ(window->wait(30s), exitedWith(0));
    const auto report = readJson(file);
    EXPECT_EQ(report.value("state", ""), "failed") << report.dump(2);
    EXPECT_EQ(report.value("error", ""), "Vanto quit during the take");
    EXPECT_EQ(report.value("/takes/0/error"_json_pointer, ""), "Vanto quit during the take");
    EXPECT_EQ(report.value("/takes/1/state"_json_pointer, ""), "pending");
}

} // namespace
} // namespace vanto::e2e
