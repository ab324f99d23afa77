#include "platform/linux/X11Grabber.h"
#include "platform/linux/X11Capture.h"
#include "platform/linux/X11Connection.h"
#include "platform/linux/LinuxWindowServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

// Xlib last: its macros (None, Bool, Status…) must not meet the headers above.
#include <X11/Xlib.h>

using vanto::CaptureError;
using vanto::ContentFilter;
using vanto::X11Grabber;

namespace {

bool viewable(Display* display, Window window) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable;
}

// Polls until the window manager has shown the window; the limit only keeps a broken
// run from hanging.
bool waitUntilViewable(Display* display, Window window) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!viewable(display, window)) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

} // namespace

TEST(X11Grabber, AWindowClosedWhileRecordedIsReportedAndTheProcessGoesOn) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run inside the headless desktop";
    vanto::X11Connection test;
    Display* display = test.get();
    const Window window = XCreateSimpleWindow(display, test.root(), 40, 40, 160, 120, 0, 0, 0xffffff);
    XMapWindow(display, window);
    XSync(display, False);
    ASSERT_TRUE(waitUntilViewable(display, window));

    ContentFilter filter;
    filter.kind = ContentFilter::Kind::window;
    filter.windowID = static_cast<std::uint32_t>(window);
    X11Grabber grabber(filter, std::nullopt, true);
    const auto& picture = grabber.grab();
    EXPECT_EQ(picture.width, 160);
    EXPECT_EQ(picture.height, 120);
    EXPECT_FALSE(grabber.repeated());

    // Hidden, it has nothing new to show: the last picture stands, and says so.
    XUnmapWindow(display, window);
    XSync(display, False);
    EXPECT_EQ(grabber.grab().width, 160);
    EXPECT_TRUE(grabber.repeated());
    XMapWindow(display, window);
    XSync(display, False);
    ASSERT_TRUE(waitUntilViewable(display, window));

    // Xlib's own handler, which ends the process: the grabber's traps must not rely on
    // whatever handler happens to be in place.
    XSetErrorHandler(nullptr);
    XDestroyWindow(display, window);
    XSync(display, False);
    try {
        grabber.grab();
        ADD_FAILURE() << "a closed window was grabbed";
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.failure().code, vanto::capturefailure::windowClosed().code) << error.what();
    }
    try {
        X11Grabber late(filter, std::nullopt, false);
        ADD_FAILURE() << "a closed window was redirected";
    } catch (const CaptureError& error) {
        EXPECT_EQ(error.failure().code, vanto::capturefailure::windowClosed().code) << error.what();
    }
}

// A picture of each of six windows keeps the grabbers of the last four pictured only:
// each holds a connection to the display.
TEST(X11Capture, OnlyTheLatestWindowsPicturedKeepTheirGrabbers) {
    ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run inside the headless desktop";
    vanto::X11Connection test;
    Display* display = test.get();
    std::vector<Window> windows;
    for (int i = 0; i < 6; ++i) {
        windows.push_back(XCreateSimpleWindow(display, test.root(), 40 + 30 * i, 40, 120, 90, 0, 0, 0xffffff));
        XMapWindow(display, windows.back());
    }
    XSync(display, False);
    for (const Window window : windows) ASSERT_TRUE(waitUntilViewable(display, window));

    vanto::X11Display shared;
    vanto::LinuxWindowServer server(shared);
    vanto::SystemClock clock;
    vanto::X11Capture capture(server, clock);
    vanto::StreamConfiguration configuration;
    configuration.width = 120;
    configuration.height = 90;
    for (const Window window : windows) {
        ContentFilter filter;
        filter.kind = ContentFilter::Kind::window;
        filter.windowID = static_cast<std::uint32_t>(window);
        EXPECT_EQ(capture.captureImage(filter, configuration).width, 120);
    }
    EXPECT_EQ(capture.keptPictureGrabbers(), vanto::X11Capture::keptGrabbers);
    for (const Window window : windows) XDestroyWindow(display, window);
    XSync(display, False);
}
