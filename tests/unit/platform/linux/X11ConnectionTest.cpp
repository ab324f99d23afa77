#include "platform/linux/X11Connection.h"
#include "platform/linux/X11Properties.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

// Xlib last: its macros (None, Bool, Status…) must not meet the headers above.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

using vanto::X11Atom;
using vanto::X11Connection;
using vanto::X11ErrorTrap;
namespace x11 = vanto::x11;

namespace {

// A window that existed and is gone, as one that closes between being listed and read.
Window destroyedWindow(Display* display) {
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 10, 10, 0, 0, 0);
    XDestroyWindow(display, window);
    XSync(display, False);
    return window;
}

class X11Foundation : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "these tests run inside the headless desktop";
    }
};

} // namespace

TEST_F(X11Foundation, ReadsOfADestroyedWindowFailAndTheProcessGoesOn) {
    X11Connection connection;
    Display* display = connection.get();
    const auto& atoms = connection.atoms();
    // Xlib's own handler, which ends the process, as a fresh process has it or as a
    // trap that "puts back what was there" leaves it.
    XSetErrorHandler(nullptr);
    const Window gone = destroyedWindow(display);
    const auto untrapped = vanto::x11UntrappedErrors();

    X11ErrorTrap outer(display);
    EXPECT_FALSE(x11::cardinals(display, gone, atoms[X11Atom::netWmPid]));
    EXPECT_FALSE(x11::title(display, gone, atoms));
    EXPECT_FALSE(x11::geometry(display, gone));
    {
        X11ErrorTrap trap(display);
        XMapWindow(display, gone); // no reply: the trap must sync to hear of it
        const auto error = trap.error();
        ASSERT_TRUE(error);
        EXPECT_EQ(error->code, BadWindow);
        EXPECT_NE(error->describe().find("BadWindow"), std::string::npos) << error->describe();
    }
    EXPECT_TRUE(outer.failed()) << "an outer trap spans the reads inside it";
    EXPECT_EQ(vanto::x11UntrappedErrors(), untrapped);

    // The connection still works.
    const auto root = x11::geometry(display, connection.root());
    ASSERT_TRUE(root);
    EXPECT_EQ(root->width, DisplayWidth(display, DefaultScreen(display)));
    EXPECT_TRUE(root->viewable);
}

TEST_F(X11Foundation, AnErrorGoesToTheTrapsOfItsConnectionSetBeforeItsRequest) {
    X11Connection first;
    X11Connection second;
    Display* a = first.get();
    Display* b = second.get();
    const Window gone = destroyedWindow(a);

    {
        X11ErrorTrap other(b);
        X11ErrorTrap outer(a);
        XMapWindow(a, gone); // fails, unanswered yet
        {
            X11ErrorTrap inner(a);
            XWindowAttributes attributes{};
            EXPECT_TRUE(XGetWindowAttributes(a, DefaultRootWindow(a), &attributes));
            EXPECT_FALSE(inner.failed()) << "the failed request came before this trap";
        }
        EXPECT_TRUE(outer.failed());
        XMapWindow(b, DefaultRootWindow(b));
        EXPECT_FALSE(other.failed()) << "errors of another connection are not this trap's";
    }

    // Outside every trap an error is counted and logged, and the process goes on.
    const auto untrapped = vanto::x11UntrappedErrors();
    XMapWindow(b, gone);
    XSync(b, False);
    EXPECT_EQ(vanto::x11UntrappedErrors(), untrapped + 1);
}

TEST_F(X11Foundation, TrapsOnOtherThreadsSeeOnlyTheirOwnErrors) {
    constexpr int rounds = 200;
    std::atomic<int> wrong{0};
    auto run = [&](bool failing) {
        X11Connection connection;
        Display* display = connection.get();
        const Window target = failing ? destroyedWindow(display) : DefaultRootWindow(display);
        for (int i = 0; i < rounds; ++i) {
            X11ErrorTrap trap(display);
            XMapWindow(display, target);
            if (trap.failed() != failing) ++wrong;
        }
    };
    std::thread failing(run, true);
    std::thread clean(run, false);
    failing.join();
    clean.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST_F(X11Foundation, TextListsComeAsUTF8) {
    X11Connection connection;
    Display* display = connection.get();
    const auto& atoms = connection.atoms();
    const Window window = XCreateSimpleWindow(display, connection.root(), 0, 0, 10, 10, 0, 0, 0);
    // Latin-1, and a last string without its closing NUL.
    const char latin1[] = "caf\xe9\0Chromium";
    XChangeProperty(display, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin1), sizeof latin1 - 1);
    const char utf8[] = "\xe2\x9c\x93\0\xff\0";
    XChangeProperty(display, window, atoms[X11Atom::netWmName], atoms[X11Atom::utf8String], 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8), sizeof utf8 - 1);

    EXPECT_EQ(x11::texts(display, window, XA_WM_CLASS, atoms), (std::vector<std::string>{"caf\xc3\xa9", "Chromium"}));
    EXPECT_EQ(x11::className(display, window, atoms), "Chromium");
    EXPECT_EQ(x11::texts(display, window, atoms[X11Atom::netWmName], atoms),
              (std::vector<std::string>{"\xe2\x9c\x93", "\xef\xbf\xbd"}));
    EXPECT_FALSE(x11::cardinals(display, window, XA_WM_CLASS)) << "a property of another type reads as nothing";
    XDestroyWindow(display, window);
}
