// Scrolling toward targets on the scripted desktop: a window 600 points high at y 100
// whose page moves by each wheel amount once made scrollable.

#include "ScriptedDesktop.h"

#include "plan/AgentError.h"

#include <gtest/gtest.h>

#include <stop_token>

using namespace vanto;
using vanto::testing::ScriptedDesktop;

namespace {

constexpr std::int32_t pid = ScriptedDesktop::pid;

// What a find in the whole window (visible part or not) answers for text.
std::vector<AXElement> unclipped(ScriptedDesktop& desktop, const std::string& text) {
    return desktop.engine.resolver().find(FindParams{.pid = pid, .text = text, .limit = 9, .unclipped = true});
}

// What a find in the visible part of the window answers for text.
std::vector<AXElement> visible(ScriptedDesktop& desktop, const std::string& text) {
    return desktop.engine.resolver().find(FindParams{.pid = pid, .text = text, .limit = 9});
}

std::int64_t travelled(ScriptedDesktop& desktop) {
    return desktop.engine.scrollTrace().state().travelled;
}

TEST(Scrolling, FullyInViewKeepsClearOfAMarginOfASixthOfTheWindowUpTo64Points) {
    const Rect small{0, 0, 400, 300}, tall{0, 0, 400, 900};
    // 300 points high: a margin of 50 at the top and at the bottom.
    EXPECT_FALSE(Targeting::isFullyInView({10, 49, 100, 10}, small));
    EXPECT_TRUE(Targeting::isFullyInView({10, 50, 100, 10}, small));
    EXPECT_TRUE(Targeting::isFullyInView({10, 240, 100, 10}, small));
    EXPECT_FALSE(Targeting::isFullyInView({10, 241, 100, 10}, small));
    // 900 points high: 64, not a sixth.
    EXPECT_FALSE(Targeting::isFullyInView({10, 63, 100, 10}, tall));
    EXPECT_TRUE(Targeting::isFullyInView({10, 64, 100, 10}, tall));
    EXPECT_TRUE(Targeting::isFullyInView({10, 826, 100, 10}, tall));
    // A 10-point element at the very top edge sits inside the margin.
    EXPECT_FALSE(Targeting::isFullyInView({10, 0, 100, 10}, tall));
    // Too tall to clear both margins: in view when it fits the window at all.
    EXPECT_TRUE(Targeting::isFullyInView({10, 0, 100, 250}, small));
    EXPECT_FALSE(Targeting::isFullyInView({10, -1, 100, 250}, small));
    // As tall as the window or taller: as much in view as it can ever be.
    EXPECT_TRUE(Targeting::isFullyInView({10, -500, 100, 900}, tall));
}

TEST(Scrolling, BringingIntoViewCentresWhatIsOutOfViewAndLeavesWhatIsCloseToTheMiddle) {
    ScriptedDesktop desktop; // middle at y 400
    auto targeting = desktop.targeting();
    // Too tall to clear the margins and poking past the bottom edge, but only 5 points
    // below the middle: no scrolling would do better.
    EXPECT_EQ(targeting.bringIntoView({120, 107.5, 200, 595}, pid), std::nullopt);
    EXPECT_EQ(targeting.bringIntoView({120, 300, 200, 40}, pid), std::nullopt); // in view
    EXPECT_EQ(desktop.scrolledDown(), 0);

    // Inside the top margin: scrolled up until its middle is the window's.
    EXPECT_EQ(targeting.bringIntoView({120, 100, 200, 10}, pid), -295);
    EXPECT_EQ(desktop.scrolledDown(), -295);
    // Before the pointer scrolls it goes to the middle of the window, so the wheel
    // turns what is there.
    EXPECT_EQ(desktop.fake.pointer.position(), (Point{500, 400}));
    // Up from the top of the page: the trace stays at 0.
    EXPECT_EQ(travelled(desktop), 0);

    EXPECT_EQ(targeting.bringIntoView({120, 1500, 200, 20}, pid), 1110);
    EXPECT_EQ(travelled(desktop), 1110);
}

TEST(Scrolling, ScrollingByADistanceLongerThanOneGestureGoesAllTheWay) {
    ScriptedDesktop desktop;
    auto targeting = desktop.targeting();
    targeting.scrollBy(25000, std::nullopt);
    EXPECT_EQ(desktop.scrolledDown(), 25000);
    targeting.scrollBy(-26000, std::nullopt);
    EXPECT_EQ(desktop.scrolledDown(), -1000);
    EXPECT_EQ(travelled(desktop), 0);
}

TEST(Scrolling, AnElementBelowTheFoldIsBroughtFullyIntoViewAndFoundWhereItWent) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    // Namesakes before and after the one scrolled for, in reading order.
    desktop.add("AXButton", "Edit", {200, 250, 80, 20});
    desktop.add("AXButton", "Edit", {200, 1500, 80, 20});
    desktop.add("AXButton", "Edit", {200, 2500, 80, 20});
    auto targeting = desktop.targeting();
    auto all = unclipped(desktop, "Edit");
    ASSERT_EQ(all.size(), 3u);
    ASSERT_EQ(all[1].y, 1500);

    auto inView = targeting.broughtIntoView(all[1], pid);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"scrolling \"Edit\" into view"});
    EXPECT_EQ(inView.y, 390); // its middle at the window's
    EXPECT_EQ(desktop.scrolledDown(), 1110);
    EXPECT_EQ(travelled(desktop), 1110);
    EXPECT_TRUE(Targeting::isFullyInView({static_cast<double>(inView.x), static_cast<double>(inView.y),
                                          static_cast<double>(inView.width), static_cast<double>(inView.height)},
                                         desktop.frame));
}

TEST(Scrolling, AnElementTheScrollLeftShortIsScrolledForAgainAndAnnouncedOnce) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    // A sluggish page: it moves with only every other wheel event.
    auto moves = desktop.fake.events.onPost;
    int wheel = 0;
    desktop.fake.events.onPost = [&](const fake::PostedEvent& event) {
        if (event.kind != fake::PostedEvent::Kind::scroll || ++wheel % 2 == 0) moves(event);
    };
    desktop.add("AXButton", "Pay", {200, 1500, 80, 20});
    auto targeting = desktop.targeting();
    auto inView = targeting.broughtIntoView(unclipped(desktop, "Pay").at(0), pid);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"scrolling \"Pay\" into view"});
    EXPECT_TRUE(Targeting::isFullyInView({static_cast<double>(inView.x), static_cast<double>(inView.y),
                                          static_cast<double>(inView.width), static_cast<double>(inView.height)},
                                         desktop.frame));
}

TEST(Scrolling, WhatTheScrollingCannotMoveIsScrolledForOnce) {
    ScriptedDesktop desktop; // the page does not move
    desktop.add("AXButton", "Pay", {200, 1500, 80, 20});
    auto targeting = desktop.targeting();
    auto pay = unclipped(desktop, "Pay").at(0);
    EXPECT_EQ(targeting.broughtIntoView(pay, pid), pay);
    EXPECT_EQ(desktop.scrolledDown(), 1110);
}

TEST(Scrolling, TheBrowsersOwnControlsAreNeverScrolledForButACutOffPageElementIs) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    desktop.add("AXButton", "Reload", {110, 102, 30, 10}, desktop.window); // in the toolbar's margin
    desktop.add("AXButton", "Checkout", {200, 690, 80, 40});               // half below the edge
    for (int i = 0; i < 40; ++i)
        desktop.add("AXStaticText", "line " + std::to_string(i), {200, 800.0 + 100 * i, 300, 20});
    auto targeting = desktop.targeting();

    auto reload = visible(desktop, "Reload");
    ASSERT_EQ(reload.size(), 1u);
    ASSERT_FALSE(reload.front().inPage);
    EXPECT_EQ(targeting.broughtIntoView(reload.front(), pid), reload.front());
    EXPECT_EQ(desktop.scrolledDown(), 0);

    // Found in the window, it is cut to its visible part and reads as outside the page.
    auto checkout = visible(desktop, "Checkout");
    ASSERT_EQ(checkout.size(), 1u);
    ASSERT_FALSE(checkout.front().inPage);
    auto inView = targeting.broughtIntoView(checkout.front(), pid);
    EXPECT_EQ(desktop.scrolledDown(), 310);
    EXPECT_EQ(inView.y, 380);
    EXPECT_TRUE(inView.inPage);
}

// A long page: a line every 100 points from 800 down to 8,700.
void fillPage(ScriptedDesktop& desktop) {
    for (int i = 0; i < 80; ++i)
        desktop.add("AXStaticText", "line " + std::to_string(i), {200, 800.0 + 100 * i, 300, 20});
}

Step clickOn(const std::string& target) {
    Step step;
    step.action = "click";
    step.target = target;
    return step;
}

Step scrollStep(std::optional<std::string> target = std::nullopt, std::optional<std::int64_t> dy = std::nullopt) {
    Step step;
    step.action = "scroll";
    step.target = std::move(target);
    step.dy = dy;
    return step;
}

TEST(Scrolling, HuntingPagesDownUntilTheTargetShowsAndNotPastTheEndOfThePage) {
    ScriptedDesktop desktop; // pages of 510 points
    desktop.makeScrollable();
    fillPage(desktop);
    desktop.add("AXButton", "Subscribe", {200, 1530, 100, 20}); // two screens down
    auto targeting = desktop.targeting();
    auto found = targeting.lookByScrolling(clickOn("Subscribe"), "Subscribe", pid);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().y, 510);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"found \"Subscribe\" after scrolling 2 screen(s)"});
    EXPECT_EQ(travelled(desktop), 1020);

    // Not on the page at all: ten screens, then nothing.
    EXPECT_TRUE(targeting.lookByScrolling(clickOn("Unsubscribe"), "Unsubscribe", pid).empty());
    EXPECT_EQ(desktop.scrolledDown(), 1020 + 5100);

    // A page that does not move has nothing further down: one screen, then nothing.
    ScriptedDesktop still;
    fillPage(still);
    auto onStill = still.targeting();
    EXPECT_TRUE(onStill.lookByScrolling(clickOn("Subscribe"), "Subscribe", pid).empty());
    EXPECT_EQ(still.scrolledDown(), 510);
    EXPECT_TRUE(still.lines.empty());
}

TEST(Scrolling, ScrollingToATargetPastTheFoldSaysWhereItWent) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    desktop.add("AXLink", "Pricing", {200, 2000, 60, 20});
    auto targeting = desktop.targeting();
    Targeting::Wanted wanted;
    wanted.text = "Pricing";
    auto pricing = targeting.scrollTo(wanted, pid);
    ASSERT_TRUE(pricing);
    EXPECT_EQ(pricing->y, 390);
    EXPECT_EQ(desktop.lines, (std::vector<std::string>{"scrolling \"Pricing\" into view",
                                                       "scrolled to \"Pricing\", which was off screen"}));

    desktop.lines.clear();
    wanted.text = "Careers";
    EXPECT_EQ(targeting.scrollTo(wanted, pid), std::nullopt);
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"nothing past the fold answers to \"Careers\""});
    EXPECT_EQ(desktop.scrolledDown(), 1610);
}

TEST(Scrolling, APlannedScrollGoesUntilItsTargetIsNearTheMiddleOrItsDistance) {
    ScriptedDesktop desktop; // pages of 510 points, middle at 400
    desktop.makeScrollable();
    desktop.add("AXButton", "Reviews", {200, 1560, 100, 20});
    desktop.add("AXButton", "Ratings", {200, 1660, 100, 20});
    auto targeting = desktop.targeting();
    // Missed twice, then found 150 below the middle: centred.
    EXPECT_TRUE(targeting.scroll(scrollStep("Reviews"), pid, std::nullopt, false));
    EXPECT_EQ(desktop.scrolledDown(), 510 + 510 + 150);
    // Found at once 100 below the middle: near enough, left there.
    EXPECT_TRUE(targeting.scroll(scrollStep("Ratings"), pid, std::nullopt, false));
    EXPECT_EQ(desktop.scrolledDown(), 1170);

    // Without a target: a page, or the step's own distance.
    EXPECT_TRUE(targeting.scroll(scrollStep(), pid, std::nullopt, false));
    EXPECT_TRUE(targeting.scroll(scrollStep(std::nullopt, -200), pid, std::nullopt, false));
    EXPECT_EQ(desktop.scrolledDown(), 1170 + 510 - 200);
    EXPECT_EQ(desktop.engine.scrollTrace().state(), (ScrollTrace::State{1480, true}));

    // Twelve misses, each followed by its scroll: the trace no longer says where the page is.
    EXPECT_FALSE(targeting.scroll(scrollStep("Newsletter", 100), pid, std::nullopt, false));
    EXPECT_EQ(desktop.scrolledDown(), 1480 + 1200);
    EXPECT_EQ(desktop.engine.scrollTrace().state(), (ScrollTrace::State{2680, false}));
}

TEST(Scrolling, AWindowIsRestoredOrOpenedForAStep) {
    ScriptedDesktop desktop;
    auto targeting = desktop.targeting();
    targeting.escalate(Targeting::Escalation::restoreMinimizedWindows, pid, "Shop");
    EXPECT_TRUE(desktop.lines.empty()); // nothing was minimised

    desktop.window->set(ax::minimized, true);
    targeting.escalate(Targeting::Escalation::restoreMinimizedWindows, pid, "Shop");
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"Shop was minimized; restoring it"});
    EXPECT_EQ(desktop.window->attributes[ax::minimized], AXValue(false));

    desktop.lines.clear();
    targeting.escalate(Targeting::Escalation::openNewWindow, pid, "Shop");
    EXPECT_EQ(desktop.lines, std::vector<std::string>{"Shop has no window on this desktop; opening one here"});
    ASSERT_FALSE(desktop.fake.events.events.empty());
    const auto& chord = desktop.fake.events.events.front();
    EXPECT_EQ(chord.kind, fake::PostedEvent::Kind::keyToProcess);
    EXPECT_EQ(chord.pid, pid);
}

TEST(Scrolling, AStoppedRunScrollsNoFurther) {
    ScriptedDesktop desktop;
    desktop.makeScrollable();
    std::stop_source stop;
    Targeting::Callbacks callbacks;
    callbacks.stop = stop.get_token();
    auto targeting = desktop.engine.targeting(std::move(callbacks));
    stop.request_stop();
    auto isStopped = [](const AgentError& error) { return error.kind() == AgentError::Case::stopped; };
    for (auto run : std::vector<std::function<void()>>{
             [&] { targeting.lookByScrolling(clickOn("Subscribe"), "Subscribe", pid); },
             [&] { targeting.scroll(scrollStep("Subscribe"), pid, std::nullopt, false); },
             [&] { targeting.scrollBy(300, std::nullopt); },
         }) {
        try {
            run();
            ADD_FAILURE() << "went on after the stop";
        } catch (const AgentError& error) {
            EXPECT_TRUE(isStopped(error)) << error.what();
        }
    }
    EXPECT_EQ(desktop.scrolledDown(), 0);

    // Stopped while the wheel turns.
    ScriptedDesktop turning;
    std::stop_source midway;
    auto moves = turning.fake.events.onPost;
    turning.fake.events.onPost = [&](const fake::PostedEvent& event) {
        moves(event);
        if (event.kind == fake::PostedEvent::Kind::scroll) midway.request_stop();
    };
    Targeting::Callbacks stoppable;
    stoppable.stop = midway.get_token();
    auto scrolling = turning.engine.targeting(std::move(stoppable));
    try {
        scrolling.scrollBy(300, std::nullopt);
        ADD_FAILURE() << "went on after the stop";
    } catch (const AgentError& error) {
        EXPECT_TRUE(isStopped(error)) << error.what();
    }
}

} // namespace
