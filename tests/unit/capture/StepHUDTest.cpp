#include "capture/StepHUD.h"
#include "capture/RecordingIndicator.h"
#include "platform/EventSink.h"
#include "platform/fake/FakeCapture.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vanto {
namespace {

using Phase = RecordingIndicator::Phase;

TEST(RecordingIndicator, showsEachPhasesWordColourAndTooltip) {
    fake::FakeUi ui;
    RecordingIndicator indicator(ui);
    struct Expected {
        Phase phase;
        const char* title;
        UiColour colour;
        const char* tooltip;
    };
    for (const auto& e :
         {Expected{Phase::planning, "◐ Planning", UiColour::yellow, "vanto is planning; nothing is recorded yet"},
          Expected{Phase::recording, "● REC", UiColour::red, "vanto is recording"},
          Expected{Phase::saving, "◼ Saving", UiColour::orange, "vanto is writing the take to disk"},
          Expected{Phase::uploading, "▲ Uploading", UiColour::green,
                   "vanto is uploading the take; the run is not done yet"}}) {
        const double before = ui.ran;
        indicator.show(e.phase);
        ASSERT_TRUE(ui.indicator);
        EXPECT_EQ(ui.indicator->title, e.title);
        EXPECT_EQ(ui.indicator->colour, e.colour);
        EXPECT_EQ(ui.indicator->tooltip, e.tooltip);
        EXPECT_DOUBLE_EQ(ui.ran - before, 0.05);
        EXPECT_EQ(indicator.phase(), e.phase);
    }
    indicator.hide();
    EXPECT_FALSE(ui.indicator);
    EXPECT_FALSE(indicator.phase());
}

TEST(StepHUD, theCaptionCarriesThePhaseAndTheBarIsClamped) {
    fake::FakeUi ui;
    StepHUD hud(ui);
    hud.show(Phase::recording, "step 2 of 5", "Click Save", 0.4);
    ASSERT_TRUE(ui.panel);
    EXPECT_EQ(ui.panel->caption, "● REC   step 2 of 5");
    EXPECT_EQ(ui.panel->captionColour, UiColour::red);
    EXPECT_EQ(ui.panel->message, "Click Save");
    EXPECT_DOUBLE_EQ(ui.panel->fill, 0.4);
    EXPECT_EQ(ui.panel->fillColour, UiColour::red);
    hud.show(Phase::planning, "", "Thinking", 1.7);
    EXPECT_DOUBLE_EQ(ui.panel->fill, 1.0);
    EXPECT_EQ(ui.panel->caption, "◐ Planning   ");
    EXPECT_EQ(ui.panel->fillColour, UiColour::yellow);
    hud.show(Phase::saving, "", "", -0.2);
    EXPECT_DOUBLE_EQ(ui.panel->fill, 0.0);
    EXPECT_DOUBLE_EQ(StepHUD::filled(std::nan("")), 0.0);
}

TEST(StepHUD, stoppingHappensOnceWhicheverWayItIsAsked) {
    fake::FakeUi ui;
    StepHUD hud(ui);
    int stops = 0;
    hud.allowStopping([&] { ++stops; });
    EXPECT_EQ(ui.controlTitle, "Stop  ⌘⌥.");
    EXPECT_TRUE(ui.controlEnabled);
    EXPECT_TRUE(ui.monitoring);
    ui.pressKeys(modifier::command, ".");
    ui.pressKeys(modifier::command | modifier::option, ",");
    EXPECT_EQ(stops, 0);
    ui.pressKeys(modifier::command | modifier::option | modifier::shift, ".");
    ui.pressKeys(modifier::command | modifier::option, ".");
    ui.pressStop();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(ui.controlTitle, "Stopping…");
    EXPECT_FALSE(ui.controlEnabled);
    EXPECT_FALSE(hud.stoppingArmed());

    hud.allowStopping([&] { stops += 10; });
    ui.pressStop();
    ui.pressStop();
    EXPECT_EQ(stops, 11);
}

TEST(StepHUD, suspendingHoldsTheButtonAndTheShortcutUntilResumed) {
    fake::FakeUi ui;
    StepHUD hud(ui);
    hud.suspendStopping("Saving the take");
    EXPECT_FALSE(ui.controlTitle); // nothing to suspend before stopping is allowed
    int stops = 0;
    hud.allowStopping([&] { ++stops; });
    hud.suspendStopping("Saving the take");
    EXPECT_EQ(ui.controlTitle, "Saving the take");
    EXPECT_FALSE(ui.controlEnabled);
    EXPECT_FALSE(ui.monitoring) << "the shortcut is still watched while stopping cannot happen";
    ui.pressStop();
    ui.pressKeys(modifier::command | modifier::option, ".");
    EXPECT_EQ(stops, 0);
    hud.resumeStopping();
    EXPECT_EQ(ui.controlTitle, "Stop  ⌘⌥.");
    EXPECT_TRUE(ui.controlEnabled);
    EXPECT_TRUE(ui.monitoring);
    ui.pressKeys(modifier::command | modifier::option, ".");
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(ui.monitoring) << "the shortcut is still watched after stopping began";
}

TEST(StepHUD, hidingDisarmsStopping) {
    fake::FakeUi ui;
    ui.windowIDs = {11, 12};
    StepHUD hud(ui);
    int stops = 0;
    hud.show(Phase::recording, "1 of 1", "Go", 0);
    hud.allowStopping([&] { ++stops; });
    EXPECT_EQ(hud.windowIDs(), (std::vector<std::uint32_t>{11, 12}));
    hud.hide();
    EXPECT_FALSE(ui.panel);
    EXPECT_FALSE(ui.monitoring);
    ui.pressKeys(modifier::command | modifier::option, ".");
    ui.pressStop();
    EXPECT_EQ(stops, 0);
    hud.resumeStopping();
    EXPECT_FALSE(ui.controlTitle);
}

} // namespace
} // namespace vanto
