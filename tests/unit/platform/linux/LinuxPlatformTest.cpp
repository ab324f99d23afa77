#include "platform/linux/LinuxPlatform.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;
using vanto::LinuxPlatform;
using vanto::test::ScopedEnv;

namespace {

template <class F> std::string errorOf(F&& f) {
    try {
        f();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "(no error)";
}

} // namespace

TEST(LinuxPlatform, RandomBytesDiffer) {
    LinuxPlatform backend;
    auto& random = backend.platform().random;
    std::array<std::uint8_t, 32> first{};
    std::array<std::uint8_t, 32> second{};
    random.fill(first);
    random.fill(second);
    EXPECT_NE(first, second);
    EXPECT_NE(first, decltype(first){});

    std::vector<std::uint8_t> kilobyte(1024, 0);
    random.fill(kilobyte);
    EXPECT_GT(std::count_if(kilobyte.begin(), kilobyte.end(), [](std::uint8_t b) { return b != 0; }), 900);
    random.fill(std::span<std::uint8_t>{}); // nothing to do, and no error
}

TEST(LinuxPlatform, MainThreadIsTheRunLoop) {
    LinuxPlatform backend;
    EXPECT_EQ(static_cast<vanto::MainThread*>(&backend.runLoop()), &backend.platform().mainThread);
}

TEST(LinuxPlatform, WithoutADisplayWindowsAndPointerFailAndCaptureIsNotGranted) {
    {
        ScopedEnv display("DISPLAY", std::nullopt);
        LinuxPlatform backend; // starts without a display
        auto p = backend.platform();
        EXPECT_EQ(errorOf([&] { p.windows.onScreenWindows(); }), "cannot open the X display (DISPLAY is not set)");
        EXPECT_EQ(errorOf([&] { p.windows.screens(); }), "cannot open the X display (DISPLAY is not set)");
        EXPECT_EQ(errorOf([&] { p.pointer.position(); }), "cannot open the X display (DISPLAY is not set)");
        EXPECT_FALSE(p.permissions.screenCapturePreflight());
        EXPECT_FALSE(p.permissions.requestScreenCapture());
    }
    {
        ScopedEnv display("DISPLAY", ":1999");
        LinuxPlatform backend;
        auto p = backend.platform();
        EXPECT_EQ(errorOf([&] { p.windows.onScreenWindows(); }), "cannot open the X display :1999");
        EXPECT_EQ(errorOf([&] { p.pointer.position(); }), "cannot open the X display :1999");
        EXPECT_FALSE(p.permissions.screenCapturePreflight());
    }
}

TEST(LinuxPlatform, AccessibilityIsNotTrustedWithoutASessionBus) {
    LinuxPlatform backend;
    auto& permissions = backend.platform().permissions;
    {
        ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/vanto-bus");
        EXPECT_FALSE(permissions.accessibilityTrusted(false));
        EXPECT_FALSE(permissions.accessibilityTrusted(true));
    }
    {
        // Nothing in the runtime folder either: no bus is started to answer.
        std::string pattern = (fs::temp_directory_path() / "vanto-runtime-XXXXXX").string();
        const fs::path runtime = ::mkdtemp(pattern.data());
        ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
        ScopedEnv folder("XDG_RUNTIME_DIR", runtime.string());
        EXPECT_FALSE(permissions.accessibilityTrusted(true));
        EXPECT_TRUE(fs::is_empty(runtime));
        fs::remove_all(runtime);
    }
}

TEST(LinuxPlatform, AccessibilityQuestionEndsWhenTheBusNeverAnswers) {
    // A socket that takes connections but never speaks: the check must give up.
    std::string pattern = (fs::temp_directory_path() / "vanto-silent-XXXXXX").string();
    const fs::path folder = ::mkdtemp(pattern.data());
    const fs::path socketPath = folder / "bus";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socketPath.c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    {
        ScopedEnv bus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + socketPath.string());
        LinuxPlatform backend;
        EXPECT_FALSE(backend.platform().permissions.accessibilityTrusted(false));
    }
    ::close(listener);
    fs::remove_all(folder);
}
