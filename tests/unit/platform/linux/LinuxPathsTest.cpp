#include "platform/linux/LinuxPaths.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <pwd.h>

#include <filesystem>

namespace fs = std::filesystem;
using vanto::LinuxPaths;
using vanto::test::ScopedEnv;

TEST(LinuxPaths, FoldersUnderHomeByDefault) {
    ScopedEnv home("HOME", "/nonexistent/vanto-home");
    ScopedEnv state("XDG_STATE_HOME", std::nullopt);
    ScopedEnv data("XDG_DATA_HOME", std::nullopt);
    ScopedEnv config("XDG_CONFIG_HOME", "/elsewhere/config");
    ScopedEnv temp("TMPDIR", std::nullopt);
    LinuxPaths paths;
    EXPECT_EQ(paths.home(), fs::path("/nonexistent/vanto-home"));
    // The configuration stays where it is documented, whatever XDG_CONFIG_HOME says.
    EXPECT_EQ(paths.configDir(), fs::path("/nonexistent/vanto-home/.config/vanto"));
    EXPECT_EQ(paths.stateDir(), fs::path("/nonexistent/vanto-home/.local/state/vanto"));
    EXPECT_EQ(paths.dataDir(), fs::path("/nonexistent/vanto-home/.local/share/vanto"));
    EXPECT_EQ(paths.tempDir(), fs::path("/tmp"));
    // Asking creates nothing.
    EXPECT_FALSE(fs::exists("/nonexistent/vanto-home"));
}

TEST(LinuxPaths, XDGVariablesWhenAbsolute) {
    ScopedEnv home("HOME", "/nonexistent/vanto-home");
    {
        ScopedEnv state("XDG_STATE_HOME", "/var/state-here");
        ScopedEnv data("XDG_DATA_HOME", "/var/data-here");
        ScopedEnv temp("TMPDIR", "/var/temp-here");
        LinuxPaths paths;
        EXPECT_EQ(paths.stateDir(), fs::path("/var/state-here/vanto"));
        EXPECT_EQ(paths.dataDir(), fs::path("/var/data-here/vanto"));
        EXPECT_EQ(paths.tempDir(), fs::path("/var/temp-here"));
    }
    {
        ScopedEnv state("XDG_STATE_HOME", "relative/state");
        ScopedEnv data("XDG_DATA_HOME", "relative/data");
        ScopedEnv temp("TMPDIR", "relative/temp");
        LinuxPaths paths;
        EXPECT_EQ(paths.stateDir(), fs::path("/nonexistent/vanto-home/.local/state/vanto"));
        EXPECT_EQ(paths.dataDir(), fs::path("/nonexistent/vanto-home/.local/share/vanto"));
        EXPECT_EQ(paths.tempDir(), fs::path("/tmp"));
    }
    {
        ScopedEnv state("XDG_STATE_HOME", "");
        EXPECT_EQ(LinuxPaths().stateDir(), fs::path("/nonexistent/vanto-home/.local/state/vanto"));
    }
}

TEST(LinuxPaths, HomeFromTheAccountWithoutHOME) {
    const passwd* account = ::getpwuid(::getuid());
    ASSERT_NE(account, nullptr);
    ScopedEnv home("HOME", std::nullopt);
    LinuxPaths paths;
    EXPECT_EQ(paths.home(), fs::path(account->pw_dir));
    EXPECT_EQ(paths.configDir(), fs::path(account->pw_dir) / ".config" / "vanto");
}
