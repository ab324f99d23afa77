#include "agent/Agent.h"
#include "plan/AgentError.h"

#include "../targets/ScriptedDesktop.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <tuple>

namespace vanto {
namespace {

using testing::ScriptedDesktop;

Step step(const nlohmann::json& fields) {
    return Step::fromJSON(fields);
}

// A scripted page and a run over it, its progress lines kept.
class StepExecutionTest : public ::testing::Test {
protected:
    StepExecutionTest() {
        // Only the desktop entries the test writes exist.
        desktop.fake.processes.env["XDG_DATA_HOME"] = applications.parent_path().string();
        desktop.fake.processes.env["XDG_DATA_DIRS"] = (desktop.fake.paths.home() / "nowhere").string();
        session.pid = ScriptedDesktop::pid;
    }

    bool perform(const Step& step) { return agent.perform(step, session, false); }

    std::string failure(const Step& step) {
        try {
            perform(step);
        } catch (const Error& error) {
            return error.what();
        }
        return "";
    }

    template <class Act> auto driven(Act act) { return desktop.driven(act); }

    bool logged(const std::string& line) const { return std::ranges::find(lines, line) != lines.end(); }

    // Key presses the desktop saw, by key code.
    std::vector<std::uint16_t> keysDown() const {
        std::vector<std::uint16_t> codes;
        for (const auto& event : desktop.fake.events.events)
            if (event.kind == fake::PostedEvent::Kind::key && event.down && event.keyCode != 0)
                codes.push_back(event.keyCode);
        return codes;
    }

    ScriptedDesktop desktop;
    std::filesystem::path applications = desktop.fake.paths.home() / "data" / "applications";
    std::vector<std::string> lines;
    std::ostringstream err;
    Agent agent =
        desktop.engine.makeAgent(ProgressLog(err, [this](const std::string& line) { lines.push_back(line); }));
    Session session;
};

TEST_F(StepExecutionTest, aWaitIsClampedToTenSecondsAndLastsAMomentWithoutALength) {
    auto waited = [&](std::optional<std::int64_t> ms) {
        const double start = desktop.fake.clock.now();
        nlohmann::json fields{{"action", "wait"}};
        if (ms) fields["ms"] = *ms;
        EXPECT_TRUE(perform(step(fields)));
        return desktop.fake.clock.now() - start;
    };
    EXPECT_NEAR(waited(20000), 10, 1e-6);
    EXPECT_NEAR(waited(std::nullopt), 0.8, 1e-6);
    EXPECT_NEAR(waited(-5), 0, 1e-6);
    EXPECT_NEAR(waited(1200), 1.2, 1e-6);
}

TEST_F(StepExecutionTest, stepsThatCannotRunFailWithTheirOwnWords) {
    EXPECT_EQ(failure(step({{"action", "open"}, {"app", "Vanto"}})), AgentError::cannotDriveItself().what());
    EXPECT_EQ(failure(step({{"action", "open"}, {"app", "vanto recorder"}})), AgentError::cannotDriveItself().what());
    EXPECT_EQ(failure(step({{"action", "type"}})), "missing required field: text");
    EXPECT_EQ(failure(step({{"action", "key"}})), "missing required field: key");
    EXPECT_EQ(failure(step({{"action", "open"}})), "missing required field: app");
    EXPECT_EQ(failure(step({{"action", "navigate"}})), "missing required field: url");
    EXPECT_EQ(failure(step({{"action", "fly"}})), "unknown action: fly");
    // A browser without an address field cannot be sent anywhere.
    EXPECT_EQ(failure(step({{"action", "navigate"}, {"url", "example.com"}})),
              "could not find \"the address bar\" on screen");
    EXPECT_TRUE(desktop.fake.processes.launches.empty());
}

TEST_F(StepExecutionTest, typedTextShowingInTheFieldCountsWithoutAScreenChange) {
    auto field = desktop.add("AXTextField", "Name", Rect{200, 300, 200, 30});
    field->set(ax::value, std::string(""));
    desktop.app->focusedElement = field;
    std::string shown;
    bool echoes = true;
    std::vector<double> pressed;
    desktop.fake.events.onPost = [&](const fake::PostedEvent& event) {
        if (echoes && event.kind == fake::PostedEvent::Kind::key && event.down && event.text) {
            shown += *event.text;
            field->set(ax::value, shown);
            pressed.push_back(event.time);
        }
    };
    EXPECT_TRUE(perform(step({{"action", "type"}, {"text", "ADA lovelace"}})));
    EXPECT_EQ(shown, "ADA lovelace");
    // A run given no speed types at 14 characters a second.
    EXPECT_NEAR(pressed.back() - pressed.front(), 11.0 / 14, 1e-6);
    EXPECT_FALSE(logged("type ADA lovelace changed nothing on screen"));

    // A field that keeps nothing and a screen that stays the same: not worked, and said.
    echoes = false;
    EXPECT_FALSE(perform(step({{"action", "type"}, {"text", "Grace"}, {"label", "types the name"}})));
    EXPECT_TRUE(logged("types the name changed nothing on screen"));
}

TEST_F(StepExecutionTest, tabCountsWhenFocusMovesAndIsAnnounced) {
    auto first = desktop.add("AXTextField", "First", Rect{200, 300, 200, 30});
    auto second = desktop.add("AXTextField", "Second", Rect{200, 360, 200, 30});
    desktop.app->focusedElement = first;
    bool moves = true;
    desktop.fake.events.onPost = [&](const fake::PostedEvent& event) {
        if (moves && event.kind == fake::PostedEvent::Kind::key && event.down && event.keyCode == 48)
            desktop.app->focusedElement = second;
    };
    EXPECT_TRUE(perform(step({{"action", "key"}, {"key", "Tab"}, {"label", "next field"}})));
    EXPECT_TRUE(logged("pressing tab"));
    EXPECT_EQ(keysDown(), (std::vector<std::uint16_t>{48}));

    moves = false;
    EXPECT_FALSE(perform(step({{"action", "key"}, {"key", "tab"}, {"label", "next field"}})));
    EXPECT_TRUE(logged("next field changed nothing on screen"));
}

// The browser's address field is emptied, given the address and sent; while recording
// the navigation, a wait, a typed text and a key each leave a capture event, and so does
// a click the plan left unlabelled, under its description and with its point.
TEST_F(StepExecutionTest, navigatingGoesThroughTheAddressFieldAndRecordedStepsAreNoted) {
    auto address = desktop.add("AXTextField", "Address and search bar", Rect{300, 110, 400, 24}, desktop.window);
    address->set(ax::value, std::string("old.example/a"));
    auto save = desktop.add("AXButton", "Save", Rect{200, 400, 80, 30});
    std::string typed;
    desktop.fake.events.onPost = [&](const fake::PostedEvent& event) {
        const bool up = event.kind == fake::PostedEvent::Kind::mouse && event.mouse == MouseEventType::leftUp;
        if (up && contains(*address->frame, event.at)) desktop.app->focusedElement = address;
        if (up && contains(*save->frame, event.at)) desktop.add("AXStaticText", "Saved", Rect{300, 400, 80, 30});
        if (event.kind != fake::PostedEvent::Kind::key || !event.down) return;
        if (event.keyCode == 51)
            address->set(ax::value, std::string(""));
        else if (event.keyCode == 36)
            desktop.add("AXHeading", "Welcome to " + typed, Rect{200, 300, 300, 40});
        else if (event.text)
            address->set(ax::value, typed += *event.text);
    };
    Recorder::StartParams take;
    take.target.kind = Target::Kind::display;
    take.target.rect = desktop.frame;
    take.output = desktop.fake.paths.tempDir() / "take.mov";
    driven([&] { desktop.engine.recorder().start(take); });

    EXPECT_TRUE(driven([&] {
        return agent.perform(step({{"action", "navigate"}, {"url", "example.com"}}), session, true);
    }));
    EXPECT_EQ(typed, "example.com");
    EXPECT_EQ(keysDown(), (std::vector<std::uint16_t>{51, 36}));
    EXPECT_EQ(desktop.clicks(), (std::vector<Point>{{500, 122}}));
    EXPECT_TRUE(logged("focus in the address bar"));

    driven([&] { return agent.perform(step({{"action", "wait"}, {"ms", 100}, {"label", "a pause"}}), session, true); });
    driven([&] { return agent.perform(step({{"action", "key"}, {"key", "Return"}}), session, true); });
    EXPECT_TRUE(driven([&] { return agent.perform(step({{"action", "click"}, {"target", "Save"}}), session, true); }));
    std::vector<std::tuple<std::string, std::string, std::string, std::optional<Point>>> noted;
    for (const auto& event : desktop.engine.recorder().events())
        noted.emplace_back(event.action, event.label, event.text, event.at);
    EXPECT_EQ(noted, (std::vector<std::tuple<std::string, std::string, std::string, std::optional<Point>>>{
                         {"navigate", "navigate example.com", "example.com", std::nullopt},
                         {"wait", "a pause", "", std::nullopt},
                         {"key", "key", "return", std::nullopt},
                         {"click", "click Save", "", Point{140, 315}}}));
    driven([&] { desktop.engine.recorder().stop(); });
}

TEST_F(StepExecutionTest, anInstalledApplicationIsLaunchedFromItsEntryDrivenAndClosedAgain) {
    std::filesystem::create_directories(applications);
    std::ofstream(applications / "org.example.Editor.desktop")
        << "[Desktop Entry]\nType=Application\nName=Editor\nExec=/opt/editor/bin/editor --new-window %U\n";
    desktop.fake.processes.onLaunch = [&](const std::vector<std::string>&) {
        desktop.fake.processes.table[9000] = {.parent = 1, .path = "/opt/editor/bin/editor", .alive = true};
        desktop.fake.windows.addWindow(90, "Editor", 9000, "Untitled", Rect{0, 0, 900, 700});
        return Launch{.pid = 9000, .failure = {}};
    };
    session = {};
    EXPECT_TRUE(perform(step({{"action", "open"}, {"app", "editor"}})));
    EXPECT_EQ(desktop.fake.processes.launches,
              (std::vector<std::vector<std::string>>{{"/opt/editor/bin/editor", "--new-window"}}));
    EXPECT_EQ(session.pid, 9000);
    EXPECT_EQ(session.launched, (std::set<std::int32_t>{9000}));
    EXPECT_TRUE(logged("driving Editor"));

    // Running already: driven as it is, nothing launched again.
    EXPECT_TRUE(perform(step({{"action", "open"}, {"app", "Editor"}})));
    EXPECT_EQ(desktop.fake.processes.launches.size(), 1u);

    // Its window is asked to close, and it ends; nothing needs a signal.
    desktop.fake.windows.onClose = [&](std::uint32_t) { desktop.fake.processes.table[9000].alive = false; };
    agent.closeLaunchedApps(session);
    EXPECT_EQ(desktop.fake.windows.closed, (std::vector<std::uint32_t>{90}));
    EXPECT_TRUE(desktop.fake.processes.terminated.empty());
    EXPECT_TRUE(logged("closing Editor opened while planning"));
    EXPECT_TRUE(session.launched.empty());
}

// A run pinned to a process drives that one when a step names it, and never launches it.
TEST_F(StepExecutionTest, aPinnedProcessIsAdoptedAndOneWithoutAWindowIsNamedByNumber) {
    desktop.fake.windows.addWindow(88, "Shop Helper", 600, "Helper", Rect{0, 0, 400, 300});
    session = {};
    session.pinned = ScriptedDesktop::pid;
    EXPECT_TRUE(perform(step({{"action", "open"}, {"app", "shop"}})));
    EXPECT_EQ(session.pid, ScriptedDesktop::pid);
    EXPECT_TRUE(logged("driving Shop"));
    EXPECT_TRUE(desktop.fake.processes.launches.empty());

    session = {};
    agent.openStartURL("example.com", session);
    EXPECT_TRUE(logged("nothing to load example.com in yet; the take opens wherever the plan starts"));
    try {
        agent.adopt(777, session);
        ADD_FAILURE() << "adopted a process without a window";
    } catch (const AgentError& error) {
        EXPECT_EQ(error.kind(), AgentError::Case::noWindow);
        EXPECT_EQ(std::string(error.what()), AgentError::noWindow("pid 777").what());
    }
    EXPECT_EQ(session.pid, 0);
}

// A launcher that stays while a child of its own shows the window: the child is driven,
// and closed again at the end.
TEST_F(StepExecutionTest, aLauncherThatStaysHandsTheWindowToItsChild) {
    desktop.fake.processes.onLaunch = [&](const std::vector<std::string>&) {
        desktop.fake.processes.table[9200] = {.parent = 1, .path = "/usr/lib/office/splash", .alive = true};
        desktop.fake.processes.table[9201] = {.parent = 9200, .path = "/usr/lib/office/office.bin", .alive = true};
        desktop.fake.windows.addWindow(92, "Office", 9201, "Untitled 1", Rect{0, 0, 900, 700});
        return Launch{.pid = 9200, .failure = {}};
    };
    session = {};
    EXPECT_TRUE(perform(step({{"action", "open"}, {"app", "Writer"}})));
    EXPECT_EQ(session.pid, 9201);
    EXPECT_EQ(session.launched, (std::set<std::int32_t>{9201}));
    EXPECT_TRUE(logged("driving Office"));
}

TEST_F(StepExecutionTest, aFailedLaunchNamesTheApplicationAndWhatItSaid) {
    desktop.fake.processes.onLaunch = [&](const std::vector<std::string>&) {
        desktop.fake.processes.launchStates[9100] = {
            .ended = true, .exitStatus = 1, .errors = "\n  editor: cannot open display :9\n\n"};
        return Launch{.pid = 9100, .failure = {}};
    };
    EXPECT_EQ(failure(step({{"action", "open"}, {"app", "Editor"}})),
              "could not start Editor: editor: cannot open display :9");
    EXPECT_EQ(desktop.fake.processes.launches, (std::vector<std::vector<std::string>>{{"Editor"}}));

    desktop.fake.processes.onLaunch = [](const std::vector<std::string>&) {
        return Launch{.pid = std::nullopt, .failure = "No such file or directory"};
    };
    EXPECT_EQ(failure(step({{"action", "open"}, {"app", "Nowhere"}})),
              "could not start Nowhere: No such file or directory");
}

} // namespace
} // namespace vanto
