// Real input on the headless desktop: the vanto binary's move, click, type, key and
// scroll commands against the GTK test application and a page in Chromium, the XTest
// sink's key chord for one process, and the X11 key listener swallowing keys.
// What arrived is read back from the applications themselves (the test application's
// JSON lines, the page's title) and from the X server, never from vanto.

#include "Harness.h"

#include "capture/Input.h"
#include "platform/linux/LinuxEventSink.h"
#include "platform/linux/LinuxKeyListener.h"
#include "platform/linux/LinuxKeys.h"
#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxWindowServer.h"
#include "targets/AXResolver.h"
#include "targets/Picker.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

// Xlib last: its macros (None, Bool, Status…) must not meet the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

using namespace vanto::e2e;

namespace {

const std::string sampleText = "héllo wörld ✓ 日本 😀";

// --- the X server, seen from the test -------------------------------------------

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

DisplayPtr openDisplay() {
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) throw std::runtime_error("the test cannot open the X display");
    return display;
}

// Every keycode's keysyms and the modifier map, as the server has them now.
struct KeyboardMapping {
    std::vector<KeySym> keysyms;
    int perKeycode = 0;
    std::vector<KeyCode> modifiers;
    bool operator==(const KeyboardMapping&) const = default;
};

KeyboardMapping keyboardMapping() {
    auto display = openDisplay();
    int low = 0;
    int high = 0;
    XDisplayKeycodes(display.get(), &low, &high);
    KeyboardMapping mapping;
    KeySym* syms = XGetKeyboardMapping(display.get(), static_cast<KeyCode>(low), high - low + 1, &mapping.perKeycode);
    mapping.keysyms.assign(syms, syms + (high - low + 1) * mapping.perKeycode);
    XFree(syms);
    XModifierKeymap* modifiers = XGetModifierMapping(display.get());
    mapping.modifiers.assign(modifiers->modifiermap, modifiers->modifiermap + 8 * modifiers->max_keypermod);
    XFreeModifiermap(modifiers);
    return mapping;
}

std::pair<int, int> pointerPosition(Display* display) {
    Window root = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    int windowX = 0;
    int windowY = 0;
    unsigned int buttons = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &windowX, &windowY, &buttons);
    return {x, y};
}

// Records every distinct pointer position while it lives, polling about every 0.5 ms.
class PointerTrail {
public:
    PointerTrail()
        : thread_([this](std::stop_token stop) {
              auto display = openDisplay();
              while (!stop.stop_requested()) {
                  auto at = pointerPosition(display.get());
                  {
                      std::lock_guard lock(mutex_);
                      if (points_.empty() || points_.back() != at) points_.push_back(at);
                  }
                  std::this_thread::sleep_for(std::chrono::microseconds(500));
              }
          }) {}

    std::vector<std::pair<int, int>> stop() {
        thread_.request_stop();
        thread_.join();
        return points_;
    }

private:
    std::mutex mutex_;
    std::vector<std::pair<int, int>> points_;
    std::jthread thread_;
};

std::vector<unsigned long> cardinals(Display* display, Window window, const char* name, Atom type) {
    Atom actualType = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> values;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1 << 16, False, type, &actualType,
                           &format, &count, &remaining, &data) == Success &&
        data && actualType == type && format == 32) {
        const auto* longs = reinterpret_cast<const unsigned long*>(data);
        values.assign(longs, longs + count);
    }
    if (data) XFree(data);
    return values;
}

// The top-level windows the window manager lists for the process.
std::vector<unsigned long> windowsOfProcess(pid_t pid) {
    auto display = openDisplay();
    std::vector<unsigned long> windows;
    for (unsigned long window :
         cardinals(display.get(), DefaultRootWindow(display.get()), "_NET_CLIENT_LIST_STACKING", XA_WINDOW)) {
        auto owner = cardinals(display.get(), window, "_NET_WM_PID", XA_CARDINAL);
        if (!owner.empty() && owner.front() == static_cast<unsigned long>(pid)) windows.push_back(window);
    }
    return windows;
}

unsigned long activeWindow() {
    auto display = openDisplay();
    auto active = cardinals(display.get(), DefaultRootWindow(display.get()), "_NET_ACTIVE_WINDOW", XA_WINDOW);
    return active.empty() ? 0 : active.front();
}

// Keys and clicks from outside vanto, straight through XTest.
class TestKeyboard {
public:
    TestKeyboard() : display_(openDisplay()) {}
    void tap(KeySym keysym, bool withShift = false) {
        const KeyCode shift = XKeysymToKeycode(display_.get(), XK_Shift_L);
        const KeyCode key = XKeysymToKeycode(display_.get(), keysym);
        ASSERT_NE(key, 0) << "no key for keysym " << keysym;
        if (withShift) XTestFakeKeyEvent(display_.get(), shift, True, CurrentTime);
        XTestFakeKeyEvent(display_.get(), key, True, CurrentTime);
        XTestFakeKeyEvent(display_.get(), key, False, CurrentTime);
        if (withShift) XTestFakeKeyEvent(display_.get(), shift, False, CurrentTime);
        XSync(display_.get(), False);
        std::this_thread::sleep_for(30ms);
    }
    void click(int x, int y) {
        XTestFakeMotionEvent(display_.get(), -1, x, y, CurrentTime);
        XTestFakeButtonEvent(display_.get(), 1, True, CurrentTime);
        XTestFakeButtonEvent(display_.get(), 1, False, CurrentTime);
        XSync(display_.get(), False);
    }

private:
    DisplayPtr display_;
};

// --- the GTK test application ----------------------------------------------------

std::string testAppBinary() {
    return VANTO_TEST_APP;
}

struct Box {
    int x = 0, y = 0, width = 0, height = 0;
    int centerX() const { return x + width / 2; }
    int centerY() const { return y + height / 2; }
};

// The test application and what it reported; each read keeps the latest layout.
class TestApp {
public:
    explicit TestApp(int x = 60, int y = 60)
        : child_({testAppBinary(), "--at", std::to_string(x) + "," + std::to_string(y)},
                 {.pipeStdout = true, .silenceStderr = true}) {
        auto ready = waitForEvent([](const Json& e) { return e["event"] == "ready"; }, 15s);
        if (!ready) throw std::runtime_error("the test application did not start");
        window_ = (*ready)["window"].get<unsigned long>();
        // The window manager places the window after it appears: wait until the layout holds still.
        while (auto line = nextEvent(500ms)) {
        }
        if (layout_.is_null()) throw std::runtime_error("the test application reported no layout");
    }

    pid_t pid() const { return child_.pid(); }
    unsigned long window() const { return window_; }

    Box place(const std::string& widget) const {
        const Json& box = layout_.at(widget);
        return {box.at("x").get<int>(), box.at("y").get<int>(), box.at("width").get<int>(),
                box.at("height").get<int>()};
    }

    std::optional<Json> nextEvent(Duration timeout) {
        auto line = child_.readLine(timeout);
        if (!line) return std::nullopt;
        Json event = Json::parse(*line, nullptr, false);
        if (event.is_discarded()) {
            ADD_FAILURE() << "the test application wrote a line that is not JSON: " << *line;
            return Json::object();
        }
        events_.push_back(event);
        if (event["event"] == "layout") layout_ = event["widgets"];
        return event;
    }

    // The first event from now on that satisfies the predicate.
    std::optional<Json> waitForEvent(const std::function<bool(const Json&)>& predicate, Duration timeout = 10s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            const auto left = std::chrono::duration_cast<Duration>(deadline - std::chrono::steady_clock::now());
            if (left <= Duration::zero()) return std::nullopt;
            auto event = nextEvent(left);
            if (!event) return std::nullopt;
            if (predicate(*event)) return event;
        }
    }

    std::optional<std::string> waitForText(const std::string& text, Duration timeout = 10s) {
        std::optional<std::string> last;
        auto found = waitForEvent(
            [&](const Json& e) {
                if (e["event"] != "text") return false;
                last = e["text"].get<std::string>();
                return *last == text;
            },
            timeout);
        return found ? std::optional<std::string>(text) : last;
    }

    // Every event that arrives until the application has been quiet for a while.
    std::vector<Json> eventsUntilQuiet(Duration quiet = 700ms) {
        std::vector<Json> seen;
        while (auto event = nextEvent(quiet)) seen.push_back(*event);
        return seen;
    }

private:
    Child child_;
    unsigned long window_ = 0;
    Json layout_;
    std::vector<Json> events_;
};

std::string pointRequest(const char* cmd, int x, int y, const std::string& extra = "") {
    return std::string(R"({"cmd":")") + cmd + R"(","to":{"x":)" + std::to_string(x) + R"(,"y":)" + std::to_string(y) +
           "}" + extra + "}";
}

std::string textRequest(const std::string& text) {
    return Json{{"cmd", "type"}, {"text", text}, {"charsPerSecond", 40}}.dump();
}

const std::string ok = R"({"ok":true})";

// --- Chromium ------------------------------------------------------------------

// Waits until the page's title (the window title less " - Chromium") is the expected one.
testing::AssertionResult pageTitleBecomes(VantoSession& vanto, pid_t pid, const std::string& expected,
                                          Duration timeout = 10s) {
    std::string last;
    bool found = waitFor(
        [&] {
            last = titleOf(vanto, pid).value_or("(no window)");
            return last == expected + " - Chromium";
        },
        timeout, 100ms);
    if (found) return testing::AssertionSuccess();
    return testing::AssertionFailure() << "the window title stayed \"" << last << "\", not \"" << expected
                                       << " - Chromium\"";
}

// The number after the prefix in the page title, once it has held still for a while.
std::optional<int> settledNumberInTitle(VantoSession& vanto, pid_t pid, const std::string& prefix) {
    std::string previous;
    int steady = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < deadline) {
        std::string title = titleOf(vanto, pid).value_or("");
        steady = title == previous ? steady + 1 : 0;
        previous = title;
        if (steady >= 5 && title.rfind(prefix, 0) == 0) return std::atoi(title.c_str() + prefix.size());
        std::this_thread::sleep_for(100ms);
    }
    return std::nullopt;
}

const char* inputPage = R"(
<input id="field" autocomplete="off"
       style="position:fixed; top:0; left:0; width:100%; height:140px; font-size:32px"
       oninput="document.title = 'value:' + this.value">
<div style="height:6000px"></div>
<script>
  addEventListener('scroll', () => { document.title = 'scroll:' + Math.round(scrollY); });
</script>
)";

} // namespace

// --- the key table (no display needed) -------------------------------------------

TEST(InputKeys, EveryKeyNameHasAKeysymAndReadsBackAsItsCode) {
    const char* names[] = {"return",
                           "tab",
                           "space",
                           "delete",
                           "escape",
                           "left",
                           "right",
                           "down",
                           "up",
                           "equal",
                           "minus",
                           "comma",
                           "period",
                           "slash",
                           "backslash",
                           "leftbracket",
                           "rightbracket",
                           "semicolon",
                           "quote",
                           "grave",
                           "a",
                           "b",
                           "c",
                           "d",
                           "e",
                           "f",
                           "g",
                           "h",
                           "i",
                           "j",
                           "k",
                           "l",
                           "m",
                           "n",
                           "o",
                           "p",
                           "q",
                           "r",
                           "s",
                           "t",
                           "u",
                           "v",
                           "w",
                           "x",
                           "y",
                           "z",
                           "0",
                           "1",
                           "2",
                           "3",
                           "4",
                           "5",
                           "6",
                           "7",
                           "8",
                           "9"};
    std::vector<vanto::linuxkeys::KeySym> seen;
    for (const char* name : names) {
        auto code = vanto::Input::keyCode(name);
        ASSERT_TRUE(code) << name;
        auto keysym = vanto::linuxkeys::keysymForVirtualKey(*code);
        ASSERT_TRUE(keysym) << name;
        EXPECT_EQ(vanto::linuxkeys::virtualKeyForKeysym(*keysym), code) << name;
        EXPECT_EQ(std::count(seen.begin(), seen.end(), *keysym), 0) << name << " shares its keysym";
        seen.push_back(*keysym);
    }
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(36), XK_Return);
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(51), XK_BackSpace); // erases backwards
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(0), XK_a);
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(39), XK_apostrophe);
    EXPECT_FALSE(vanto::linuxkeys::keysymForVirtualKey(96)); // f5 has no name in the table

    // Command is the primary shortcut modifier: Control on Linux, left and right.
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(55), XK_Control_L);
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(54), XK_Control_R);
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(59), XK_Control_L);
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(58), XK_Alt_L);
    EXPECT_EQ(vanto::linuxkeys::keysymForVirtualKey(60), XK_Shift_R);
    EXPECT_EQ(vanto::linuxkeys::virtualKeyForKeysym(XK_Control_L), 59);
    EXPECT_EQ(vanto::linuxkeys::virtualKeyForKeysym(XK_Shift_L), 56);
    EXPECT_FALSE(vanto::linuxkeys::virtualKeyForKeysym(XK_F5));
}

TEST(InputKeys, TextBecomesTheKeysymsThatTypeIt) {
    using Keysyms = std::vector<vanto::linuxkeys::KeySym>;
    using vanto::linuxkeys::keysymsForText;
    EXPECT_EQ(keysymsForText("a"), Keysyms{'a'});
    EXPECT_EQ(keysymsForText("~"), Keysyms{XK_asciitilde});
    EXPECT_EQ(keysymsForText("é"), Keysyms{XK_eacute}); // Latin-1 is its own keysym
    EXPECT_EQ(keysymsForText("\u00a0"), Keysyms{XK_nobreakspace});
    EXPECT_EQ(keysymsForText("✓"), Keysyms{0x1002713}); // others are Unicode keysyms
    EXPECT_EQ(keysymsForText("😀"), Keysyms{0x101F600});
    EXPECT_EQ(keysymsForText("e\u0301"), (Keysyms{'e', 0x1000301}));
    EXPECT_EQ(keysymsForText("🇫🇷"), (Keysyms{0x101F1EB, 0x101F1F7}));
    EXPECT_EQ(keysymsForText("\r"), Keysyms{XK_Return});
    EXPECT_EQ(keysymsForText("\n"), Keysyms{XK_Return});
    EXPECT_EQ(keysymsForText("\r\n"), Keysyms{XK_Return}); // one line break
    EXPECT_EQ(keysymsForText("\t"), Keysyms{XK_Tab});
    EXPECT_EQ(keysymsForText("\b"), Keysyms{XK_BackSpace});
    EXPECT_EQ(keysymsForText("\x1b"), Keysyms{XK_Escape});
    EXPECT_EQ(keysymsForText("\x7f"), Keysyms{XK_Delete});
    EXPECT_EQ(keysymsForText("\xff"), Keysyms{}); // not UTF-8: nothing to type
    EXPECT_EQ(keysymsForText(""), Keysyms{});
}

// --- the protocol's answers ------------------------------------------------------

TEST(InputProtocol, RequiredFieldsAreNamed) {
    VantoSession vanto;
    EXPECT_EQ(vanto.request(R"({"cmd":"move"})"), R"({"ok":false,"error":"missing required field: to"})");
    EXPECT_EQ(vanto.request(R"({"cmd":"type"})"), R"({"ok":false,"error":"missing required field: text"})");
    EXPECT_EQ(vanto.request(R"({"cmd":"key"})"), R"({"ok":false,"error":"missing required field: keys"})");
    EXPECT_EQ(vanto.request(R"({"cmd":"key","keys":["f5"]})"), R"({"ok":false,"error":"unknown key: f5"})");
}

TEST(InputProtocol, MoveEndsExactlyAtItsTargetThroughIntermediatePoints) {
    warpPointer(100, 120);
    VantoSession vanto;
    PointerTrail trail;
    EXPECT_EQ(vanto.request(pointRequest("move", 900, 620, R"(,"duration":0.5)")), ok);
    auto points = trail.stop();

    auto display = openDisplay();
    EXPECT_EQ(pointerPosition(display.get()), std::make_pair(900, 620));
    EXPECT_EQ(vanto.request(R"({"cmd":"cursor"})"), R"({"ok":true,"cursor":{"x":900,"y":620}})");

    ASSERT_FALSE(points.empty());
    EXPECT_EQ(points.front(), std::make_pair(100, 120));
    EXPECT_EQ(points.back(), std::make_pair(900, 620));
    // 60 events in half a second: a poll every half millisecond sees most of them.
    EXPECT_GE(points.size(), 20u) << "the pointer jumped instead of travelling";
    double lastProgress = 0;
    for (auto [x, y] : points) {
        // On the straight line from start to target, moving forwards only.
        const double progress = (x - 100) / 800.0;
        EXPECT_NEAR(y, 120 + progress * 500, 1.5) << "off the line at " << x << "," << y;
        EXPECT_GE(progress, lastProgress) << "moved backwards at " << x << "," << y;
        lastProgress = progress;
    }
}

// --- the GTK test application ----------------------------------------------------

TEST(InputGtk, TypeKeyClickAndScrollArriveInTheApplication) {
    const KeyboardMapping before = keyboardMapping();
    TestApp app;
    VantoSession vanto;

    const Box name = app.place("Name");
    ASSERT_EQ(vanto.request(pointRequest("click", name.centerX(), name.centerY())), ok);
    ASSERT_EQ(vanto.request(textRequest(sampleText)), ok);
    EXPECT_EQ(app.waitForText(sampleText), sampleText);

    ASSERT_EQ(vanto.request(R"({"cmd":"key","keys":["ctrl+a","delete"]})"), ok);
    EXPECT_EQ(app.waitForText(""), "");

    // Capitals and symbols that need shift, and a letter with a combining accent.
    const std::string shifted = "Ab\"Q\" e\u0301!";
    ASSERT_EQ(vanto.request(textRequest(shifted)), ok);
    EXPECT_EQ(app.waitForText(shifted), shifted);

    // More distinct characters than the keyboard map has free keycodes (19 here):
    // keycodes are lent again, the longest idle first.
    ASSERT_EQ(vanto.request(R"({"cmd":"key","keys":["ctrl+a","delete"]})"), ok);
    EXPECT_EQ(app.waitForText(""), "");
    const std::string many = "一二三四五六七八九十百千万上下左右中大小山川日月火水木金土天";
    ASSERT_EQ(vanto.request(textRequest(many)), ok);
    EXPECT_EQ(app.waitForText(many), many);

    const Box subscribe = app.place("Subscribe");
    ASSERT_EQ(vanto.request(pointRequest("click", subscribe.x + 8, subscribe.centerY())), ok);
    auto toggled = app.waitForEvent([](const Json& e) { return e["event"] == "toggled"; });
    ASSERT_TRUE(toggled);
    EXPECT_EQ((*toggled)["active"], true);
    ASSERT_EQ(vanto.request(pointRequest("click", subscribe.x + 8, subscribe.centerY())), ok);
    toggled = app.waitForEvent([](const Json& e) { return e["event"] == "toggled"; });
    ASSERT_TRUE(toggled);
    EXPECT_EQ((*toggled)["active"], false);

    // A click without a point lands where the pointer is.
    const Box send = app.place("Send");
    ASSERT_EQ(vanto.request(pointRequest("move", send.centerX(), send.centerY(), R"(,"duration":0.1)")), ok);
    ASSERT_EQ(vanto.request(R"({"cmd":"click"})"), ok);
    EXPECT_TRUE(app.waitForEvent([](const Json& e) { return e["event"] == "clicked"; }));

    const Box rows = app.place("Rows");
    ASSERT_EQ(vanto.request(pointRequest("move", rows.centerX(), rows.centerY(), R"(,"duration":0.1)")), ok);
    ASSERT_EQ(vanto.request(R"({"cmd":"scroll","dy":600})"), ok);
    int offset = 0;
    int downClicks = 0;
    for (const Json& e : app.eventsUntilQuiet()) {
        if (e["event"] == "scrolled") offset = e["offset"].get<int>();
        if (e["event"] == "wheel") {
            EXPECT_EQ(e["direction"].get<std::string>(), "down");
            ++downClicks;
        }
    }
    EXPECT_NEAR(offset, 600, vanto::LinuxEventSink::pointsPerWheelClick) << downClicks << " wheel clicks";
    ASSERT_EQ(vanto.request(R"({"cmd":"scroll","dy":-600,"duration":0.2})"), ok);
    for (const Json& e : app.eventsUntilQuiet())
        if (e["event"] == "scrolled") offset = e["offset"].get<int>();
    EXPECT_EQ(offset, 0);

    // Lent keycodes go back half a second after their last use.
    EXPECT_TRUE(waitFor([&] { return keyboardMapping() == before; }, 5s)) << "the keyboard map was left changed";
}

// A scroll comes to the nearest whole wheel click of its own distance, and to one
// when it is shorter than half a click; nothing left over changes the next scroll.
TEST(InputGtk, EachScrollComesToWholeWheelClicksOfItsOwn) {
    TestApp app;
    VantoSession vanto;
    const Box rows = app.place("Rows");
    ASSERT_EQ(vanto.request(pointRequest("move", rows.centerX(), rows.centerY(), R"(,"duration":0.1)")), ok);
    app.eventsUntilQuiet();
    auto wheelClicks = [&] {
        int clicks = 0;
        for (const Json& e : app.eventsUntilQuiet())
            if (e["event"] == "wheel") clicks += e["direction"] == "down" ? 1 : -1;
        return clicks;
    };
    auto clicksOf = [&](const std::string& request) {
        EXPECT_EQ(vanto.request(request), ok);
        return wheelClicks();
    };
    EXPECT_EQ(clicksOf(R"({"cmd":"scroll","dy":30,"duration":0.2})"), 1);
    EXPECT_EQ(clicksOf(R"({"cmd":"scroll","dy":170,"duration":0.2})"), 1);
    EXPECT_EQ(clicksOf(R"({"cmd":"scroll","dy":-250})"), -2);

    // Two short scrolls sent together are two gestures, however close in time.
    vanto.sendRaw("{\"cmd\":\"scroll\",\"dy\":30}\n{\"cmd\":\"scroll\",\"dy\":30}\n");
    EXPECT_EQ(vanto.answer(), ok);
    EXPECT_EQ(vanto.answer(), ok);
    EXPECT_EQ(wheelClicks(), 2);
}

// --- a page in Chromium ----------------------------------------------------------

TEST(InputChromium, TypeAndKeysArriveInAPageField) {
    const KeyboardMapping before = keyboardMapping();
    TempDir folder("vanto-e2e-input");
    const std::string url = writePage(folder.path(), "value:", inputPage);
    auto chromium = startChromium(url, 420, 40, 900, 700);
    VantoSession vanto;
    ASSERT_TRUE(pageTitleBecomes(vanto, chromium->pid(), "value:", 45s));
    auto window = windowOf(vanto, chromium->pid());
    ASSERT_TRUE(window);
    const int left = window->value("x", 0);
    const int top = window->value("y", 0);

    // The field covers the top 140 px of the page, which starts below the browser's
    // tab strip and toolbar (about 85 px).
    ASSERT_EQ(vanto.request(pointRequest("click", left + 300, top + 170)), ok);
    ASSERT_EQ(vanto.request(textRequest(sampleText)), ok);
    EXPECT_TRUE(pageTitleBecomes(vanto, chromium->pid(), "value:" + sampleText));

    ASSERT_EQ(vanto.request(R"({"cmd":"key","keys":["ctrl+a","delete"]})"), ok);
    EXPECT_TRUE(pageTitleBecomes(vanto, chromium->pid(), "value:"));

    // The page is 6000 px long; Chromium scrolls 120 px a wheel click, animated.
    ASSERT_EQ(vanto.request(pointRequest("move", left + 400, top + 450, R"(,"duration":0.1)")), ok);
    ASSERT_EQ(vanto.request(R"({"cmd":"scroll","dy":600})"), ok);
    auto scrolled = settledNumberInTitle(vanto, chromium->pid(), "scroll:");
    ASSERT_TRUE(scrolled) << "the page did not scroll";
    EXPECT_NEAR(*scrolled, 600, vanto::LinuxEventSink::pointsPerWheelClick);

    // Lent keycodes go back half a second after their last use.
    EXPECT_TRUE(waitFor([&] { return keyboardMapping() == before; }, 5s)) << "the keyboard map was left changed";
}

// --- the sink's chord for one process --------------------------------------------

TEST(InputSink, AChordForOneProcessReachesThatProcessOnly) {
    TempDir folder("vanto-e2e-input");
    auto chromium = startChromium(writePage(folder.path(), "one window", "<p>one</p>"), 420, 40, 800, 600);
    ASSERT_TRUE(waitFor([&] { return windowsOfProcess(chromium->pid()).size() == 1; }, 45s, 100ms));
    TestApp app(60, 60);
    ASSERT_TRUE(waitFor([&] { return activeWindow() == app.window(); }, 5s));
    TestKeyboard keyboard;
    const Box name = app.place("Name");
    keyboard.click(name.centerX(), name.centerY());

    vanto::X11Display display;
    vanto::LinuxEventSink sink(display);
    constexpr std::uint16_t keyN = 45;
    // A process without a window gets nothing, and nothing lands elsewhere.
    sink.postKeyToProcess(static_cast<std::int32_t>(::getpid()), keyN, true, vanto::modifier::command);
    sink.postKeyToProcess(static_cast<std::int32_t>(::getpid()), keyN, false, vanto::modifier::command);
    EXPECT_EQ(activeWindow(), app.window());

    sink.postKeyToProcess(chromium->pid(), keyN, true, vanto::modifier::command);
    sink.postKeyToProcess(chromium->pid(), keyN, false, vanto::modifier::command);
    EXPECT_TRUE(waitFor([&] { return windowsOfProcess(chromium->pid()).size() == 2; }, 15s, 100ms))
        << "command-N did not open a second browser window";
    for (const Json& e : app.eventsUntilQuiet(300ms))
        EXPECT_NE(e["event"], "text") << "the chord reached the test application: " << e.dump();
}

// --- closing a window -------------------------------------------------------------

TEST(InputWindows, AWindowAskedToCloseClosesAsItsButtonWouldHaveIt) {
    TempDir folder("vanto-e2e-close");
    auto chromium = startChromium(writePage(folder.path(), "closing", "<p>close me</p>"), 420, 40, 800, 600);
    ASSERT_TRUE(waitFor([&] { return windowsOfProcess(chromium->pid()).size() == 1; }, 45s, 100ms));
    vanto::X11Display display;
    vanto::LinuxWindowServer server(display);
    EXPECT_TRUE(server.closeWindow(static_cast<std::uint32_t>(windowsOfProcess(chromium->pid()).front())));
    EXPECT_TRUE(waitFor([&] { return windowsOfProcess(chromium->pid()).empty(); }, 15s, 100ms))
        << "the browser kept its window";
}

// --- the key listener ------------------------------------------------------------

TEST(InputKeyListener, SwallowsWhatItIsAskedForAndPassesTheRestOn) {
    TestApp app;
    TestKeyboard keyboard;
    const Box name = app.place("Name");
    keyboard.click(name.centerX(), name.centerY());
    ASSERT_TRUE(waitFor([&] { return activeWindow() == app.window(); }, 5s));

    std::mutex mutex;
    std::vector<std::pair<std::uint16_t, std::string>> offered;
    std::vector<std::thread::id> threads;
    vanto::LinuxKeyListener listener;
    ASSERT_TRUE(listener.start([&](std::uint16_t code, const std::string& characters) {
        std::lock_guard lock(mutex);
        offered.emplace_back(code, characters);
        threads.push_back(std::this_thread::get_id());
        return code == 12; // q
    }));
    keyboard.tap(XK_a);
    keyboard.tap(XK_q);
    keyboard.tap(XK_b);
    keyboard.tap(XK_a, true);
    keyboard.tap(XK_Return);
    EXPECT_EQ(app.waitForText("abA"), "abA");
    {
        std::lock_guard lock(mutex);
        const std::vector<std::pair<std::uint16_t, std::string>> expected{{0, "a"}, {12, "q"}, {11, "b"},
                                                                          {56, ""}, {0, "A"},  {36, "\r"}};
        EXPECT_EQ(offered, expected);
        for (auto id : threads) EXPECT_NE(id, std::this_thread::get_id()) << "the consumer ran on the caller's thread";
    }

    listener.stop();
    listener.stop();
    keyboard.tap(XK_q);
    EXPECT_EQ(app.waitForText("abAq"), "abAq") << "a key was still swallowed after stop";
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(offered.size(), 6u);
    }

    // Started again it listens again; a consumer may stop it from inside.
    std::atomic<int> calls = 0;
    ASSERT_TRUE(listener.start([&](std::uint16_t, const std::string&) {
        ++calls;
        listener.stop();
        return true;
    }));
    keyboard.tap(XK_z);
    keyboard.tap(XK_x);
    EXPECT_EQ(app.waitForText("abAqx"), "abAqx");
    EXPECT_EQ(calls.load(), 1);
    listener.stop();

    // Without a display it cannot be installed.
    const std::string display = std::getenv("DISPLAY");
    ::setenv("DISPLAY", ":unavailable", 1);
    EXPECT_FALSE(listener.start([](std::uint16_t, const std::string&) { return false; }));
    ::setenv("DISPLAY", display.c_str(), 1);
    listener.stop();
}

namespace {

// Panels that show nothing and count the picker's readings: the first one comes once
// the picker listens for its keys.
class ReadingCounter final : public vanto::Ui {
public:
    void showIndicator(const std::string&, vanto::UiColour, const std::string&) override {}
    void hideIndicator() override {}
    void showPanel(const vanto::PanelContent&) override {}
    void showStopControl(const std::string&, bool, std::function<void()>) override {}
    void hidePanels() override {}
    std::vector<std::uint32_t> panelWindowIDs() override { return {}; }
    void showPicker(const std::string&, const std::string&) override {}
    void setPickerReading(const std::string&, vanto::UiColour) override { ++readings; }
    void hidePicker() override {}
    bool startKeyMonitor(KeyDown) override { return false; }
    void stopKeyMonitor() override {}
    void runFor(double) override {}

    std::atomic<int> readings = 0;
};

} // namespace

// The picker over a GTK application: Space, which would press the focused button,
// answers the question with that button instead and never reaches the application;
// once answered, Space is the application's again.
TEST(InputKeyListener, ThePickerTakesSpaceFromTheApplicationOnlyWhileItAsks) {
    TestApp app;
    TestKeyboard keyboard;
    const Box send = app.place("Send");
    keyboard.click(send.centerX(), send.centerY()); // the button has the focus now
    ASSERT_TRUE(app.waitForEvent([](const Json& e) { return e["event"] == "clicked"; }));

    vanto::LinuxPlatform backend;
    auto platform = backend.platform();
    vanto::AXResolver resolver(platform.accessibility, platform.processes, platform.clock);
    ReadingCounter panels;
    std::vector<std::string> lines;
    auto log = [&](const std::string& line) { lines.push_back(line); };
    vanto::Picker picker({platform.mainThread, platform.clock, panels, platform.keys, platform.pointer, resolver},
                         {log, log});
    std::promise<void> parked;
    platform.mainThread.post([&] { parked.set_value(); });
    std::jthread mainThread([&] { backend.runLoop().park(); });
    struct Quit {
        vanto::LinuxPlatform& backend;
        ~Quit() { backend.runLoop().quit(); }
    } quit{backend};
    parked.get_future().wait();

    auto answer = std::async(std::launch::async, [&] { return picker.ask("Which Send?", app.pid()); });
    ASSERT_TRUE(waitFor([&] { return panels.readings > 0; }, 20s));
    keyboard.tap(XK_space);
    ASSERT_EQ(answer.wait_for(30s), std::future_status::ready);
    const auto outcome = answer.get();
    const auto* picked = std::get_if<vanto::Picker::Picked>(&outcome);
    ASSERT_NE(picked, nullptr) << "Space did not pick the button; outcome " << outcome.index();
    EXPECT_EQ(picked->element.text, "Send");
    EXPECT_FALSE(app.waitForEvent([](const Json& e) { return e["event"] == "clicked"; }, 1s))
        << "the application saw the Space";
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1],
              "picker: picked \"Send\" at " + std::to_string(send.centerX()) + "," + std::to_string(send.centerY()));

    keyboard.tap(XK_space);
    EXPECT_TRUE(app.waitForEvent([](const Json& e) { return e["event"] == "clicked"; }))
        << "Space stayed taken after the answer";
}
