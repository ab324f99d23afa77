#include "platform/linux/LinuxPlatform.h"
#include "platform/linux/LinuxProcesses.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

// Xlib last: its macros (None, Bool, Status…) must not meet the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <gio/gio.h>

namespace fs = std::filesystem;
using json = nlohmann::json;
using vanto::PointD;
using vanto::RectD;
using vanto::test::Child;
using vanto::test::ScopedEnv;

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

// Polls until f() holds or the time is up; the desktop answers in milliseconds, the
// limit only keeps a broken run from hanging.
template <class F> bool eventually(F&& f, double seconds = 10) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    for (;;) {
        if (f()) return true;
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
    }
}

std::ptrdiff_t indexOf(const std::vector<json>& windows, unsigned long number) {
    for (std::size_t i = 0; i < windows.size(); ++i)
        if (windows[i].at("number").get<unsigned long>() == number) return static_cast<std::ptrdiff_t>(i);
    return -1;
}

std::optional<json> findWindow(const std::vector<json>& windows, unsigned long number) {
    const auto index = indexOf(windows, number);
    if (index < 0) return std::nullopt;
    return windows[static_cast<std::size_t>(index)];
}

struct Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// What xwininfo, a client independent of ours, says of a window.
Geometry xwininfo(unsigned long window) {
    const auto result = vanto::LinuxProcesses().run("xwininfo", {"-id", std::to_string(window)});
    EXPECT_EQ(result.exitStatus, 0);
    auto field = [&](const std::string& label) {
        std::smatch match;
        const std::regex pattern(label + ":\\s+(-?[0-9]+)");
        EXPECT_TRUE(std::regex_search(result.output, match, pattern)) << label << " in " << result.output;
        return match.empty() ? -99999 : std::stoi(match[1]);
    };
    return {field("Absolute upper-left X"), field("Absolute upper-left Y"), field("Width"), field("Height")};
}

void expectBounds(const json& record, const Geometry& expected) {
    const json& bounds = record.at("bounds");
    EXPECT_NEAR(bounds.at("x").get<double>(), expected.x, 2) << record.dump();
    EXPECT_NEAR(bounds.at("y").get<double>(), expected.y, 2) << record.dump();
    EXPECT_NEAR(bounds.at("width").get<double>(), expected.width, 2) << record.dump();
    EXPECT_NEAR(bounds.at("height").get<double>(), expected.height, 2) << record.dump();
}

std::vector<unsigned long> rootWindows(Display* display, const char* property) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> result;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, property, False), 0, 1 << 16,
                           False, XA_WINDOW, &type, &format, &count, &remaining, &data) == Success &&
        data) {
        const auto* windows = reinterpret_cast<const unsigned long*>(data);
        result.assign(windows, windows + count);
    }
    if (data) XFree(data);
    return result;
}

// Windows this test makes on its own connection, as another application would.
class TestWindows {
public:
    explicit TestWindows(Display* display) : display_(display) {}
    ~TestWindows() {
        for (Window window : windows_) XDestroyWindow(display_, window);
        XSync(display_, False);
    }
    TestWindows(const TestWindows&) = delete;
    TestWindows& operator=(const TestWindows&) = delete;

    Window create(int x, int y, int width, int height) {
        const Window window =
            XCreateSimpleWindow(display_, DefaultRootWindow(display_), x, y, static_cast<unsigned>(width),
                                static_cast<unsigned>(height), 0, 0, WhitePixel(display_, DefaultScreen(display_)));
        windows_.push_back(window);
        // The WM_CLASS text list is "instance\0class\0".
        static const char windowClass[] = "vantotest\0VantoTest";
        XChangeProperty(display_, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(windowClass), sizeof(windowClass));
        // Ask for the requested position rather than the window manager's placement.
        XSizeHints hints{};
        hints.flags = USPosition | USSize;
        hints.x = x;
        hints.y = y;
        hints.width = width;
        hints.height = height;
        XSetWMNormalHints(display_, window, &hints);
        return window;
    }

    void cardinals(Window window, const char* property, const std::vector<long>& values) {
        XChangeProperty(display_, window, atom(property), XA_CARDINAL, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
    }

    void atoms(Window window, const char* property, const std::vector<const char*>& names) {
        std::vector<Atom> values;
        for (const char* name : names) values.push_back(atom(name));
        XChangeProperty(display_, window, atom(property), XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(values.data()), static_cast<int>(values.size()));
    }

    void text(Window window, const char* property, const char* type, const std::string& bytes) {
        XChangeProperty(display_, window, atom(property), atom(type), 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    }

    void map(Window window) {
        XMapWindow(display_, window);
        XSync(display_, False);
    }

    Atom atom(const char* name) { return XInternAtom(display_, name, False); }

private:
    Display* display_;
    std::vector<Window> windows_;
};

// Asks the window manager to activate (and raise) a window, as a pager would.
void activate(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
}

class LinuxDisplay : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run inside the headless desktop";
        x.reset(XOpenDisplay(nullptr));
        ASSERT_TRUE(x) << "cannot open the test's own X connection";
    }

    std::optional<json> waitForWindow(unsigned long number) {
        std::optional<json> record;
        eventually([&] { return (record = findWindow(p.windows.onScreenWindows(), number)).has_value(); });
        return record;
    }

    vanto::LinuxPlatform backend;
    vanto::Platform p = backend.platform();
    std::unique_ptr<Display, DisplayCloser> x;
};

} // namespace

TEST_F(LinuxDisplay, AnotherApplicationsWindowIsListedWithItsClassTitleAndClientBounds) {
    const std::string title = "vanto-probe-" + std::to_string(::getpid());
    Child xmessage({"xmessage", "-geometry", "300x200+100+150", "-title", title, "hello"});
    ASSERT_GT(xmessage.pid(), 0);
    std::optional<json> record;
    ASSERT_TRUE(eventually([&] {
        for (const json& window : p.windows.onScreenWindows())
            if (window.contains("name") && window["name"] == title) record = window;
        return record.has_value();
    })) << "xmessage never appeared";

    ASSERT_TRUE(record->at("number").is_number_unsigned());
    EXPECT_EQ(record->at("ownerName"), "Xmessage");
    EXPECT_EQ(record->at("layer"), 0);
    // xmessage publishes no _NET_WM_PID: the X server names the client's process.
    EXPECT_EQ(record->value("ownerPID", 0), xmessage.pid());
    const Geometry geometry = xwininfo(record->at("number").get<unsigned long>());
    EXPECT_EQ(geometry.width, 300);
    EXPECT_EQ(geometry.height, 200);
    expectBounds(*record, geometry);
}

TEST_F(LinuxDisplay, TitlePidAndClassOfAWindowAndTheLegacyTitle) {
    TestWindows windows(x.get());
    const Window window = windows.create(220, 130, 320, 240);
    windows.text(window, "_NET_WM_NAME", "UTF8_STRING", "Démo ✓ – vanto");
    windows.text(window, "WM_NAME", "STRING", "caf\xe9"); // Latin-1
    windows.cardinals(window, "_NET_WM_PID", {::getpid()});
    windows.map(window);

    auto record = waitForWindow(window);
    ASSERT_TRUE(record) << "the window never appeared";
    EXPECT_EQ(record->at("number").get<unsigned long>(), window);
    EXPECT_EQ(record->at("name"), "Démo ✓ – vanto");
    EXPECT_EQ(record->at("ownerPID"), ::getpid());
    EXPECT_EQ(record->at("ownerName"), "VantoTest");
    EXPECT_EQ(record->at("layer"), 0);
    expectBounds(*record, xwininfo(window));

    // Without the EWMH title the legacy one is read, converted from Latin-1.
    XDeleteProperty(x.get(), window, windows.atom("_NET_WM_NAME"));
    XSync(x.get(), False);
    record = findWindow(p.windows.onScreenWindows(), window);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->at("name"), "caf\xc3\xa9");

    // Broken UTF-8 from a careless program still makes valid text.
    windows.text(window, "_NET_WM_NAME", "UTF8_STRING", "ok\xff\xc3(\xed\xa0\x80!");
    XSync(x.get(), False);
    record = findWindow(p.windows.onScreenWindows(), window);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->at("name"), "ok\uFFFD\uFFFD(\uFFFD\uFFFD\uFFFD!");
    EXPECT_NO_THROW(record->dump());

    XDeleteProperty(x.get(), window, windows.atom("_NET_WM_NAME"));
    XDeleteProperty(x.get(), window, XA_WM_NAME);
    XDeleteProperty(x.get(), window, windows.atom("_NET_WM_PID"));
    XSync(x.get(), False);
    record = findWindow(p.windows.onScreenWindows(), window);
    ASSERT_TRUE(record);
    EXPECT_FALSE(record->contains("name")) << record->dump();
    // Without _NET_WM_PID the X server still knows whose connection made the window.
    EXPECT_EQ(record->value("ownerPID", 0), ::getpid()) << record->dump();
}

TEST_F(LinuxDisplay, MinimisedWindowsAreNotOnScreen) {
    TestWindows windows(x.get());
    const Window window = windows.create(300, 300, 200, 150);
    windows.map(window);
    ASSERT_TRUE(waitForWindow(window));

    XIconifyWindow(x.get(), window, DefaultScreen(x.get()));
    XSync(x.get(), False);
    EXPECT_TRUE(eventually([&] { return !findWindow(p.windows.onScreenWindows(), window); }));
    // The window manager still manages it, so the filter, not the list, left it out.
    const auto stacking = rootWindows(x.get(), "_NET_CLIENT_LIST_STACKING");
    EXPECT_NE(std::find(stacking.begin(), stacking.end(), window), stacking.end());
}

TEST_F(LinuxDisplay, WindowsComeFrontToBack) {
    TestWindows windows(x.get());
    const Window first = windows.create(100, 100, 300, 200);
    windows.map(first);
    ASSERT_TRUE(waitForWindow(first));
    const Window second = windows.create(150, 150, 300, 200);
    windows.map(second);
    ASSERT_TRUE(waitForWindow(second));

    // Raised one after the other, each must come first in turn.
    std::vector<json> list;
    activate(x.get(), second);
    EXPECT_TRUE(eventually([&] {
        list = p.windows.onScreenWindows();
        return indexOf(list, second) >= 0 && indexOf(list, second) < indexOf(list, first);
    })) << "the raised window did not come first";

    activate(x.get(), first);
    EXPECT_TRUE(eventually([&] {
        list = p.windows.onScreenWindows();
        return indexOf(list, first) >= 0 && indexOf(list, first) < indexOf(list, second);
    })) << "the raised window did not come first";
}

TEST_F(LinuxDisplay, LayersFollowTheWindowType) {
    TestWindows windows(x.get());
    const Window plain = windows.create(100, 100, 200, 100);
    const Window dialog = windows.create(120, 120, 200, 100);
    windows.atoms(dialog, "_NET_WM_WINDOW_TYPE", {"_VANTO_UNKNOWN_TYPE", "_NET_WM_WINDOW_TYPE_DIALOG"});
    const Window dock = windows.create(0, 860, 400, 40);
    windows.atoms(dock, "_NET_WM_WINDOW_TYPE", {"_VANTO_UNKNOWN_TYPE", "_NET_WM_WINDOW_TYPE_DOCK"});
    const Window notification = windows.create(900, 50, 200, 80);
    // The first type we know counts.
    windows.atoms(notification, "_NET_WM_WINDOW_TYPE",
                  {"_NET_WM_WINDOW_TYPE_NOTIFICATION", "_NET_WM_WINDOW_TYPE_NORMAL"});
    const Window desktop = windows.create(0, 0, 1440, 900);
    windows.atoms(desktop, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DESKTOP"});
    for (Window window : {plain, dialog, dock, notification, desktop}) windows.map(window);

    std::vector<json> list;
    ASSERT_TRUE(eventually([&] {
        list = p.windows.onScreenWindows();
        for (Window window : {plain, dialog, dock, notification, desktop})
            if (indexOf(list, window) < 0) return false;
        return true;
    }));
    EXPECT_EQ(findWindow(list, plain)->at("layer"), 0);
    EXPECT_EQ(findWindow(list, dialog)->at("layer"), 0);
    EXPECT_EQ(findWindow(list, dock)->at("layer"), 20);
    EXPECT_EQ(findWindow(list, notification)->at("layer"), 101);
    EXPECT_EQ(findWindow(list, desktop)->at("layer"), -2147483623);
    // The desktop lies beneath everything else.
    for (Window window : {plain, dialog, dock, notification}) EXPECT_LT(indexOf(list, window), indexOf(list, desktop));
}

TEST_F(LinuxDisplay, ScreensFollowTheWorkArea) {
    const double width = DisplayWidth(x.get(), DefaultScreen(x.get()));
    const double height = DisplayHeight(x.get(), DefaultScreen(x.get()));
    auto screens = p.windows.screens();
    ASSERT_EQ(screens.size(), 1u);
    EXPECT_EQ(screens[0].frame, (RectD{0, 0, width, height}));
    EXPECT_EQ(screens[0].visibleFrame, screens[0].frame);
    EXPECT_TRUE(screens[0].main);
    EXPECT_NE(screens[0].displayID, 0u);
    EXPECT_EQ(screens[0].scale, 1);

    {
        // A panel reserving 40 points along the top edge.
        TestWindows windows(x.get());
        const Window panel = windows.create(0, 0, static_cast<int>(width), 40);
        windows.atoms(panel, "_NET_WM_WINDOW_TYPE", {"_NET_WM_WINDOW_TYPE_DOCK"});
        windows.cardinals(panel, "_NET_WM_STRUT", {0, 0, 40, 0});
        windows.cardinals(panel, "_NET_WM_STRUT_PARTIAL",
                          {0, 0, 40, 0, 0, 0, 0, 0, 0, static_cast<long>(width) - 1, 0, 0});
        windows.map(panel);
        EXPECT_TRUE(eventually([&] {
            screens = p.windows.screens();
            return screens.size() == 1 && screens[0].visibleFrame == RectD{0, 40, width, height - 40};
        })) << "visible frame "
            << screens[0].visibleFrame.x << "," << screens[0].visibleFrame.y << " " << screens[0].visibleFrame.width
            << "x" << screens[0].visibleFrame.height;
        EXPECT_EQ(screens[0].frame, (RectD{0, 0, width, height}));
    }
    EXPECT_TRUE(eventually([&] { return p.windows.screens()[0].visibleFrame == RectD{0, 0, width, height}; }));
}

TEST_F(LinuxDisplay, AWindowThatVanishedIsSkipped) {
    TestWindows windows(x.get());
    const Window window = windows.create(100, 100, 200, 100);
    windows.map(window);
    ASSERT_TRUE(waitForWindow(window));

    // Put a window that no longer exists at the top of the stacking list, as happens
    // when one is destroyed between the list and its properties being read.
    const Window gone = windows.create(10, 10, 10, 10);
    XDestroyWindow(x.get(), gone);
    const Atom stackingAtom = windows.atom("_NET_CLIENT_LIST_STACKING");
    const auto original = rootWindows(x.get(), "_NET_CLIENT_LIST_STACKING");
    auto doctored = original;
    doctored.push_back(gone);
    XChangeProperty(x.get(), DefaultRootWindow(x.get()), stackingAtom, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(doctored.data()), static_cast<int>(doctored.size()));
    XSync(x.get(), False);

    const auto list = p.windows.onScreenWindows();
    const auto now = rootWindows(x.get(), "_NET_CLIENT_LIST_STACKING");
    ASSERT_NE(std::find(now.begin(), now.end(), gone), now.end()) << "the window manager rewrote the list first";
    EXPECT_EQ(indexOf(list, gone), -1);
    EXPECT_GE(indexOf(list, window), 0);
    // The connection still works after the error.
    EXPECT_FALSE(p.windows.screens().empty());

    XChangeProperty(x.get(), DefaultRootWindow(x.get()), stackingAtom, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(original.data()), static_cast<int>(original.size()));
    XSync(x.get(), False);
}

TEST_F(LinuxDisplay, PointerPositionIsRead) {
    const Window root = DefaultRootWindow(x.get());
    XWarpPointer(x.get(), 0, root, 0, 0, 0, 0, 321, 234);
    XSync(x.get(), False);
    EXPECT_EQ(p.pointer.position(), (PointD{321, 234}));
    XWarpPointer(x.get(), 0, root, 0, 0, 0, 0, 17, 801);
    XSync(x.get(), False);
    EXPECT_EQ(p.pointer.position(), (PointD{17, 801}));
}

TEST_F(LinuxDisplay, ScreenCaptureIsGrantedWithADisplay) {
    EXPECT_TRUE(p.permissions.screenCapturePreflight());
    EXPECT_TRUE(p.permissions.requestScreenCapture());
}

// ---- the accessibility bus, on a private session bus so that the desktop's is untouched

namespace {

struct BusDeleter {
    void operator()(GDBusConnection* bus) const {
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
    }
};

struct VariantDeleter {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using VariantPtr = std::unique_ptr<GVariant, VariantDeleter>;

// One call on a bus, as an independent client: the reply, or none.
VariantPtr call(const std::string& address, const char* name, const char* path, const char* interface,
                const char* method, GVariant* parameters) {
    VariantPtr sunk(parameters ? g_variant_ref_sink(parameters) : nullptr);
    GError* error = nullptr;
    std::unique_ptr<GDBusConnection, BusDeleter> bus(g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error));
    if (error) g_clear_error(&error);
    if (!bus) return nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(bus.get(), name, path, interface, method, sunk.get(), nullptr,
                                                 G_DBUS_CALL_FLAGS_NO_AUTO_START, 2000, nullptr, &error));
    if (error) g_clear_error(&error);
    return reply;
}

bool nameHasOwner(const std::string& address, const char* name) {
    auto reply = call(address, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
                      g_variant_new("(s)", name));
    gboolean owned = FALSE;
    if (reply) g_variant_get(reply.get(), "(b)", &owned);
    return owned;
}

bool a11yBusAnswers(const std::string& address) {
    return call(address, "org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress", nullptr) != nullptr;
}

std::optional<bool> a11yEnabled(const std::string& address) {
    auto reply = call(address, "org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties", "Get",
                      g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"));
    if (!reply) return std::nullopt;
    GVariant* boxed = nullptr;
    g_variant_get(reply.get(), "(v)", &boxed);
    VariantPtr value(boxed);
    return g_variant_get_boolean(value.get()) != FALSE;
}

// A session bus of our own whose services run away from the desktop: no display (the
// accessibility bus would otherwise announce itself on the shared root window), private
// runtime and home folders, and settings kept in memory.
class PrivateSessionBus {
public:
    PrivateSessionBus() {
        std::string pattern = (fs::temp_directory_path() / "vanto-bus-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        environment_ = vanto::test::environmentWith({{"DISPLAY", std::nullopt},
                                                     {"DBUS_SESSION_BUS_ADDRESS", std::nullopt},
                                                     {"XDG_RUNTIME_DIR", folder_.string()},
                                                     {"HOME", folder_.string()},
                                                     {"XDG_CONFIG_HOME", (folder_ / "config").string()},
                                                     {"XDG_CACHE_HOME", (folder_ / "cache").string()},
                                                     {"GSETTINGS_BACKEND", "memory"}});
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
        daemon_ = std::make_unique<Child>(
            std::vector<std::string>{"dbus-daemon", "--session", "--nofork", "--print-address=1"}, environment_,
            &actions);
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
        address_ = readLine(ends[0]);
        ::close(ends[0]);
    }
    ~PrivateSessionBus() {
        launcher_.reset();
        daemon_.reset();
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    const std::string& address() const { return address_; }

    void startAccessibilityBus() {
        auto environment = environment_;
        environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + address_);
        launcher_ = std::make_unique<Child>(
            std::vector<std::string>{"/usr/libexec/at-spi-bus-launcher", "--launch-immediately"}, environment);
    }
    void stopAccessibilityBus() { launcher_.reset(); }

private:
    static std::string readLine(int fd) {
        std::string line;
        char c = 0;
        pollfd wait{fd, POLLIN, 0};
        while (::poll(&wait, 1, 5000) > 0 && ::read(fd, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }

    fs::path folder_;
    std::vector<std::string> environment_;
    std::unique_ptr<Child> daemon_;
    std::unique_ptr<Child> launcher_;
    std::string address_;
};

} // namespace

TEST(LinuxAccessibilityBus, TrustedOnlyWhenTheBusAnswersAndIsEnabled) {
    PrivateSessionBus session;
    ASSERT_FALSE(session.address().empty()) << "dbus-daemon gave no address";
    ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", session.address());
    vanto::LinuxPlatform backend;
    auto& permissions = backend.platform().permissions;

    // A session bus without the accessibility bus; the plain question does not start it.
    EXPECT_FALSE(permissions.accessibilityTrusted(false));
    EXPECT_FALSE(nameHasOwner(session.address(), "org.a11y.Bus"));

    session.startAccessibilityBus();
    ASSERT_TRUE(eventually([&] { return a11yBusAnswers(session.address()); })) << "the accessibility bus never came up";
    // Up, but switched off.
    ASSERT_EQ(a11yEnabled(session.address()), false);
    EXPECT_FALSE(permissions.accessibilityTrusted(false));

    // Asking switches it on, and it stays on.
    EXPECT_TRUE(permissions.accessibilityTrusted(true));
    EXPECT_EQ(a11yEnabled(session.address()), true);
    EXPECT_TRUE(permissions.accessibilityTrusted(false));

    // Without the accessibility bus the switch alone is not enough.
    session.stopAccessibilityBus();
    EXPECT_TRUE(eventually([&] { return !permissions.accessibilityTrusted(false); }));
}
