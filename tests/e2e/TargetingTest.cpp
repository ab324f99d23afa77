// Clicking targets named in words on the real desktop, through the engine as a run
// does it: a Chromium page (tests/e2e/pages/targeting.html) and the GTK test
// application, the picker's panel answering a Space pressed through XTest, and the
// identifiers under which answers are remembered. What the clicks did is read back
// from the applications themselves (the page's title, the test application's lines),
// never from the targeting's own account of it.

#include "Harness.h"

#include "engine/Engine.h"
#include "platform/JsonFileDefaults.h"
#include "platform/linux/LinuxPlatform.h"
#include "targets/AXAccess.h"
#include "targets/CorrectionStore.h"
#include "targets/Picker.h"
#include "targets/Targeting.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <exception>
#include <fstream>
#include <functional>
#include <future>
#include <iostream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Xlib last: its macros (None, Bool, Status…) must not meet the headers above.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace vanto::e2e;

namespace {

constexpr int left = 200, top = 40, width = 1000, height = 760;

std::string pageURL() {
    return "file://" VANTO_SOURCE_DIR "/tests/e2e/pages/targeting.html";
}

vanto::Step clickOn(const std::string& target, std::optional<std::string> role = std::nullopt) {
    vanto::Step step;
    step.action = "click";
    step.target = target;
    step.role = std::move(role);
    return step;
}

// An environment variable set while this lives, then put back.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// A home folder of the test's own: the engine keeps its defaults (the remembered
// answers) and its run log there.
class OwnHome {
public:
    OwnHome() : home_("HOME", folder_.path().string()) {
        for (const char* name : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "VANTO_CONFIG"}) ::unsetenv(name);
    }
    std::filesystem::path defaultsFile() const {
        return folder_.path() / ".config" / "vanto" / vanto::JsonFileDefaults::fileName;
    }

private:
    TempDir folder_{"vanto-e2e-home"};
    ScopedVariable home_;
};

// The program's engine on the real desktop with the desktop application's panels, as
// the window holds it: this thread serves as the main thread while the steps run on
// one of their own.
class Desk {
public:
    Desk() : panels_(vanto::makeDesktopPanels(backend_.runLoop())), platform_(withPanels()), engine(platform_) {}
    // What the targeting said stays in the test's output, passed or failed.
    ~Desk() {
        if (!lines_.empty()) std::cout << "targeting said:" << log() << "\n";
    }

    vanto::Platform& platform() { return platform_; }

    // A targeting whose lines are kept; with ask, questions go to it.
    vanto::Targeting targeting(std::function<vanto::Picker::Outcome(const std::string&, std::int32_t)> ask = nullptr) {
        vanto::Targeting::Callbacks callbacks;
        callbacks.log = [this](const std::string& line) { keep(line); };
        callbacks.ask = std::move(ask);
        return engine.targeting(std::move(callbacks));
    }

    void keep(const std::string& line) {
        std::lock_guard lock(mutex_);
        lines_.push_back(line);
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool logged(const std::string& line) {
        auto all = lines();
        return std::find(all.begin(), all.end(), line) != all.end();
    }
    bool loggedStart(const std::string& start) {
        auto all = lines();
        return std::any_of(all.begin(), all.end(), [&](const std::string& line) { return line.starts_with(start); });
    }
    // Every line, for failure messages.
    std::string log() {
        std::string text;
        for (const auto& line : lines()) text += "\n  vanto: " + line;
        return text;
    }

    // Runs the steps on their own thread while this one serves as the main thread.
    void run(const std::function<void()>& steps) {
        std::exception_ptr failure;
        std::thread worker([&] {
            struct Quit {
                vanto::LinuxPlatform& backend;
                ~Quit() { backend.runLoop().quit(); }
            } quit{backend_};
            std::promise<void> parked;
            platform_.mainThread.post([&] { parked.set_value(); });
            parked.get_future().wait();
            try {
                steps();
            } catch (...) {
                failure = std::current_exception();
            }
        });
        backend_.runLoop().park();
        worker.join();
        if (failure) std::rethrow_exception(failure);
    }

    // The page's title, once the window's name is "<expected> - Chromium".
    testing::AssertionResult pageTitleBecomes(pid_t pid, const std::string& expected, Duration timeout = 10s) {
        std::string last;
        const bool found = waitFor(
            [&] {
                last = "(no window)";
                for (const auto& window : engine.onScreenWindows())
                    if (window.pid == pid) last = window.title;
                return last == expected + " - Chromium";
            },
            timeout, 100ms);
        if (found) return testing::AssertionSuccess();
        return testing::AssertionFailure()
               << "the window's name stayed \"" << last << "\", not \"" << expected << " - Chromium\"";
    }

private:
    vanto::Platform withPanels() {
        backend_.usePanels(*panels_);
        return backend_.platform();
    }

    OwnHome home_;
    vanto::LinuxPlatform backend_;
    std::unique_ptr<vanto::Ui> panels_;
    vanto::Platform platform_;
    std::mutex mutex_;
    std::vector<std::string> lines_;

public:
    vanto::Engine engine;
    OwnHome& home() { return home_; }
};

// The GTK test application and the lines it writes.
class GtkApp {
public:
    GtkApp(int x, int y)
        : child_({VANTO_TEST_APP, "--at", std::to_string(x) + "," + std::to_string(y)},
                 {.pipeStdout = true, .silenceStderr = true}) {
        auto ready = waitForEvent([](const Json& e) { return e["event"] == "ready"; }, 15s);
        if (!ready) throw std::runtime_error("the test application did not start");
        window_ = (*ready)["window"].get<std::uint64_t>();
        // The window manager places the window after it appears: wait until it holds still.
        while (child_.readLine(500ms)) {
        }
    }

    pid_t pid() const { return child_.pid(); }
    std::uint64_t window() const { return window_; }

    std::optional<Json> waitForEvent(const std::function<bool(const Json&)>& predicate, Duration timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<Duration>(deadline - std::chrono::steady_clock::now());
            if (left <= Duration::zero()) return std::nullopt;
            auto line = child_.readLine(left);
            if (!line) return std::nullopt;
            Json event = Json::parse(*line, nullptr, false);
            if (!event.is_discarded() && predicate(event)) return event;
        }
    }

private:
    Child child_;
    std::uint64_t window_ = 0;
};

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr openDisplay() {
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) throw std::runtime_error("the test cannot open the X display");
    return display;
}

// Gives another program's window a WM_CLASS, as any client may.
void setWindowClass(std::uint64_t window, const char* instance, const char* windowClass) {
    auto display = openDisplay();
    XClassHint hint{const_cast<char*>(instance), const_cast<char*>(windowClass)};
    XSetClassHint(display.get(), window, &hint);
    XSync(display.get(), False);
}

// The class half of the window's WM_CLASS as Xlib reads it.
std::optional<std::string> windowClassOf(std::uint64_t window) {
    auto display = openDisplay();
    XClassHint hint{};
    if (!XGetClassHint(display.get(), window, &hint)) return std::nullopt;
    std::optional<std::string> name;
    if (hint.res_class) name = hint.res_class;
    XFree(hint.res_name);
    XFree(hint.res_class);
    return name;
}

// Space pressed as a person would, through XTest.
void pressSpace() {
    auto display = openDisplay();
    const KeyCode space = XKeysymToKeycode(display.get(), XK_space);
    XTestFakeKeyEvent(display.get(), space, True, CurrentTime);
    XTestFakeKeyEvent(display.get(), space, False, CurrentTime);
    XSync(display.get(), False);
}

// Whether the window manager lists vanto's panel window with the title.
bool panelShown(const std::string& title) {
    for (auto window : clientListStacking()) {
        auto result = runCommand({"xprop", "-id", std::to_string(window), "WM_NAME"});
        if (result && result->output.find(title) != std::string::npos) return true;
    }
    return false;
}

// Chromium with the targeting page, findable.
class ChromiumPage {
public:
    explicit ChromiumPage(Desk& desk) : chromium_(startChromium(pageURL(), left, top, width, height)) {
        vanto::FindParams send;
        send.pid = pid();
        send.text = "Send";
        ready_ = waitFor([&] { return desk.engine.find(send).size() == 2; }, 60s, 500ms);
    }
    bool ready() const { return ready_; }
    std::int32_t pid() const { return chromium_->pid(); }

private:
    std::unique_ptr<Chromium> chromium_;
    bool ready_ = false;
};

} // namespace

// --- the identifier answers are remembered under ------------------------------

// Chromium, a GTK application and a plain X client are known by their windows' class
// (the class, not the instance, which for Chromium names the profile). Run from our
// AppImage, copies of this program are known by the image's identifier without any
// window, and a stranger whose class spells that identifier is neither given it nor
// taken for this program.
TEST(ApplicationIdentity, ApplicationsAreKnownByTheirWindowClassAndNoneIsTakenForThisProgram) {
    Desk desk;
    auto chromium = startChromium(pageURL(), left, top, width, height);
    GtkApp app(60, 60);
    TestWindow stranger(900, 500, 200, 120, "Stranger");
    auto& accessibility = desk.platform().accessibility;

    std::optional<std::string> browser;
    ASSERT_TRUE(
        waitFor([&] { return (browser = accessibility.bundleIdentifier(chromium->pid())).has_value(); }, 45s, 200ms))
        << "Chromium's window never got an identifier";
    EXPECT_EQ(browser, "Chromium");
    ASSERT_TRUE(windowClassOf(app.window()));
    EXPECT_EQ(accessibility.bundleIdentifier(app.pid()), windowClassOf(app.window()));
    EXPECT_EQ(desk.targeting().applicationID(app.pid()), windowClassOf(app.window()));
    EXPECT_EQ(accessibility.bundleIdentifier(stranger.pid()), std::nullopt) << "its window has no WM_CLASS";
    setWindowClass(stranger.id(), "stranger", "Stranger");
    EXPECT_TRUE(waitFor([&] { return accessibility.bundleIdentifier(stranger.pid()) == "Stranger"; }, 10s));

    ScopedVariable appImage("APPIMAGE", "/opt/Vanto.AppImage");
    const auto own = desk.platform().processes.bundleIdentifier();
    ASSERT_TRUE(own);
    EXPECT_EQ(accessibility.bundleIdentifier(::getpid()), own);
    setWindowClass(stranger.id(), "stranger", own->c_str());
    ASSERT_EQ(windowClassOf(stranger.id()), own);
    EXPECT_EQ(accessibility.bundleIdentifier(stranger.pid()), std::nullopt);
    vanto::AXAccess access(accessibility, desk.platform().processes);
    EXPECT_FALSE(access.isSelf(stranger.pid()));
    EXPECT_FALSE(access.isSelf(chromium->pid()));
    EXPECT_FALSE(access.isSelf(app.pid()));
    EXPECT_TRUE(access.isSelf(::getpid()));
}

// --- clicks on a Chromium page ---------------------------------------------------

// With nobody to ask, a button more than two screens down is hunted for by scrolling,
// clicked once, and the click's effect is seen.
TEST(TargetingChromium, AButtonTwoScreensDownIsScrolledToAndClicked) {
    Desk desk;
    ChromiumPage page(desk);
    ASSERT_TRUE(page.ready()) << "the page never became findable";
    bool clicked = false;
    desk.run([&] { clicked = desk.targeting().click(clickOn("Far away", "button"), page.pid(), std::nullopt, false); });
    EXPECT_TRUE(clicked) << desk.log();
    EXPECT_TRUE(desk.pageTitleBecomes(page.pid(), "Far away 1")) << desk.log();
}

// A checkbox's click counts by its value.
TEST(TargetingChromium, ACheckboxClickIsVerifiedByItsValue) {
    Desk desk;
    ChromiumPage page(desk);
    ASSERT_TRUE(page.ready()) << "the page never became findable";
    bool clicked = false;
    desk.run(
        [&] { clicked = desk.targeting().click(clickOn("I agree", "checkbox"), page.pid(), std::nullopt, false); });
    EXPECT_TRUE(clicked) << desk.log();
    EXPECT_TRUE(desk.pageTitleBecomes(page.pid(), "Agreed 1")) << desk.log();
    EXPECT_FALSE(desk.loggedStart("\"I agree\" did not change")) << desk.log();
}

// Of two "Edit" buttons the first, under a notice, is passed over without a click and
// the second is clicked.
TEST(TargetingChromium, OfTwoEditButtonsTheUncoveredOneIsClicked) {
    Desk desk;
    ChromiumPage page(desk);
    ASSERT_TRUE(page.ready()) << "the page never became findable";
    bool clicked = false;
    desk.run([&] { clicked = desk.targeting().click(clickOn("Edit"), page.pid(), std::nullopt, false); });
    EXPECT_TRUE(clicked) << desk.log();
    EXPECT_TRUE(desk.pageTitleBecomes(page.pid(), "Edit two 1")) << desk.log();
    EXPECT_TRUE(desk.logged("something else answers where \"Edit\" is; trying the next candidate")) << desk.log();
}

// --- clicks in the GTK test application -------------------------------------------

TEST(TargetingGtk, TheCheckboxClickIsVerifiedByItsValue) {
    Desk desk;
    GtkApp app(60, 60);
    activateWindow(app.window());
    vanto::FindParams subscribe;
    subscribe.pid = app.pid();
    subscribe.text = "Subscribe";
    ASSERT_TRUE(waitFor([&] { return !desk.engine.find(subscribe).empty(); }, 30s, 300ms))
        << "the checkbox never became findable";
    bool clicked = false;
    desk.run(
        [&] { clicked = desk.targeting().click(clickOn("Subscribe", "checkbox"), app.pid(), std::nullopt, false); });
    EXPECT_TRUE(clicked) << desk.log();
    auto toggled = app.waitForEvent([](const Json& e) { return e["event"] == "toggled"; });
    ASSERT_TRUE(toggled) << "the checkbox was not toggled" << desk.log();
    EXPECT_EQ((*toggled)["active"], true);
    EXPECT_FALSE(app.waitForEvent([](const Json& e) { return e["event"] == "toggled"; }, 1s))
        << "the checkbox was toggled twice" << desk.log();
}

// --- asking the person, and remembering the answer ----------------------------------

// Two "Send" buttons: the picker's panel asks which, the person points at the second
// and presses Space, the second is clicked and the answer is stored under Chromium's
// identifier; the next click on "Send" resolves from memory without a question.
TEST(TargetingPicker, ThePersonPointsAtTheSecondSendAndTheNextClickRemembersIt) {
    Desk desk;
    ChromiumPage page(desk);
    ASSERT_TRUE(page.ready()) << "the page never became findable";
    vanto::FindParams send;
    send.pid = page.pid();
    send.text = "Send";
    send.role = "button";
    auto buttons = desk.engine.find(send);
    ASSERT_EQ(buttons.size(), 2u);
    const auto second =
        *std::max_element(buttons.begin(), buttons.end(), [](const auto& a, const auto& b) { return a.x < b.x; });

    std::mutex mutex;
    std::vector<std::string> questions;
    auto& platform = desk.platform();
    auto ask = [&](const std::string& question, std::int32_t pid) {
        {
            std::lock_guard lock(mutex);
            questions.push_back(question);
        }
        auto log = [&](const std::string& line) { desk.keep(line); };
        vanto::Picker picker(
            {platform.mainThread, platform.clock, platform.ui, platform.keys, platform.pointer, desk.engine.resolver()},
            {log, log});
        return picker.ask(question, pid);
    };
    // The person: once the panel asks, points at the second button and presses Space.
    std::atomic<bool> pressed = false;
    std::jthread person([&](std::stop_token stop) {
        while (!stop.stop_requested() && !panelShown("Vanto picker")) std::this_thread::sleep_for(200ms);
        if (stop.stop_requested()) return;
        warpPointer(static_cast<int>(second.cx), static_cast<int>(second.cy));
        std::this_thread::sleep_for(700ms); // the panel has read where the pointer is
        pressSpace();
        pressed = true;
    });

    bool first = false, again = false;
    desk.run([&] {
        auto targeting = desk.targeting(ask);
        first = targeting.click(clickOn("Send"), page.pid(), std::nullopt, false);
        if (first) again = targeting.click(clickOn("Send"), page.pid(), std::nullopt, false);
    });
    person.request_stop();

    EXPECT_TRUE(pressed) << "the picker's panel never showed" << desk.log();
    EXPECT_TRUE(first) << desk.log();
    EXPECT_TRUE(again) << desk.log();
    EXPECT_TRUE(desk.pageTitleBecomes(page.pid(), "Send two 2")) << desk.log();
    EXPECT_EQ(questions, std::vector<std::string>{"Which one is \"Send\"?"}) << desk.log();
    EXPECT_TRUE(desk.loggedStart("resolved \"Send\" to \"Send\" ")) << desk.log();

    // Remembered where the next process finds it: the defaults file, under Chromium's
    // identifier and the bare phrase.
    std::ifstream in(desk.home().defaultsFile());
    const auto stored = nlohmann::json::parse(std::string(std::istreambuf_iterator<char>(in), {}), nullptr, false);
    ASSERT_TRUE(stored.is_object()) << "no defaults file";
    ASSERT_TRUE(stored.contains("corrections"));
    EXPECT_TRUE(stored["corrections"].contains(vanto::CorrectionStore::key("Chromium", "Send")))
        << stored["corrections"].dump();
}
