// Scrolling toward targets on the scripted desktop: a window 600 points high at y 100
// (middle 400, pages of 510) whose page moves by each wheel amount once scrollable.

#include "ScriptedDesktop.h"

#include "plan/AgentError.h"

#include <gtest/gtest.h>

using namespace vanto;
using vanto::testing::ScriptedDesktop;

namespace {

constexpr std::int32_t pid = ScriptedDesktop::pid;

std::vector<AXElement> find(ScriptedDesktop& desktop, const std::string& text, bool unclipped = true) {
    return desktop.engine.resolver().find(FindParams{.pid = pid, .text = text, .limit = 9, .unclipped = unclipped});
}

bool inView(const AXElement& e, const ScriptedDesktop& desktop) {
    return Targeting::isFullyInView(Rect{double(e.x), double(e.y), double(e.width), double(e.height)}, desktop.frame);
}

Step stepFor(const std::string& action, std::optional<std::string> target, std::optional<std::int64_t> dy = {}) {
    Step step;
    step.action = action;
    step.target = std::move(target);
    step.dy = dy;
    return step;
}

TEST(Scrolling, FullyInViewKeepsClearOfAMarginOfASixthOfTheWindowUpTo64Points) {
    const Rect small{0, 0, 400, 300}, tall{0, 0, 400, 900};
    EXPECT_FALSE(Targeting::isFullyInView({10, 49, 100, 10}, small)); // margins of 50
    EXPECT_TRUE(Targeting::isFullyInView({10, 50, 100, 10}, small));
    EXPECT_TRUE(Targeting::isFullyInView({10, 240, 100, 10}, small));
    EXPECT_FALSE(Targeting::isFullyInView({10, 241, 100, 10}, small));
    EXPECT_FALSE(Targeting::isFullyInView({10, 0, 100, 10}, tall)); // margins of 64, not 150
    EXPECT_TRUE(Targeting::isFullyInView({10, 64, 100, 10}, tall));
    EXPECT_TRUE(Targeting::isFullyInView({10, 826, 100, 10}, tall));
    // Too tall to clear both margins: in view when it fits; taller than the window: always.
    EXPECT_TRUE(Targeting::isFullyInView({10, 0, 100, 250}, small));
    EXPECT_FALSE(Targeting::isFullyInView({10, -1, 100, 250}, small));
    EXPECT_TRUE(Targeting::isFullyInView({10, -500, 100, 900}, tall));
}

TEST(Scrolling, OnlyWhatIsOutOfViewAndOffTheMiddleIsScrolledForWithThePointerOverTheWindow) {
    ScriptedDesktop desktop; // a page that does not move
    desktop.add("AXButton", "Pay", {200, 1500, 80, 20});
    auto targeting = desktop.targeting();
    // Poking past the bottom edge but only 5 points below the middle.
    EXPECT_EQ(targeting.bringIntoView({120, 107.5, 200, 595}, pid), std::nullopt);
    EXPECT_EQ(desktop.scrolledDown(), 0);
    // A 10-point element at the top edge: scrolled up, from the top of the page.
    EXPECT_EQ(targeting.bringIntoView({120, 100, 200, 10}, pid), -295);
    EXPECT_EQ(desktop.fake.pointer.position(), (Point{500, 400}));
    EXPECT_EQ(desktop.engine.scrollTrace().state().travelled, 0);
    // What scrolling does not move is scrolled for once, not round after round.
    auto pay = find(desktop, "Pay").at(0);
    EXPECT_EQ(targeting.broughtIntoView(pay, pid), pay);
    EXPECT_EQ(desktop.scrolledDown(), -295 + 1110);
    // Longer than one gesture goes: all the way, in several.
    targeting.scrollBy(25000, std::nullopt);
    EXPECT_EQ(desktop.scrolledDown(), 815 + 25000);
    EXPECT_EQ(desktop.engine.scrollTrace().state().travelled, 26110);
}

TEST(Scrolling, AnElementIsBroughtFullyIntoViewAndFoundAgainAmongNamesakes) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    for (double y : {250, 1500, 2500}) desktop.add("AXButton", "Edit", {200, y, 80, 20});
    auto targeting = desktop.targeting();
    auto edit = targeting.broughtIntoView(find(desktop, "Edit").at(1), pid);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"scrolling \"Edit\" into view"});
    EXPECT_EQ(edit.y, 390);
    EXPECT_EQ(desktop.engine.scrollTrace().state().travelled, 1110);

    // A sluggish page moves with every other wheel event only: scrolled for again, told once.
    ScriptedDesktop sluggish;
    sluggish.makeScrollable();
    int wheel = 0;
    sluggish.fake.events.onPost = [&, moves = sluggish.fake.events.onPost](const fake::PostedEvent& event) {
        if (event.kind != fake::PostedEvent::Kind::scroll || ++wheel % 2 == 0) moves(event);
    };
    sluggish.add("AXButton", "Pay", {200, 1500, 80, 20});
    auto onSluggish = sluggish.targeting();
    EXPECT_TRUE(inView(onSluggish.broughtIntoView(find(sluggish, "Pay").at(0), pid), sluggish));
    EXPECT_EQ(sluggish.lines, std::vector<std::string>{"scrolling \"Pay\" into view"});
}

TEST(Scrolling, TheBrowsersOwnControlsAreNeverScrolledForButACutOffPageElementIs) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    desktop.add("AXButton", "Reload", {110, 102, 30, 10}, desktop.window); // in the top margin
    desktop.add("AXButton", "Checkout", {200, 690, 80, 40});               // half below the edge
    desktop.add("AXStaticText", "Terms", {200, 5000, 80, 20});             // a long page
    auto targeting = desktop.targeting();
    auto reload = find(desktop, "Reload", false).at(0);
    EXPECT_EQ(targeting.broughtIntoView(reload, pid), reload);
    EXPECT_EQ(desktop.scrolledDown(), 0);
    // Cut to its visible part, it reads as outside the page; it reaches past the window.
    auto checkout = find(desktop, "Checkout", false).at(0);
    ASSERT_FALSE(checkout.inPage);
    EXPECT_EQ(targeting.broughtIntoView(checkout, pid).y, 380);
}

TEST(Scrolling, HuntingPagesDownUntilTheTargetShowsButNotPastTheEndOfThePage) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    for (int i = 0; i < 80; ++i)
        desktop.add("AXStaticText", "line " + std::to_string(i), {200, 800.0 + 100 * i, 300, 20});
    desktop.add("AXButton", "Subscribe", {200, 1530, 100, 20});
    auto targeting = desktop.targeting();
    EXPECT_EQ(targeting.lookByScrolling(stepFor("click", "Subscribe"), "Subscribe", pid).at(0).y, 510);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"found \"Subscribe\" after scrolling 2 screen(s)"});
    EXPECT_TRUE(targeting.lookByScrolling(stepFor("click", "Careers"), "Careers", pid).empty());
    EXPECT_EQ(desktop.scrolledDown(), 1020 + 10 * 510);
    // A page that does not move has no more below: one screen, then nothing.
    ScriptedDesktop still;
    auto onStill = still.targeting();
    EXPECT_TRUE(onStill.lookByScrolling(stepFor("click", "Careers"), "Careers", pid).empty());
    EXPECT_EQ(still.scrolledDown(), 510);
}

TEST(Scrolling, ScrollingToATargetPastTheFoldSaysWhereItWent) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    desktop.add("AXLink", "Pricing", {200, 2000, 60, 20});
    auto targeting = desktop.targeting();
    const auto pricing = Targeting::Wanted::from(stepFor("click", "Pricing"));
    const auto careers = Targeting::Wanted::from(stepFor("click", "Careers"));
    EXPECT_EQ(targeting.scrollTo(pricing, pid).value_or(AXElement{}).y, 390);
    EXPECT_EQ(targeting.scrollTo(careers, pid), std::nullopt);
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{"scrolling \"Pricing\" into view",
                                                       "scrolled to \"Pricing\", which was off screen",
                                                       "nothing past the fold answers to \"Careers\""}));
}

TEST(Scrolling, APlannedScrollGoesUntilItsTargetIsNearTheMiddleOrItsDistance) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    desktop.add("AXButton", "Reviews", {200, 1560, 100, 20});
    desktop.add("AXButton", "Ratings", {200, 1660, 100, 20});
    auto targeting = desktop.targeting();
    // Missed twice, then found 150 below the middle: centred. Then one found 100 below: left.
    EXPECT_TRUE(targeting.scroll(stepFor("scroll", "Reviews"), pid, std::nullopt, false));
    EXPECT_TRUE(targeting.scroll(stepFor("scroll", "Ratings"), pid, std::nullopt, false));
    EXPECT_EQ(desktop.scrolledDown(), 510 + 510 + 150);
    // Without a target: a page, or the step's own distance.
    EXPECT_TRUE(targeting.scroll(stepFor("scroll", std::nullopt), pid, std::nullopt, false));
    EXPECT_TRUE(targeting.scroll(stepFor("scroll", std::nullopt, -200), pid, std::nullopt, false));
    EXPECT_EQ(desktop.engine.scrollTrace().state(), (ScrollTrace::State{1480, true}));
    // Twelve misses, each with its scroll: the trace no longer says where the page is.
    EXPECT_FALSE(targeting.scroll(stepFor("scroll", "Newsletter", 100), pid, std::nullopt, false));
    EXPECT_EQ(desktop.engine.scrollTrace().state(), (ScrollTrace::State{2680, false}));
}

TEST(Scrolling, AWindowIsRestoredOrOpenedForAStep) {
    ScriptedDesktop desktop;
    auto targeting = desktop.targeting();
    targeting.escalate(Targeting::Escalation::restoreMinimizedWindows, pid, "Shop"); // none minimised
    desktop.window->set(ax::minimized, true);
    targeting.escalate(Targeting::Escalation::restoreMinimizedWindows, pid, "Shop");
    EXPECT_EQ(desktop.window->attributes[ax::minimized], AXValue(false));
    targeting.escalate(Targeting::Escalation::openNewWindow, pid, "Shop");
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{"Shop was minimized; restoring it",
                                                       "Shop has no window on this desktop; opening one here"}));
    ASSERT_FALSE(desktop.fake.events.events.empty());
    EXPECT_EQ(desktop.fake.events.events.front().kind, fake::PostedEvent::Kind::keyToProcess);
}

TEST(Scrolling, AStopWhileTheWheelTurnsEndsTheRun) {
    ScriptedDesktop desktop;
    std::stop_source stop;
    desktop.fake.events.onPost = [&](const fake::PostedEvent& event) {
        if (event.kind == fake::PostedEvent::Kind::scroll) stop.request_stop();
    };
    Targeting::Callbacks callbacks;
    callbacks.stop = stop.get_token();
    auto targeting = desktop.engine.targeting(std::move(callbacks));
    try {
        targeting.lookByScrolling(stepFor("click", "Subscribe"), "Subscribe", pid);
        ADD_FAILURE() << "went on after the stop";
    } catch (const AgentError& error) {
        EXPECT_EQ(error.kind(), AgentError::Case::stopped) << error.what();
    }
    EXPECT_EQ(desktop.engine.scrollTrace().state().travelled, 0);
}

} // namespace
