// The picker on the fake desktop: a parked main thread, the question's task, and the
// test pressing keys and moving the pointer as the person would, on a clock that moves
// only when the test says so.

#include "targets/Picker.h"

#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

using namespace vanto;
using fake::FakeAccessibility;
using fake::FakeAXNodePtr;

namespace {

constexpr std::int32_t appPID = 501;
constexpr std::uint16_t letterA = 0;

class PickerTest : public testing::Test {
protected:
    PickerTest() {
        desktop.clock.setAutoAdvance(false);
        app = ax.addApplication(appPID, "Browser");
        window = ax.addWindow(app, "Shop", Rect{0, 0, 1000, 800});
        // A browser's page: with web content in it the reader takes its snapshot at once.
        page = window->add("AXWebArea", "Shop page", Rect{0, 100, 1000, 700});
        auto save = page->add("AXButton", "Save", Rect{600, 400, 80, 24});
        save->add("AXStaticText", "Save", Rect{610, 404, 40, 16});

        std::promise<void> parked;
        desktop.mainThread.post([&] { parked.set_value(); });
        mainLoop = std::jthread([this] { desktop.mainThread.park(); });
        parked.get_future().wait();
    }

    ~PickerTest() override { desktop.mainThread.quit(); }

    std::unique_ptr<Picker> newPicker() {
        Picker::Log log{[this](const std::string& line) { progress.push_back(line); },
                        [this](const std::string& line) { record.push_back(line); }};
        return std::make_unique<Picker>(
            Picker::Seams{desktop.mainThread, desktop.clock, desktop.ui, desktop.keys, desktop.pointer, resolver},
            std::move(log));
    }

    // Opens the question on its own task and returns once it is open: the task then
    // waits on the clock.
    std::future<Picker::Outcome> asking(Picker& picker, std::int32_t pid = appPID, std::stop_token stop = {}) {
        const int sleeps = desktop.clock.sleeps();
        auto answer =
            std::async(std::launch::async, [&picker, pid, stop] { return picker.ask("Which Save?", pid, stop); });
        desktop.clock.waitForSleeps(sleeps + 1);
        return answer;
    }

    // Lets the clock move on and waits until the question's task has done what it does
    // at the new time (it sleeps again, or it has answered) and everything it handed to
    // the main thread has run.
    void advance(double seconds, std::future<Picker::Outcome>& answer) {
        const int sleeps = desktop.clock.sleeps();
        desktop.clock.advance(seconds);
        for (int tries = 0; tries < 20'000 && desktop.clock.sleeps() == sleeps; ++tries)
            if (answer.wait_for(std::chrono::milliseconds(1)) == std::future_status::ready) break;
        desktop.mainThread.run([] {});
    }

    static Picker::Outcome answerOf(std::future<Picker::Outcome>& answer) {
        // A bound in real time only so that a fault fails rather than hangs.
        if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            ADD_FAILURE() << "no answer";
            std::terminate();
        }
        return answer.get();
    }

    std::optional<fake::FakeUi::PickerPanel> panel() {
        std::optional<fake::FakeUi::PickerPanel> shown;
        desktop.mainThread.run([&] { shown = desktop.ui.picker; });
        return shown;
    }

    fake::FakePlatform desktop;
    FakeAccessibility ax;
    AXResolver resolver{ax, desktop.processes, desktop.clock};
    FakeAXNodePtr app;
    FakeAXNodePtr window;
    FakeAXNodePtr page;
    std::vector<std::string> progress;
    std::vector<std::string> record;
    std::jthread mainLoop;
};

AXElement element(const std::string& role, const std::string& text, std::int64_t x, std::int64_t y, std::int64_t width,
                  std::int64_t height) {
    return *AXElement::withFrame(role, text, static_cast<double>(x), static_cast<double>(y), static_cast<double>(width),
                                 static_cast<double>(height));
}

} // namespace

TEST_F(PickerTest, SpaceOverTextInAButtonPicksTheSmallestElementThereAndSaysSo) {
    desktop.pointer.at = {620, 410};
    auto picker = newPicker();
    auto answer = asking(*picker);
    EXPECT_FALSE(desktop.keys.press(letterA, "a")) << "other keys go on to the application";
    EXPECT_TRUE(desktop.keys.press(Picker::spaceKey, " "));

    const auto outcome = answerOf(answer);
    const auto* picked = std::get_if<Picker::Picked>(&outcome);
    ASSERT_NE(picked, nullptr);
    EXPECT_EQ(picked->element.role, "AXStaticText");
    EXPECT_EQ(picked->element.text, "Save");
    EXPECT_EQ(progress, (std::vector<std::string>{"pointed at AXStaticText \"Save\" [40x16 at 610,404, page]",
                                                  "picker: picked \"Save\" at 620,410"}));
    EXPECT_TRUE(record.empty());
}

TEST_F(PickerTest, SpaceOverAContainersBackgroundOrAnUnreadableApplicationIsUnnamed) {
    struct Case {
        std::int32_t pid;
        Point pointer;
    };
    for (const Case& c : {Case{appPID, {300, 50}},   // the window, above the page
                          Case{appPID, {300, 500}},  // the page's empty background
                          Case{4242, {620, 410}}}) { // this program's own pid: nothing may be read
        SCOPED_TRACE(c.pid);
        record.clear();
        desktop.pointer.at = c.pointer;
        auto picker = newPicker();
        auto answer = asking(*picker, c.pid);
        desktop.keys.press(Picker::spaceKey, " ");
        const auto outcome = answerOf(answer);
        EXPECT_EQ(outcome, Picker::Outcome{Picker::Unnamed{c.pointer}});
        const std::string at =
            std::to_string(static_cast<int>(c.pointer.x)) + "," + std::to_string(static_cast<int>(c.pointer.y));
        EXPECT_EQ(record, (std::vector<std::string>{"picker: nothing findable under " + at +
                                                    " - nothing there worth remembering"}));
    }
    EXPECT_TRUE(progress.empty());
}

TEST_F(PickerTest, EscapeOrAStoppedRunCancelsAndTakesThePanelAwayAtOnce) {
    const double start = desktop.clock.now();
    auto picker = newPicker();
    auto answer = asking(*picker);
    const auto shown = panel();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->question, "Which Save?");
    EXPECT_EQ(shown->hint, "Point at it and press Space — or Escape to let the run decide.");

    EXPECT_TRUE(desktop.keys.press(Picker::escapeKey, "\x1b"));
    EXPECT_EQ(answerOf(answer), Picker::Outcome{Picker::Cancelled{}});
    EXPECT_FALSE(desktop.ui.picker);
    EXPECT_FALSE(desktop.keys.press(Picker::escapeKey, "\x1b")) << "Escape belongs to the application again";
    EXPECT_EQ(desktop.clock.now(), start);

    std::stop_source stop;
    auto stopped = newPicker();
    auto stoppedAnswer = asking(*stopped, appPID, stop.get_token());
    stop.request_stop();
    EXPECT_EQ(answerOf(stoppedAnswer), Picker::Outcome{Picker::Cancelled{}});
    EXPECT_FALSE(desktop.ui.picker);

    // Nobody can answer without the keys: the run decides at once, and says why.
    desktop.keys.available = false;
    auto deaf = newPicker();
    EXPECT_EQ(deaf->ask("Which Save?", appPID), Picker::Outcome{Picker::Cancelled{}});
    EXPECT_FALSE(desktop.ui.picker);
    EXPECT_EQ(record, (std::vector<std::string>{"picker: cannot listen for Space and Escape; the run decides"}));
}

TEST_F(PickerTest, FortyFiveSecondsWithoutAKeyTimeOut) {
    auto patient = newPicker();
    auto answer = asking(*patient);
    advance(44.9, answer);
    EXPECT_TRUE(panel()) << "still asking";
    desktop.keys.press(Picker::escapeKey, "\x1b");
    EXPECT_EQ(answerOf(answer), Picker::Outcome{Picker::Cancelled{}});

    auto unanswered = newPicker();
    auto timedOut = asking(*unanswered);
    desktop.clock.advance(45);
    EXPECT_EQ(answerOf(timedOut), Picker::Outcome{Picker::TimedOut{}});
    EXPECT_FALSE(desktop.ui.picker);
    EXPECT_FALSE(desktop.keys.press(Picker::spaceKey, " "));
}

TEST_F(PickerTest, ASecondKeyAfterTheAnswerDoesNothing) {
    desktop.pointer.at = {620, 410};
    auto picker = newPicker();
    auto answer = asking(*picker);
    // All three presses arrive before the main thread gets to the first.
    std::promise<void> release;
    desktop.mainThread.post([waiting = release.get_future().share()] { waiting.wait(); });
    EXPECT_TRUE(desktop.keys.press(Picker::spaceKey, " "));
    EXPECT_TRUE(desktop.keys.press(Picker::spaceKey, " "));
    EXPECT_TRUE(desktop.keys.press(Picker::escapeKey, "\x1b"));
    release.set_value();

    const auto outcome = answerOf(answer);
    ASSERT_TRUE(std::holds_alternative<Picker::Picked>(outcome));
    EXPECT_EQ(progress.size(), 2u);
    EXPECT_FALSE(desktop.keys.press(Picker::spaceKey, " "));
    desktop.mainThread.run([] {});
    EXPECT_EQ(progress.size(), 2u);
}

TEST_F(PickerTest, TheReadingFollowsThePointerAndChangesOnlyWithWhatIsUnderIt) {
    desktop.pointer.at = {620, 410};
    auto picker = newPicker();
    auto answer = asking(*picker);
    auto shown = panel();
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->reading, "▸ AXStaticText \"Save\"");
    EXPECT_EQ(shown->readingColour, UiColour::secondary);

    desktop.pointer.at = {625, 412}; // the same label
    advance(Picker::lookInterval, answer);
    desktop.pointer.at = {300, 50};
    advance(Picker::lookInterval, answer);
    desktop.pointer.at = {1200, 900}; // off the window
    advance(Picker::lookInterval, answer);
    EXPECT_EQ(panel()->reading, "▸ nothing here at 1200,900");
    EXPECT_EQ(desktop.ui.readings, (std::vector<std::string>{"▸ AXStaticText \"Save\"", "▸ AXWindow \"Shop\"",
                                                             "▸ nothing here at 1200,900"}));

    desktop.keys.press(Picker::escapeKey, "\x1b");
    answerOf(answer);
}

TEST(PickerDistinct, AContainerRepeatingTheWordsOfSomethingInsideItCountsOnce) {
    const std::vector<AXElement> elements{
        element("AXButton", "Save", 600, 400, 80, 24),
        element("AXStaticText", "save", 610, 404, 40, 16), // inside, same words: the button goes
        element("AXButton", "Save all changes", 100, 400, 200, 24),
        element("AXStaticText", "Save", 110, 404, 40, 16), // inside, fewer words: both stay
        element("AXGroup", "Export", 0, 600, 400, 100),
        element("AXButton", "Export as PDF", 10, 610, 120, 24), // inside, more words: the group goes
        element("AXLink", "Save", 900, 400, 40, 16),            // same words, elsewhere: stays
        element("AXButton", "Open", 900, 500, 60, 20),
        element("AXStaticText", "Open", 900, 500, 60, 20), // neither is smaller: both stay
    };
    std::vector<std::string> kept;
    for (const auto& e : Picker::distinct(elements)) kept.push_back(e.role + " " + e.text);
    EXPECT_EQ(kept, (std::vector<std::string>{"AXStaticText save", "AXButton Save all changes", "AXStaticText Save",
                                              "AXButton Export as PDF", "AXLink Save", "AXButton Open",
                                              "AXStaticText Open"}));
}
