#include "capture/Input.h"
#include "capture/RecorderError.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vanto {
namespace {

using Kind = fake::PostedEvent::Kind;

class InputTest : public ::testing::Test {
protected:
    std::vector<fake::PostedEvent>& events() { return desktop.events.events; }
    std::vector<fake::PostedEvent> ofKind(Kind kind) {
        std::vector<fake::PostedEvent> found;
        for (const auto& e : events())
            if (e.kind == kind) found.push_back(e);
        return found;
    }
    std::string unknownKeyOf(const std::vector<std::string>& keys) {
        try {
            input.press(keys);
        } catch (const RecorderError& error) {
            EXPECT_EQ(error.kind(), RecorderError::Case::unknownKey);
            return error.what();
        }
        return "(pressed)";
    }

    fake::FakePlatform desktop;
    Input input{desktop.events, desktop.clock, desktop.permissions, desktop.pointer};
};

TEST_F(InputTest, aMoveWithoutUsableDurationPostsTwoEventsAndWaitsNot) {
    for (double duration : {0.0, -1.0, std::nan(""), -std::numeric_limits<double>::infinity()}) {
        events().clear();
        desktop.pointer.at = {10, 10};
        double before = desktop.clock.now();
        input.move({110, 60}, duration);
        ASSERT_EQ(events().size(), 2u) << duration;
        EXPECT_EQ(events()[0].mouse, MouseEventType::moved);
        EXPECT_EQ(events()[0].at, (Point{60, 35})); // half way: e(0.5) is 0.5
        EXPECT_EQ(events()[1].at, (Point{110, 60}));
        EXPECT_EQ(desktop.clock.now(), before);
    }
}

TEST_F(InputTest, aLongMoveIsCappedAt60SecondsIn7200EasedSteps) {
    desktop.pointer.at = {0, 0};
    double before = desktop.clock.now();
    input.move({1000, 500}, 100);
    EXPECT_NEAR(desktop.clock.now() - before, 60, 1e-6);
    ASSERT_EQ(events().size(), 7200u);
    EXPECT_EQ(events().back().at, (Point{1000, 500}));
    // Eased: slow at the ends, fast in the middle, never backwards.
    for (size_t i = 1; i < events().size(); ++i) ASSERT_GE(events()[i].at.x, events()[i - 1].at.x);
    double firstStep = events()[1].at.x - events()[0].at.x;
    double middleStep = events()[3600].at.x - events()[3599].at.x;
    EXPECT_LT(firstStep * 100, middleStep);

    events().clear();
    input.move({0, 0}, 0.4);
    EXPECT_EQ(events().size(), 48u);
}

TEST_F(InputTest, clickWithAPointSettlesFirstAndHoldsTheButton40ms) {
    double before = desktop.clock.now();
    input.click(Point{200, 300}, MouseButton::right, 0.12);
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[0].mouse, MouseEventType::rightDown);
    EXPECT_EQ(events()[1].mouse, MouseEventType::rightUp);
    EXPECT_EQ(events()[0].clickState, 1);
    EXPECT_EQ(events()[1].at, (Point{200, 300}));
    EXPECT_NEAR(events()[0].time - before, 0.12, 1e-9);
    EXPECT_NEAR(events()[1].time - events()[0].time, 0.04, 1e-9);

    events().clear();
    desktop.pointer.at = {5, 6};
    before = desktop.clock.now();
    input.click(std::nullopt, MouseButton::left, 30);
    EXPECT_NEAR(events()[0].time, before, 1e-9); // no settle without a point
    EXPECT_EQ(events()[0].mouse, MouseEventType::leftDown);
    EXPECT_EQ(events()[0].at, (Point{5, 6}));
}

TEST_F(InputTest, aCancelledClickStillReleasesTheButton) {
    desktop.clock.setAutoAdvance(false);
    std::stop_source stop;
    std::jthread canceller([&] {
        desktop.clock.waitForSleepers(1); // the 40 ms hold
        stop.request_stop();
    });
    EXPECT_THROW(input.click(std::nullopt, MouseButton::left, 0, stop.get_token()), Cancelled);
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[1].mouse, MouseEventType::leftUp);
}

TEST_F(InputTest, chordsPressTheKeyWithFlagsThenReleaseEachModifier) {
    for (auto keys : {"Cmd+Shift+T", "cmd+shift+t", "COMMAND+SHIFT+t"}) {
        events().clear();
        input.press({keys});
        ASSERT_EQ(events().size(), 6u) << keys;
        EXPECT_EQ(events()[0].kind, Kind::key);
        EXPECT_EQ(events()[0].keyCode, 17);
        EXPECT_TRUE(events()[0].down);
        EXPECT_FALSE(events()[1].down);
        EXPECT_EQ(events()[0].flags, modifier::command | modifier::shift);
        EXPECT_FALSE(events()[0].text);
        std::vector<std::uint16_t> released;
        for (size_t i = 2; i < 6; ++i) {
            EXPECT_EQ(events()[i].kind, Kind::flagsChanged);
            EXPECT_EQ(events()[i].flags, 0u);
            released.push_back(events()[i].keyCode);
        }
        EXPECT_EQ(released, (std::vector<std::uint16_t>{55, 54, 56, 60}));
    }
    events().clear();
    input.press({"ctrl+alt+a"});
    std::vector<std::uint16_t> released;
    for (const auto& e : ofKind(Kind::flagsChanged)) released.push_back(e.keyCode);
    EXPECT_EQ(released, (std::vector<std::uint16_t>{58, 61, 59, 62})); // option before control
}

TEST_F(InputTest, plainKeysCarryTheirCharacterAndChordsDoNot) {
    input.press({"enter"});
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[0].keyCode, 36);
    EXPECT_EQ(events()[0].text, "\r");
    EXPECT_EQ(events()[1].text, "\r");
    events().clear();
    input.press({"shift+enter"});
    EXPECT_EQ(events()[0].keyCode, 36);
    EXPECT_FALSE(events()[0].text);
    events().clear();
    input.press({"a"}, modifier::control); // held from outside counts as a chord
    EXPECT_EQ(events()[0].flags, modifier::control);
    EXPECT_EQ(ofKind(Kind::flagsChanged).size(), 2u);
    events().clear();
    input.press({"cmd+shift+."});
    EXPECT_EQ(events()[0].keyCode, 47);
    events().clear();
    double before = desktop.clock.now();
    input.press({"esc", "backspace", "space", "tab"});
    EXPECT_NEAR(desktop.clock.now() - before, 0.24, 1e-9); // 60 ms after every key
    EXPECT_EQ(events()[0].text, "\x1b");
    EXPECT_EQ(events()[2].keyCode, 51);
    EXPECT_EQ(events()[2].text, "\b");
}

TEST_F(InputTest, unknownKeysNameTheCallersStringAndStopTheSequence) {
    EXPECT_EQ(unknownKeyOf({"f5"}), "unknown key: f5");
    EXPECT_EQ(unknownKeyOf({"Hyper+A"}), "unknown key: Hyper+A");
    EXPECT_EQ(unknownKeyOf({""}), "unknown key: ");
    EXPECT_EQ(unknownKeyOf({"+"}), "unknown key: +");
    EXPECT_EQ(unknownKeyOf({"++"}), "unknown key: ++");
    EXPECT_EQ(unknownKeyOf({"PageDown"}), "unknown key: PageDown");
    events().clear();
    EXPECT_EQ(unknownKeyOf({"a", "bogus", "b"}), "unknown key: bogus");
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[0].keyCode, 0);
}

TEST_F(InputTest, typingPostsOneKeyPairPerPerceivedCharacter) {
    // A family emoji joins four people with zero-width joiners; é here is e + combining accent.
    std::string family =
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7\xE2\x80\x8D\xF0\x9F\x91\xA6";
    std::string text = "h" + family + "e\xCC\x81日";
    double before = desktop.clock.now();
    input.type(text, 0); // a rate below 1 types one character a second
    ASSERT_EQ(events().size(), 8u);
    EXPECT_EQ(events()[2].text, family);
    EXPECT_EQ(events()[3].text, family);
    EXPECT_TRUE(events()[2].down);
    EXPECT_FALSE(events()[3].down);
    EXPECT_EQ(events()[4].text, "e\xCC\x81");
    EXPECT_EQ(events()[6].text, "日");
    for (const auto& e : events()) {
        EXPECT_EQ(e.keyCode, 0);
        EXPECT_EQ(e.flags, 0u);
    }
    EXPECT_NEAR(desktop.clock.now() - before, 4, 1e-9);
    events().clear();
    input.type("", 12);
    EXPECT_TRUE(events().empty());
}

TEST_F(InputTest, scrollDeltasAddUpExactlyWhateverTheSteps) {
    input.scroll(101, 0, 0);
    auto wheel = ofKind(Kind::scroll);
    ASSERT_EQ(wheel.size(), 2u);
    EXPECT_EQ(wheel[0].vertical + wheel[1].vertical, -101);
    events().clear();
    input.scroll(-600, 37, 0.6);
    wheel = ofKind(Kind::scroll);
    EXPECT_EQ(wheel.size(), 36u);
    int vertical = 0, horizontal = 0;
    for (const auto& e : wheel) {
        vertical += e.vertical;
        horizontal += e.horizontal;
    }
    EXPECT_EQ(vertical, 600);
    EXPECT_EQ(horizontal, 37);
}

TEST_F(InputTest, nothingIsPostedWithoutAccessibilityTrust) {
    desktop.permissions.accessibility = false;
    EXPECT_THROW(input.move({1, 1}, 0), RecorderError);
    EXPECT_THROW(input.click(std::nullopt, MouseButton::left, 0), RecorderError);
    EXPECT_THROW(input.type("x", 10), RecorderError);
    EXPECT_THROW(input.press({"a"}), RecorderError);
    EXPECT_THROW(input.scroll(1, 1, 0), RecorderError);
    EXPECT_THROW(input.newWindow(7), RecorderError);
    EXPECT_TRUE(events().empty());
}

TEST_F(InputTest, newWindowSendsCommandNToOneProcess) {
    input.newWindow(4321);
    ASSERT_EQ(events().size(), 2u);
    EXPECT_EQ(events()[0].kind, Kind::keyToProcess);
    EXPECT_EQ(events()[0].pid, 4321);
    EXPECT_EQ(events()[0].keyCode, 45);
    EXPECT_EQ(events()[0].flags, modifier::command);
    EXPECT_TRUE(ofKind(Kind::flagsChanged).empty());
}

TEST(TypingSpeed, unsetOrNotPositiveIs30ElseRoundedIntoRange) {
    EXPECT_EQ(typingSpeed(std::nullopt), 30);
    EXPECT_EQ(typingSpeed(0), 30);
    EXPECT_EQ(typingSpeed(-5), 30);
    EXPECT_EQ(typingSpeed(2), 4);
    EXPECT_EQ(typingSpeed(12.6), 13);
    EXPECT_EQ(typingSpeed(500), 80);
}

TEST(KeyTapTest, swallowsWhatItsCallbackAsksForAndStopsOnce) {
    fake::FakeKeyListener listener;
    {
        KeyTap tap(listener, [](std::uint16_t code, const std::string&) { return code == 53; });
        EXPECT_FALSE(listener.press(53, "\x1b")); // not started yet
        ASSERT_TRUE(tap.start());
        EXPECT_TRUE(listener.press(53, "\x1b"));
        EXPECT_FALSE(listener.press(0, "a"));
        tap.stop();
        tap.stop();
        EXPECT_EQ(listener.stops, 1);
        EXPECT_FALSE(listener.press(53, "\x1b"));
        ASSERT_TRUE(tap.start());
    }
    EXPECT_EQ(listener.stops, 2); // released while running: stopped
    listener.available = false;
    KeyTap refused(listener, [](std::uint16_t, const std::string&) { return true; });
    EXPECT_FALSE(refused.start());
}

} // namespace
} // namespace vanto
