// Clicking a target on the scripted desktop: where a click is aimed, how its effect is
// proven (a value, the focus, the window), and what is said along the way.

#include "ScriptedDesktop.h"

#include "plan/AgentError.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>

using namespace vanto;
using vanto::testing::ScriptedDesktop;

namespace {

constexpr auto pid = ScriptedDesktop::pid;

Step clickOn(const std::string& target) {
    Step step;
    step.action = "click";
    step.target = target;
    return step;
}

AXElement element(const std::string& role, const std::string& text, Rect at) {
    return *AXElement::withFrame(role, text, at.x, at.y, at.width, at.height);
}

class ClickingTest : public ::testing::Test {
protected:
    // Clicks picture the window under a deadline: see ScriptedDesktop::driven.
    template <class Act> auto driven(Act act) { return desktop.driven(act); }
    bool clicked(const Step& step, bool recording = false) {
        return driven([&] { return targeting.click(step, pid, "Do it", recording); });
    }
    // Where a click would have an effect that shows in the tree.
    void answers(const fake::FakeAXNodePtr& node) {
        desktop.onClick(node, [this] { desktop.add("AXStaticText", "Done", Rect{600, 600, 80, 20}); });
    }
    double slept() { return desktop.fake.clock.slept(); }

    ScriptedDesktop desktop;
    Targeting targeting = desktop.targeting();
};

// The first Edit lies under a dialog of the page (which reads as a window on some
// desktops): it is passed over without a click. The last is clicked under one too.
TEST_F(ClickingTest, ACoveredCandidateIsMissedAndTheLastIsClickedRegardless) {
    auto first = desktop.add("AXButton", "Edit", Rect{200, 300, 60, 20});
    auto second = desktop.add("AXButton", "Edit", Rect{200, 400, 60, 20});
    desktop.add("AXWindow", "Notice", Rect{150, 250, 400, 300});
    answers(second);
    desktop.onClick(first, [] { ADD_FAILURE() << "the covered one was clicked"; });
    EXPECT_TRUE(clicked(clickOn("Edit")));
    EXPECT_EQ(desktop.clicks().size(), 1u);
    EXPECT_TRUE(desktop.logged("nobody said which one; going with the plan's guess"));
    EXPECT_TRUE(desktop.logged(
        "clicking AXButton \"Edit\" at 230,310 [60x20 at 200,300, page] for \"Edit\" (1 more in reserve)"));
    EXPECT_TRUE(desktop.logged("something else answers where \"Edit\" is; trying the next candidate"));
}

// Check boxes here hold their state as a number, as toggles do. A click that worked
// while recording is noted in the take where it landed.
TEST_F(ClickingTest, ACheckBoxIsProvenByItsValueAlone) {
    auto box = desktop.add("AXCheckBox", "Subscribe", Rect{200, 300, 20, 20});
    box->set("AXValue", 0.0);
    EXPECT_FALSE(clicked(clickOn("Subscribe")));
    EXPECT_EQ(desktop.lines.back(), "\"Subscribe\" did not change");
    EXPECT_LT(slept(), 8); // said at once, without watching the window

    Recorder::StartParams take;
    take.target.kind = Target::Kind::display;
    take.target.rect = desktop.frame;
    take.output = desktop.fake.paths.tempDir() / "take.mov";
    driven([&] { desktop.engine.recorder().start(take); });
    desktop.onClick(box, [&] { box->set("AXValue", 1.0); });
    EXPECT_TRUE(clicked(clickOn("Subscribe"), true));
    const auto events = desktop.engine.recorder().events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].label, "Do it");
    EXPECT_EQ(events[0].at, (Point{110, 210}));
    driven([&] { desktop.engine.recorder().stop(); });
}

TEST_F(ClickingTest, FocusThatMovesProvesAClick) {
    auto name = desktop.add("AXTextField", "Name", Rect{200, 300, 200, 24});
    auto next = desktop.add("AXButton", "Next", Rect{200, 400, 80, 24});
    auto email = desktop.add("AXTextField", "Email", Rect{200, 500, 200, 24});
    desktop.app->focusedElement = name;
    desktop.onClick(next, [&] { desktop.app->focusedElement = email; });
    EXPECT_TRUE(clicked(clickOn("Next")));

    // The same field seen from the other side of the page boundary is another focus.
    const Focus field{"AXTextField", "hi", Rect{10, 10, 100, 20}, true};
    EXPECT_TRUE(Targeting::focusMoved(field, Focus{"AXTextField", "hi", Rect{10, 10, 100, 20}, false}));
    EXPECT_FALSE(Targeting::focusMoved(field, field));
}

// One match that does nothing: one click, no word of reserves or of trying another. An
// answer remembered for the words that does nothing is forgotten.
TEST_F(ClickingTest, AClickThatDoesNothingFailsAndForgetsTheAnswerBehindIt) {
    desktop.add("AXButton", "Refresh", Rect{200, 300, 80, 24});
    EXPECT_FALSE(clicked(clickOn("Refresh")));
    EXPECT_EQ(desktop.clicks().size(), 1u);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{
                                 "clicking AXButton \"Refresh\" at 240,312 [80x24 at 200,300, page] for \"Refresh\""});

    auto& corrections = desktop.engine.corrections();
    corrections.remember(ScriptedDesktop::appID, "Reload", Correction{"Refresh", "AXButton", "", {}, {}, {}, true});
    EXPECT_FALSE(clicked(clickOn("Reload")));
    EXPECT_TRUE(desktop.logged(
        "\"Refresh\" was the remembered answer for \"Reload\" and clicking it did nothing - forgetting it"));
    EXPECT_FALSE(corrections.knows(ScriptedDesktop::appID, "Reload"));

    // An answer that no longer answers did not choose the one match clicked instead: it
    // is not blamed for that click doing nothing.
    corrections.remember(ScriptedDesktop::appID, "Refresh", Correction{"Gone", "AXButton", "", {}, {}, {}, true});
    desktop.lines.clear();
    EXPECT_FALSE(clicked(clickOn("Refresh")));
    EXPECT_TRUE(desktop.logged("\"Gone\" answered \"Refresh\" earlier, and nothing on this screen answers to it now"));
    EXPECT_FALSE(desktop.logged("\"Refresh\" was the remembered answer for \"Refresh\" and clicking it did nothing - forgetting it"));
    EXPECT_TRUE(corrections.knows(ScriptedDesktop::appID, "Refresh"));
}

// A banner loads above the first Buy while the pointer is on its way; the second Buy in
// reserve makes the moved one be checked for reach where it now is.
TEST_F(ClickingTest, ATargetThatSlidesWhileThePointerTravelsIsAimedAtAgainOnce) {
    auto buy = desktop.add("AXButton", "Buy", Rect{200, 300, 80, 20});
    desktop.add("AXButton", "Buy", Rect{200, 500, 80, 20});
    auto react = desktop.fake.events.onPost;
    desktop.fake.events.onPost = [&, react](const fake::PostedEvent& event) {
        react(event);
        if (event.kind == fake::PostedEvent::Kind::mouse) buy->frame = Rect{200, 360, 80, 20};
    };
    answers(buy);
    EXPECT_TRUE(clicked(clickOn("Buy")));
    EXPECT_EQ(desktop.clicks(), (std::vector<Point>{{240, 370}}));
    EXPECT_EQ(std::ranges::count(desktop.lines, "\"Buy\" moved while the pointer was travelling; aiming again"), 1);
}

// A link broken over two lines: the middle of its bounding box shows the paragraph's words.
TEST_F(ClickingTest, AWideLinkWhoseMiddleIsAGapIsAimedAQuarterOrHalfAlong) {
    auto paragraph = desktop.add("AXGroup", "", Rect{150, 290, 500, 60});
    desktop.add("AXLink", "Read the whole release notes for 2.4", Rect{200, 300, 400, 40}, paragraph);
    paragraph->add("AXGroup", std::nullopt, Rect{150, 310, 500, 20});
    const auto link = element("AXLink", "Read the whole release notes for 2.4", Rect{200, 300, 400, 40});
    EXPECT_EQ(targeting.aim(link, pid), (Point{300, 330}));
    ASSERT_FALSE(desktop.lines.empty());
    EXPECT_EQ(desktop.lines.back(),
              "aiming at 300,330 - the middle of \"Read the whole release notes f\" is not part of it");
    paragraph->add("AXGroup", std::nullopt, Rect{150, 290, 170, 60});
    EXPECT_EQ(targeting.aim(link, pid), (Point{400, 330}));
}

TEST_F(ClickingTest, ANumberPastTheNamesakesTakesTheOneBesideTheNeighbour) {
    desktop.add("AXStaticText", "Alice", Rect{120, 200, 80, 20});
    desktop.add("AXButton", "Edit", Rect{220, 200, 60, 20});
    desktop.add("AXStaticText", "Bob", Rect{120, 400, 80, 20});
    answers(desktop.add("AXButton", "Edit", Rect{220, 400, 60, 20}));
    Step step = clickOn("Edit");
    step.nth = 3;
    step.near = "Bob";
    EXPECT_TRUE(clicked(step));
    EXPECT_EQ(desktop.clicks(), (std::vector<Point>{{250, 410}}));
    EXPECT_TRUE(desktop.logged("there is no number 3 \"Edit\" here; took the one beside \"Bob\" instead"));
}

TEST_F(ClickingTest, AnAnsweredStepMeansItsWordsOrWhatTheyBegin) {
    Step step = clickOn("Save");
    const auto draft = element("AXButton", "Save draft", {});
    const auto save = element("AXButton", "save", {});
    const auto note = element("AXStaticText", "Save your work", {});
    step.fromAnswer = true;
    EXPECT_EQ(targeting.meant({draft, save, note}, step), std::vector<AXElement>{save});
    EXPECT_EQ(targeting.meant({note, draft}, step), std::vector<AXElement>{draft});
    EXPECT_EQ(desktop.lines.back(), "\"Save\" is how AXButton \"Save draft\" begins");
    EXPECT_TRUE(targeting.meant({note}, step).empty());
    EXPECT_EQ(desktop.lines.back(), "  saw AXStaticText \"Save your work\"");
}

// The picture alone tells a change that left every element as it was.
TEST_F(ClickingTest, AWindowChangesWhenItsPictureDoes) {
    std::uint8_t shade = 128;
    desktop.fake.capture.addWindow(ScriptedDesktop::windowNumber, RectD{100, 100, 800, 600}, "Shop", pid);
    desktop.fake.capture.paint = [&](const ContentFilter&, const StreamConfiguration& size) {
        return CapturedImage{size.width, size.height,
                             std::vector<std::uint8_t>(static_cast<std::size_t>(size.width * size.height) * 4, shade)};
    };
    const auto before = driven([&] { return targeting.snapshot(pid); });
    ASSERT_TRUE(before.image);
    EXPECT_FALSE(driven([&] { return targeting.changed(before, pid, 1); }));
    shade = 20;
    EXPECT_TRUE(driven([&] { return targeting.changed(before, pid, 1); }));
}

TEST_F(ClickingTest, AStopDuringTheWaitForAnEffectEndsTheClick) {
    desktop.add("AXButton", "Refresh", Rect{200, 300, 80, 24});
    Targeting::Callbacks callbacks;
    callbacks.stopped = [&] { return !desktop.clicks().empty(); };
    auto stopping = desktop.engine.targeting(std::move(callbacks));
    try {
        driven([&] { return stopping.click(clickOn("Refresh"), pid, std::nullopt, false); });
        ADD_FAILURE() << "the click went on";
    } catch (const AgentError& error) {
        EXPECT_EQ(error.kind(), AgentError::Case::stopped);
    }
    EXPECT_LT(slept(), 8);
}

TEST_F(ClickingTest, PagesAndKinds) {
    EXPECT_TRUE(Targeting::samePage("https://www.Example.com/Shop//", "example.com/shop"));
    EXPECT_TRUE(Targeting::samePage("http://example.com/", "www.example.com"));
    EXPECT_FALSE(Targeting::samePage("https://example.com/shop", "https://example.com/shop/cart"));
    EXPECT_FALSE(Targeting::samePage("www.https://example.com", "example.com")); // each prefix once, in order
    EXPECT_EQ(Targeting::kind("AXRadioButton"), "checkbox");
}

} // namespace
