// Clicking a target on the scripted desktop: where a click is aimed, how its effect is
// proven (a value, the focus, the window), and what is said along the way. The clock is
// virtual, so the seconds a wait took are read from it.

#include "ScriptedDesktop.h"

#include "capture/RecorderError.h"
#include "plan/AgentError.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <future>
#include <ostream>

using namespace vanto;
using vanto::testing::ScriptedDesktop;

namespace vanto {
void PrintTo(const Point& point, std::ostream* out) {
    *out << point.x << "," << point.y;
}
} // namespace vanto

namespace {

Step clickOn(const std::string& target) {
    Step step;
    step.action = "click";
    step.target = target;
    return step;
}

AXElement element(const std::string& role, const std::string& text, Rect frame, bool inPage = true) {
    auto made = AXElement::withFrame(role, text, frame.x, frame.y, frame.width, frame.height);
    made->inPage = inPage;
    return *made;
}

template <class Act> std::optional<AgentError::Case> agentErrorOf(Act&& act) {
    try {
        act();
    } catch (const AgentError& error) {
        return error.kind();
    }
    return std::nullopt;
}

class ClickingTest : public ::testing::Test {
protected:
    // A window the capture service can picture; paint says what it shows.
    void pictured() {
        desktop.fake.capture.addWindow(
            ScriptedDesktop::windowNumber,
            RectD{desktop.frame.x, desktop.frame.y, desktop.frame.width, desktop.frame.height}, "Shop",
            ScriptedDesktop::pid);
        desktop.fake.capture.paint = [this](const ContentFilter&, const StreamConfiguration& configuration) {
            CapturedImage image{configuration.width, configuration.height, {}};
            image.bgra.assign(static_cast<std::size_t>(image.width * image.height) * 4, shade);
            return image;
        };
    }

    double slept() { return desktop.fake.clock.slept(); }
    double now() { return desktop.fake.clock.now(); }

    // Runs act while the clock moves a hundredth of a second per millisecond. A picture of
    // the window is taken on another thread under a deadline on the same clock: a clock
    // that jumps ahead on every sleep would let that deadline win at random, adding its
    // seconds and leaving the call running after the test.
    template <class Act> auto driven(Act act) {
        auto& clock = desktop.fake.clock;
        clock.setAutoAdvance(false);
        auto result = std::async(std::launch::async, act);
        while (result.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) clock.advance(0.01);
        clock.setAutoAdvance(true);
        return result.get();
    }

    bool clicked(Targeting& targeting, const Step& step) {
        return driven([&] { return targeting.click(step, ScriptedDesktop::pid, std::nullopt, false); });
    }

    ScriptedDesktop desktop;
    std::uint8_t shade = 128;
};

// A link broken over two lines: the middle of its bounding box shows the paragraph's own words.
TEST_F(ClickingTest, AimsAtAPartOfAWideLinkWhenItsMiddleIsAGap) {
    const std::string text = "Read the whole release notes for 2.4";
    auto paragraph = desktop.add("AXGroup", "", Rect{150, 290, 500, 60});
    desktop.add("AXLink", text, Rect{200, 300, 400, 40}, paragraph);
    auto words = paragraph->add("AXGroup", std::nullopt, Rect{150, 310, 500, 20});
    auto targeting = desktop.targeting();
    const auto wide = element("AXLink", text, Rect{200, 300, 400, 40});

    EXPECT_EQ(targeting.aim(wide, ScriptedDesktop::pid), (Point{300, 330}));
    ASSERT_FALSE(desktop.lines.empty());
    EXPECT_EQ(desktop.lines.back(),
              "aiming at 300,330 - the middle of \"Read the whole release notes f\" is not part of it");

    // With the first quarter covered too, it goes half of the way along.
    auto left = paragraph->add("AXGroup", std::nullopt, Rect{150, 290, 170, 60});
    EXPECT_EQ(targeting.aim(wide, ScriptedDesktop::pid), (Point{400, 330}));
    EXPECT_EQ(desktop.lines.back(),
              "aiming at 400,330 - the middle of \"Read the whole release notes f\" is not part of it");

    // Nowhere reaches it: the middle, without a word about it.
    words->frame = Rect{150, 290, 500, 60};
    const auto said = desktop.lines.size();
    EXPECT_EQ(targeting.aim(wide, ScriptedDesktop::pid), (Point{400, 320}));
    // A link whose middle is its own is aimed at the middle.
    words->frame = left->frame = Rect{0, 0, 1, 1};
    EXPECT_EQ(targeting.aim(wide, ScriptedDesktop::pid), (Point{400, 320}));
    EXPECT_EQ(desktop.lines.size(), said);
}

TEST_F(ClickingTest, FocusMovesOnAnotherRoleValueFrameOrSide) {
    const Focus field{"AXTextField", "hello", Rect{10, 10, 100, 20}, true};
    EXPECT_TRUE(Targeting::focusMoved(std::nullopt, field));
    EXPECT_FALSE(Targeting::focusMoved(std::nullopt, Focus{}));
    EXPECT_FALSE(Targeting::focusMoved(field, field));
    auto other = field;
    other.role = "AXButton";
    EXPECT_TRUE(Targeting::focusMoved(field, other));
    other = field;
    other.value = "hello!";
    EXPECT_TRUE(Targeting::focusMoved(field, other));
    other = field;
    other.frame.y = 40;
    EXPECT_TRUE(Targeting::focusMoved(field, other));
    other = field;
    other.inPage = false;
    EXPECT_TRUE(Targeting::focusMoved(field, other));

    // Waiting for it reads the application's focus until it moves, or gives up in time.
    auto name = desktop.add("AXTextField", "Name", Rect{200, 300, 200, 24});
    auto email = desktop.add("AXTextField", "Email", Rect{200, 340, 200, 24});
    desktop.app->focusedElement = name;
    auto targeting = desktop.targeting();
    const auto before = desktop.engine.resolver().reader().focused(ScriptedDesktop::pid);
    ASSERT_TRUE(before);
    EXPECT_FALSE(targeting.waitForFocusToMove(before, ScriptedDesktop::pid, 2));
    EXPECT_GE(slept(), 2);
    desktop.app->focusedElement = email;
    EXPECT_TRUE(targeting.waitForFocusToMove(before, ScriptedDesktop::pid, 2));
}

// Check boxes on this desktop hold their state as a number, as toggles do.
TEST_F(ClickingTest, AValueFlipsWhenTheElementAtThePointReadsOtherwise) {
    auto box = desktop.add("AXCheckBox", "Subscribe", Rect{200, 300, 20, 20});
    box->set("AXValue", 0.0);
    auto targeting = desktop.targeting();
    const Point at{210, 310};
    EXPECT_FALSE(targeting.flipped(at, ScriptedDesktop::pid, "0"));
    EXPECT_NEAR(slept(), 1.5, 0.25);
    box->set("AXValue", 1.0);
    EXPECT_TRUE(targeting.flipped(at, ScriptedDesktop::pid, "0"));
}

TEST_F(ClickingTest, AWindowChangesWhenItsElementsDoAndSettlesWithinSixSeconds) {
    auto save = desktop.add("AXButton", "Save", Rect{200, 300, 80, 24});
    auto targeting = desktop.targeting();
    const auto before = driven([&] { return targeting.snapshot(ScriptedDesktop::pid); });
    EXPECT_EQ(before.signature, "AXWindow:Shop|AXWebArea:Shop page|AXButton:Save");

    double start = now();
    EXPECT_FALSE(driven([&] { return targeting.changed(before, ScriptedDesktop::pid, 8); }));
    EXPECT_GE(now() - start, 8);

    save->set("AXTitle", std::string("Saved"));
    EXPECT_TRUE(driven([&] { return targeting.changed(before, ScriptedDesktop::pid, 8); }));

    // A window that never stops changing is waited for six seconds, not for ever.
    int ticks = 0;
    desktop.fake.accessibility.onRead = [&](const fake::FakeAXNodePtr& node, const std::string& attribute) {
        if (node == save && attribute == "AXTitle") save->attributes["AXTitle"] = "Saved " + std::to_string(++ticks);
    };
    start = now();
    driven([&] { targeting.settle(ScriptedDesktop::pid); });
    EXPECT_GE(now() - start, 6);
    EXPECT_LT(now() - start, 9);
}

// The picture alone tells a change that left every element as it was.
TEST_F(ClickingTest, AWindowChangesWhenItsPictureDoes) {
    pictured();
    desktop.add("AXButton", "Play", Rect{200, 300, 80, 24});
    auto targeting = desktop.targeting();
    const auto before = driven([&] { return targeting.snapshot(ScriptedDesktop::pid); });
    ASSERT_TRUE(before.image);
    EXPECT_FALSE(driven([&] { return targeting.changed(before, ScriptedDesktop::pid, 1); }));
    shade = 20;
    EXPECT_TRUE(driven([&] { return targeting.changed(before, ScriptedDesktop::pid, 1); }));
}

TEST_F(ClickingTest, AStopAskedForDuringAWaitEndsItWithTheStopError) {
    int asked = 0;
    Targeting::Callbacks callbacks;
    callbacks.stopped = [&] { return ++asked > 3; };
    auto targeting = desktop.engine.targeting(std::move(callbacks));
    const Targeting::Fingerprint before{"nothing", std::nullopt};
    desktop.fake.accessibility.trusted = true;
    Step step = clickOn("Nowhere");
    EXPECT_EQ(agentErrorOf([&] { targeting.candidates(step, ScriptedDesktop::pid, 10, false); }),
              AgentError::Case::stopped);
    EXPECT_LT(slept(), 1);
    asked = 0;
    EXPECT_EQ(agentErrorOf([&] { targeting.flipped({1, 1}, ScriptedDesktop::pid, "0"); }), AgentError::Case::stopped);
    asked = 0;
    EXPECT_EQ(agentErrorOf([&] { targeting.waitForFocusToMove(std::nullopt, ScriptedDesktop::pid, 5); }),
              AgentError::Case::stopped);
    EXPECT_LT(slept(), 3);
}

TEST_F(ClickingTest, AnAnsweredStepMeansTheWordsItWasGivenOrWhatTheyBegin) {
    auto targeting = desktop.targeting();
    Step step = clickOn("Save");
    const auto draft = element("AXButton", "Save draft", Rect{200, 300, 80, 24});
    const auto save = element("AXButton", "save", Rect{300, 300, 80, 24});
    const auto note = element("AXStaticText", "Save your work often", Rect{200, 400, 300, 20});
    const std::vector<AXElement> all{draft, save, note};

    // A plan's own step keeps every candidate.
    EXPECT_EQ(targeting.meant(all, step), all);
    EXPECT_TRUE(desktop.lines.empty());

    step.fromAnswer = true;
    EXPECT_EQ(targeting.meant(all, step), std::vector<AXElement>{save});
    EXPECT_EQ(targeting.meant({note, draft}, step), std::vector<AXElement>{draft});
    EXPECT_EQ(desktop.lines.back(), "\"Save\" is how AXButton \"Save draft\" begins");

    desktop.lines.clear();
    std::vector<AXElement> others;
    for (int i = 0; i < 6; ++i) others.push_back(element("AXStaticText", "Saved " + std::to_string(i), {}));
    EXPECT_TRUE(targeting.meant(others, step).empty());
    ASSERT_EQ(desktop.lines.size(), 6u);
    EXPECT_EQ(desktop.lines[0], "nothing here is \"Save\"; still looking");
    EXPECT_EQ(desktop.lines[1], "  saw AXStaticText \"Saved 0\"");
    EXPECT_EQ(desktop.lines[5], "  saw AXStaticText \"Saved 4\"");
}

TEST_F(ClickingTest, ANumberPastTheNamesakesTakesTheOneBesideTheNeighbour) {
    desktop.add("AXStaticText", "Alice", Rect{120, 200, 80, 20});
    desktop.add("AXButton", "Edit", Rect{220, 200, 60, 20});
    desktop.add("AXStaticText", "Bob", Rect{120, 400, 80, 20});
    desktop.add("AXButton", "Edit", Rect{220, 400, 60, 20});
    auto targeting = desktop.targeting();
    Step step = clickOn("Edit");
    step.nth = 3;
    step.near = "Bob";

    const auto found = targeting.candidates(step, ScriptedDesktop::pid, 1.5, false);
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front().y, 400);
    EXPECT_GE(slept(), 1.5);
    EXPECT_EQ(desktop.lines.back(), "there is no number 3 \"Edit\" here; took the one beside \"Bob\" instead");

    // Without a neighbour to fall back on there is nothing, and nothing is said.
    step.near.reset();
    desktop.lines.clear();
    EXPECT_TRUE(targeting.candidates(step, ScriptedDesktop::pid, 1.5, false).empty());
    EXPECT_TRUE(desktop.lines.empty());

    Step nameless;
    nameless.action = "click";
    nameless.target = "";
    try {
        targeting.candidates(nameless, ScriptedDesktop::pid, 1.5, false);
        ADD_FAILURE() << "a step without words was searched for";
    } catch (const RecorderError& error) {
        EXPECT_EQ(error.kind(), RecorderError::Case::missingField);
    }
}

TEST_F(ClickingTest, AnElementThatMovedIsAimedAtWhereItIsNow) {
    auto buy = desktop.add("AXButton", "Buy", Rect{200, 300, 80, 20});
    auto targeting = desktop.targeting();
    const auto seen = targeting.candidates(clickOn("Buy"), ScriptedDesktop::pid, 0, false);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(targeting.reaim(clickOn("Buy"), ScriptedDesktop::pid, seen.front(), {240, 310}), std::nullopt);
    buy->frame = Rect{200, 360, 80, 20};
    EXPECT_EQ(targeting.reaim(clickOn("Buy"), ScriptedDesktop::pid, seen.front(), {240, 310}), (Point{240, 370}));
    buy->frame.reset();
    EXPECT_EQ(targeting.reaim(clickOn("Buy"), ScriptedDesktop::pid, seen.front(), {240, 310}), std::nullopt);
}

TEST_F(ClickingTest, PagesAndKinds) {
    EXPECT_TRUE(Targeting::samePage("https://www.Example.com/Shop//", "example.com/shop"));
    EXPECT_TRUE(Targeting::samePage("http://example.com/", "www.example.com"));
    EXPECT_TRUE(Targeting::samePage("HTTPS://example.com", "https://www.example.com/"));
    EXPECT_FALSE(Targeting::samePage("https://example.com/shop", "https://example.com/shop/cart"));
    // Each prefix goes once, in its order: a scheme after "www." stays.
    EXPECT_FALSE(Targeting::samePage("www.https://example.com", "example.com"));

    EXPECT_EQ(Targeting::kind("AXLink"), "link");
    EXPECT_EQ(Targeting::kind("AXPopUpButton"), "button");
    EXPECT_EQ(Targeting::kind("AXMenuButton"), "button");
    EXPECT_EQ(Targeting::kind("AXComboBox"), "input");
    EXPECT_EQ(Targeting::kind("AXTextArea"), "input");
    EXPECT_EQ(Targeting::kind("AXRadioButton"), "checkbox");
    EXPECT_EQ(Targeting::kind("AXMenuItem"), "menuitem");
    EXPECT_EQ(Targeting::kind("AXSwitch"), "AXSwitch");
}

// Two namesakes under a dialog: the first is covered where it would be clicked, so it
// is passed over without a click; the last is clicked whatever lies over it.
TEST_F(ClickingTest, ACoveredCandidateIsMissedAndTheLastIsClickedRegardless) {
    auto first = desktop.add("AXButton", "Edit", Rect{200, 300, 60, 20});
    auto second = desktop.add("AXButton", "Edit", Rect{200, 400, 60, 20});
    // A dialog inside the page, which reads as a window on some desktops.
    desktop.add("AXWindow", "Notice", Rect{150, 250, 400, 300});
    bool edited = false;
    desktop.onClick(second, [&] {
        edited = true;
        desktop.add("AXTextField", "Title", Rect{300, 400, 200, 20});
    });
    desktop.onClick(first, [] { ADD_FAILURE() << "the covered one was clicked"; });
    auto targeting = desktop.targeting();

    EXPECT_TRUE(clicked(targeting, clickOn("Edit")));
    EXPECT_TRUE(edited);
    EXPECT_EQ(desktop.clicks(), (std::vector<Point>{{230, 410}}));
    EXPECT_TRUE(desktop.logged("nobody said which one; going with the plan's guess"));
    EXPECT_TRUE(desktop.logged(
        "clicking AXButton \"Edit\" at 230,310 [60x20 at 200,300, page] for \"Edit\" (1 more in reserve)"));
    EXPECT_TRUE(desktop.logged("something else answers where \"Edit\" is; trying the next candidate"));
}

TEST_F(ClickingTest, ACheckBoxIsProvenByItsValueAlone) {
    auto box = desktop.add("AXCheckBox", "Subscribe", Rect{200, 300, 20, 20});
    box->set("AXValue", 0.0);
    auto targeting = desktop.targeting();

    // Its value stays: nothing happened, said at once rather than after watching the window.
    EXPECT_FALSE(clicked(targeting, clickOn("Subscribe")));
    EXPECT_EQ(desktop.clicks().size(), 1u);
    EXPECT_EQ(desktop.lines.back(), "\"Subscribe\" did not change");
    EXPECT_LT(slept(), 8);

    // It flips, and nothing else on the screen changes.
    desktop.onClick(box, [&] { box->set("AXValue", 1.0); });
    EXPECT_TRUE(clicked(targeting, clickOn("Subscribe")));
}

TEST_F(ClickingTest, AButtonThatOnlyMovesTheFocusWasClicked) {
    auto name = desktop.add("AXTextField", "Name", Rect{200, 300, 200, 24});
    auto next = desktop.add("AXButton", "Next", Rect{200, 400, 80, 24});
    auto email = desktop.add("AXTextField", "Email", Rect{200, 500, 200, 24});
    desktop.app->focusedElement = name;
    desktop.onClick(next, [&] { desktop.app->focusedElement = email; });
    auto targeting = desktop.targeting();
    EXPECT_TRUE(clicked(targeting, clickOn("Next")));
}

// One match that does nothing: one click, no word of reserves or of trying another.
TEST_F(ClickingTest, ASingleMatchThatDoesNothingFailsAfterOneClick) {
    desktop.add("AXButton", "Refresh", Rect{200, 300, 80, 24});
    auto targeting = desktop.targeting();
    EXPECT_FALSE(clicked(targeting, clickOn("Refresh")));
    EXPECT_EQ(desktop.clicks().size(), 1u);
    ASSERT_EQ(desktop.lines.size(), 1u);
    EXPECT_EQ(desktop.lines[0], "clicking AXButton \"Refresh\" at 240,312 [80x24 at 200,300, page] for \"Refresh\"");
}

TEST_F(ClickingTest, ATargetThatSlidesWhileThePointerTravelsIsAimedAtAgainOnce) {
    // With a namesake in reserve, the moved one is also checked for reach where it now is.
    auto buy = desktop.add("AXButton", "Buy", Rect{200, 300, 80, 20});
    desktop.add("AXButton", "Buy", Rect{200, 500, 80, 20});
    bool slid = false;
    auto react = desktop.fake.events.onPost;
    desktop.fake.events.onPost = [&, react](const fake::PostedEvent& event) {
        react(event);
        // A banner loads above it while the pointer is on its way.
        if (!slid && event.kind == fake::PostedEvent::Kind::mouse) {
            slid = true;
            buy->frame = Rect{200, 360, 80, 20};
        }
    };
    desktop.onClick(buy, [&] { desktop.add("AXStaticText", "Added to cart", Rect{400, 300, 100, 20}); });
    auto targeting = desktop.targeting();

    EXPECT_TRUE(clicked(targeting, clickOn("Buy")));
    EXPECT_EQ(desktop.clicks(), (std::vector<Point>{{240, 370}}));
    EXPECT_EQ(
        std::ranges::count(desktop.lines, std::string("\"Buy\" moved while the pointer was travelling; aiming again")),
        1);
}

TEST_F(ClickingTest, AnAnswerWhoseClickDoesNothingIsForgotten) {
    desktop.add("AXButton", "Export", Rect{200, 300, 80, 24});
    auto& corrections = desktop.engine.corrections();
    corrections.remember(ScriptedDesktop::appID, "Download", Correction{"Export", "AXButton", "", {}, {}, {}, true});
    auto targeting = desktop.targeting();
    EXPECT_FALSE(clicked(targeting, clickOn("Download")));
    EXPECT_TRUE(desktop.logged(
        "\"Export\" was the remembered answer for \"Download\" and clicking it did nothing - forgetting it"));
    EXPECT_FALSE(corrections.knows(ScriptedDesktop::appID, "Download"));
}

TEST_F(ClickingTest, AStopDuringTheWaitForAnEffectEndsTheClick) {
    desktop.add("AXButton", "Refresh", Rect{200, 300, 80, 24});
    Targeting::Callbacks callbacks;
    callbacks.stopped = [&] { return !desktop.clicks().empty(); };
    auto targeting = desktop.engine.targeting(std::move(callbacks));
    EXPECT_EQ(agentErrorOf([&] { clicked(targeting, clickOn("Refresh")); }), AgentError::Case::stopped);
    EXPECT_LT(slept(), 8);
}

TEST_F(ClickingTest, BackIsTheBrowsersOwnButtonNotALinkOnThePage) {
    // The page's own button ranks first: it is the smaller.
    desktop.add("AXButton", "Back", Rect{200, 300, 60, 20});
    auto back = desktop.window->add("AXButton", "Back", Rect{110, 110, 80, 40});
    desktop.onClick(back, [&] { desktop.page->set("AXTitle", std::string("Previous page")); });
    auto targeting = desktop.targeting();
    EXPECT_TRUE(
        driven([&] { return targeting.clickBack(clickOn("Back"), ScriptedDesktop::pid, std::nullopt, false); }));
    EXPECT_EQ(desktop.clicks(), (std::vector<Point>{{150, 130}}));
    EXPECT_TRUE(desktop.logged("going back"));
}

TEST_F(ClickingTest, AClickThatWorkedWhileRecordingIsNotedWhereItLandedInTheTake) {
    pictured();
    auto save = desktop.add("AXButton", "Save", Rect{200, 300, 80, 24});
    desktop.onClick(save, [&] { desktop.add("AXStaticText", "Saved", Rect{300, 300, 80, 20}); });
    auto& recorder = desktop.engine.recorder();
    Recorder::StartParams params;
    // The part of the screen the window is on, so that points are placed in the take.
    params.target.kind = Target::Kind::display;
    params.target.rect = desktop.frame;
    params.output = desktop.fake.paths.tempDir() / "take.mov";
    driven([&] { recorder.start(params); });
    auto targeting = desktop.targeting();

    EXPECT_TRUE(driven([&] { return targeting.click(clickOn("Save"), ScriptedDesktop::pid, "Save it", true); }));
    const auto events = recorder.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].action, "click");
    EXPECT_EQ(events[0].label, "Save it");
    EXPECT_EQ(events[0].at, (Point{140, 212}));
    driven([&] { recorder.stop(); });
}

} // namespace
