#include "desk/TakeFlow.h"
#include "desk/MemoryPane.h"
#include "desk/PromptHistory.h"
#include "desk/SettingsPanes.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/MemoryDefaults.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

TEST(PromptHistory, theNewestComesFirstOnceAndOnlyTenAreKept) {
    fake::MemoryDefaults defaults;
    PromptHistory history(defaults);
    for (int i = 1; i <= 11; ++i) history.remember("prompt " + std::to_string(i));
    history.remember("prompt 11"); // already first: not listed twice
    history.remember("  demo\n");
    history.remember(" \n");
    const auto prompts = history.prompts();
    ASSERT_EQ(prompts.size(), 10u);
    EXPECT_EQ(prompts[0], "demo");
    EXPECT_EQ(prompts[1], "prompt 11");
    EXPECT_EQ(prompts[9], "prompt 3");

    defaults.set(PromptHistory::defaultsKey, nlohmann::json::array({"kept", 4, nullptr}));
    EXPECT_EQ(history.prompts(), std::vector<std::string>{"kept"}) << "foreign entries are not prompts";
}

TEST(TakeFlow, theFieldsAreCheckedBeforeAnythingStarts) {
    using namespace TakeFlow;
    Fields fields;
    fields.prompt = "  show the cart\n";
    fields.video = "vid_1";
    EXPECT_EQ(std::get<Complaint>(begin(fields)).title, "Say where in that video this take belongs");

    fields.video = "";
    fields.time = " 1:30 ";
    fields.seconds = 90;
    EXPECT_EQ(std::get<Complaint>(begin(fields)).title, "There is no video to put this take in");

    fields.video = "vid_1";
    EXPECT_EQ(std::get<Take>(begin(fields)), (Take{"show the cart", "vid_1", 90.0}));
    const auto params = runParams(std::get<Take>(begin(fields)), "/tmp/x.mov", false);
    EXPECT_FALSE(params.upload) << "a take without a link cannot be uploaded";
    EXPECT_EQ(params.into, "vid_1");
    EXPECT_EQ(params.atSeconds, 90.0);

    // A hold is refused even without a prompt; a running take or no prompt does nothing.
    fields.heldScene = 2;
    EXPECT_EQ(std::get<Complaint>(begin(fields)).title, "Scene 2 is a hold, not a take");
    fields.heldScene.reset();
    fields.running = true;
    EXPECT_TRUE(std::holds_alternative<std::monostate>(begin(fields)));
    fields.running = false;
    fields.prompt = "\n ";
    EXPECT_TRUE(std::holds_alternative<std::monostate>(begin(fields)));
}

TEST(TakeFlow, thePaneIsReadIntoFieldsAndTheKeyboardSpeedIsKeptInRange) {
    using namespace TakeFlow;
    auto fields = read("demo", " https://app.test/videos/vid_1/ ", " 1:30 ", false);
    EXPECT_EQ(fields.video, "vid_1") << "a link is read as its video's ID";
    EXPECT_EQ(fields.seconds, 90.0);
    EXPECT_EQ(read("", "", "2.5:10", false).seconds, 160.0);
    EXPECT_EQ(read("", "", "1:02:03", false).seconds, 3723.0);
    EXPECT_EQ(read("", "", "1:75", false).seconds, std::nullopt) << "seconds past 59 are no time";
    EXPECT_EQ(read("", "", "ten", false).seconds, std::nullopt);
    EXPECT_EQ(read("", "", "", false).seconds, std::nullopt);
    // A time that is not one, with a video, asks where the take belongs.
    EXPECT_EQ(std::get<Complaint>(begin(read("demo", "vid_1", "soon", false))).title,
              "Say where in that video this take belongs");

    fake::MemoryDefaults defaults;
    EXPECT_EQ(keyboardSpeed(defaults), 30);
    defaults.set(keyboardSpeedKey, 100);
    EXPECT_EQ(keyboardSpeed(defaults), 80);
    defaults.set(keyboardSpeedKey, 12.4);
    EXPECT_EQ(keyboardSpeed(defaults), 12);
    defaults.set(keyboardSpeedKey, "fast");
    EXPECT_EQ(keyboardSpeed(defaults), 30);
}

TEST(TakeFlow, theApprovalListsTwelveStepsAndCountsTheRest) {
    std::vector<Step> steps(15, Step::fromJSON({{"action", "click"}, {"target", "Save"}, {"url", "https://x.test"}}));
    steps[0] = Step::fromJSON({{"action", "open"}, {"app", "Chromium"}});
    steps[1] = Step::fromJSON({{"action", "wait"}, {"label", "let it load"}});
    steps[2] = Step::fromJSON({{"action", "back"}});
    const auto alert = TakeFlow::approval(steps, "run this plan?");
    EXPECT_EQ(alert.message, "Run this plan?");
    EXPECT_TRUE(alert.informative.starts_with("1. open Chromium\n2. let it load\n3. back\n4. click Save\n"));
    EXPECT_TRUE(alert.informative.ends_with("12. click Save\n\u2026and 3 more\n\n"
                                            "Every step runs twice: once rehearsing, once on the take."))
        << alert.informative;
    EXPECT_EQ(TakeFlow::approval({}, "run this plan?").informative, "There are no steps in this plan.");
}

TEST(TakeFlow, theResultSaysHowTheRunEndedAndOffersToForgetOnlyWhatWasUsed) {
    TakeFlow::Outcome outcome;
    outcome.error = "Which app?";
    outcome.plannerAsked = true;
    EXPECT_EQ(TakeFlow::result(outcome),
              (TakeFlow::Alert{"Vanto needs to know where to record", "Which app?", {"OK"}}));
    outcome.plannerAsked = false;
    EXPECT_EQ(TakeFlow::result(outcome).message, "The run stopped");

    outcome.error.reset();
    outcome.uploadURL = "https://app.test/videos/v1";
    outcome.path = "/tmp/t.mov";
    EXPECT_EQ(TakeFlow::result(outcome).buttons, (std::vector<std::string>{"Open", "Done"}));
    outcome.uploadURL = "not a url";
    outcome.learned = true;
    auto local = TakeFlow::result(outcome);
    EXPECT_EQ(local, (TakeFlow::Alert{"Recorded", "/tmp/t.mov", {"Show in Folder", "Done", "Forget What It Learned"}}));
}

TEST(MemoryPane, theStatusCountsAnswersAndApplications) {
    CorrectionStore::Entries entries;
    EXPECT_EQ(MemoryPane::status(entries), "Nothing yet.");
    EXPECT_TRUE(MemoryPane::applications(entries).empty());
    entries[CorrectionStore::key("org.shop", "save")] = {};
    EXPECT_EQ(MemoryPane::status(entries), "1 thing, across 1 app.");
    entries[CorrectionStore::key("org.shop", "cart")] = {};
    entries[CorrectionStore::key("org.shop", "pay")] = {};
    EXPECT_EQ(MemoryPane::status(entries), "3 things, across 1 app.");
    entries[CorrectionStore::key("chromium", "back")] = {};
    EXPECT_EQ(MemoryPane::status(entries), "4 things, across 2 apps.");
    EXPECT_EQ(MemoryPane::applications(entries), (std::vector<std::string>{"chromium", "org.shop"}));
}

TEST(SettingsPanes, permissionRowsAskOnceThenSayWhereAndTheNoteExplainsRestarts) {
    using namespace PermissionsPane;
    EXPECT_EQ(askedKey(Permission::accessibility), "asked.accessibility");
    EXPECT_EQ(askedKey(Permission::screenRecording), "asked.screenRecording");
    EXPECT_EQ(row(Permission::accessibility, false, false).button, "Grant");
    EXPECT_EQ(row(Permission::accessibility, false, true).button, "Open Settings");
    EXPECT_EQ(row(Permission::screenRecording, true, true).button, "Review");
    EXPECT_EQ(press(false, false), Press::ask);
    EXPECT_EQ(press(false, true), Press::showWhere) << "a second Grant does not ask again";
    EXPECT_EQ(press(true, false), Press::showWhere);

    EXPECT_EQ(note(true, true, false), "");
    EXPECT_NE(note(true, false, false).find("Chromium among them"), std::string::npos);
    EXPECT_EQ(note(true, true, true), note(true, false, false))
        << "switched on just now, what was already running still needs a restart";
}

TEST(SettingsPanes, agentSwitchesFollowTheirKeysAndRecordingWithoutAskingIsOnlySwitchedOffHere) {
    fake::MemoryDefaults defaults;
    auto switches = AgentsPane::switches(defaults);
    ASSERT_EQ(switches.size(), 3u);
    EXPECT_TRUE(switches[0].on) << "agents may record when not set";
    EXPECT_TRUE(switches[1].on) << "cloud recordings are accepted when not set";
    EXPECT_FALSE(switches[2].on);
    EXPECT_FALSE(switches[2].enabled);
    defaults.set(AgentsPane::alwaysAllowedKey, true);
    defaults.set(AgentsPane::agentsMayRecordKey, false);
    switches = AgentsPane::switches(defaults);
    EXPECT_FALSE(switches[0].on);
    EXPECT_TRUE(switches[2].on && switches[2].enabled);
}

// The set-up page is on the web application, not on the API that the link names.
TEST(SettingsPanes, theSetUpPageIsOnTheWebApplication) {
    fake::FakePlatform fake;
    fake.processes.env["VANTO_API_BASE"] = "https://api.example.test:8443";
    EXPECT_EQ(AgentsPane::setUpAddress(fake.paths, fake.processes), "https://app.example.test:8443/getting-started");
    fake.processes.env["VANTO_APP_BASE"] = "http://127.0.0.1:4000";
    EXPECT_EQ(AgentsPane::setUpAddress(fake.paths, fake.processes), "http://127.0.0.1:4000/getting-started");
}

} // namespace
} // namespace vanto
