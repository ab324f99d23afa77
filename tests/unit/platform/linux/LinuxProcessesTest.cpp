#include "platform/linux/LinuxProcesses.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include <signal.h>
#include <unistd.h>

namespace fs = std::filesystem;
using vanto::LinuxProcesses;
using vanto::test::Child;
using vanto::test::ScopedEnv;

namespace {

// A private folder removed at the end of the test.
struct TempFolder {
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "vanto-linux-test-XXXXXX").string();
        path = ::mkdtemp(pattern.data());
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

// A copy of sleep under a name that trips parsers of /proc/<pid>/stat that split at the
// first ')': they would read state "S" and parent 1.
fs::path trickySleep(const TempFolder& folder) {
    const fs::path copy = folder.path / "a) S 1 (b";
    fs::copy_file("/bin/sleep", copy);
    fs::permissions(copy, fs::perms::owner_all);
    return copy;
}

} // namespace

TEST(LinuxProcesses, CurrentAndParentProcess) {
    LinuxProcesses processes;
    EXPECT_EQ(processes.currentPID(), ::getpid());
    EXPECT_EQ(processes.parentPID(::getpid()), ::getppid());

    Child child({"/bin/sleep", "30"});
    ASSERT_GT(child.pid(), 0);
    EXPECT_EQ(processes.parentPID(child.pid()), ::getpid());

    EXPECT_EQ(processes.parentPID(0), std::nullopt);
    EXPECT_EQ(processes.parentPID(-5), std::nullopt);
    const pid_t gone = child.pid();
    child.stop();
    EXPECT_EQ(processes.parentPID(gone), std::nullopt);
}

TEST(LinuxProcesses, ParentOfAProcessWhoseNameHoldsParenthesesAndSpaces) {
    TempFolder folder;
    const fs::path program = trickySleep(folder);
    Child child({program.string(), "30"});
    ASSERT_GT(child.pid(), 0);
    std::ifstream stat("/proc/" + std::to_string(child.pid()) + "/stat");
    std::string line;
    std::getline(stat, line);
    ASSERT_NE(line.find("(a) S 1 (b)"), std::string::npos) << line; // the name really is in the way
    EXPECT_EQ(LinuxProcesses().parentPID(child.pid()), ::getpid());
}

TEST(LinuxProcesses, ExecutablePath) {
    LinuxProcesses processes;
    EXPECT_EQ(processes.executablePath(::getpid()), fs::canonical(program_invocation_name).string());

    TempFolder folder;
    const fs::path program = trickySleep(folder);
    Child child({program.string(), "30"});
    ASSERT_GT(child.pid(), 0);
    EXPECT_EQ(processes.executablePath(child.pid()), fs::canonical(program).string());

    EXPECT_EQ(processes.executablePath(0), std::nullopt);
    const pid_t gone = child.pid();
    child.stop();
    EXPECT_EQ(processes.executablePath(gone), std::nullopt);
}

TEST(LinuxProcesses, IsAlive) {
    LinuxProcesses processes;
    Child child({"/bin/sleep", "30"});
    ASSERT_GT(child.pid(), 0);
    EXPECT_TRUE(processes.isAlive(child.pid()));
    EXPECT_TRUE(processes.isAlive(::getpid()));
    const pid_t gone = child.pid();
    child.stop();
    EXPECT_FALSE(processes.isAlive(gone));
    // kill() would read these as process groups.
    EXPECT_FALSE(processes.isAlive(0));
    EXPECT_FALSE(processes.isAlive(-1));
}

TEST(LinuxProcesses, StartTimeTellsProcessesApart) {
    LinuxProcesses processes;
    const auto own = processes.startTime(::getpid());
    ASSERT_TRUE(own);
    EXPECT_EQ(processes.startTime(::getpid())->ticks, own->ticks);

    TempFolder folder;
    const fs::path program = trickySleep(folder);
    Child child({program.string(), "30"});
    ASSERT_GT(child.pid(), 0);
    const auto started = processes.startTime(child.pid());
    ASSERT_TRUE(started);
    EXPECT_GE(started->ticks, own->ticks);
    const double now = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(started->wallTime, now, 5);
    EXPECT_LE(own->wallTime, started->wallTime);
    const pid_t gone = child.pid();
    child.stop();
    EXPECT_FALSE(processes.startTime(gone));
    EXPECT_FALSE(processes.startTime(0));
}

TEST(LinuxProcesses, RunCapturesOutputAndExitStatus) {
    LinuxProcesses processes;

    auto echo = processes.run("/bin/echo", {"hello", "two words"});
    EXPECT_EQ(echo.exitStatus, 0);
    EXPECT_EQ(echo.output, "hello two words\n");

    // Found on PATH.
    auto printf = processes.run("printf", {"%s|", "a", "b"});
    EXPECT_EQ(printf.exitStatus, 0);
    EXPECT_EQ(printf.output, "a|b|");

    EXPECT_EQ(processes.run("/bin/false", {}).exitStatus, 1);
    EXPECT_EQ(processes.run("/bin/sh", {"-c", "echo partial; exit 7"}).exitStatus, 7);
    EXPECT_EQ(processes.run("/bin/sh", {"-c", "echo partial; exit 7"}).output, "partial\n");

    // More than a pipe holds, so the reader must drain while the child writes.
    auto large = processes.run("/bin/sh", {"-c", "head -c 1000000 /dev/zero"});
    EXPECT_EQ(large.exitStatus, 0);
    EXPECT_EQ(large.output.size(), 1000000u);

    // Standard input is empty rather than ours.
    auto cat = processes.run("/bin/cat", {});
    EXPECT_EQ(cat.exitStatus, 0);
    EXPECT_EQ(cat.output, "");

    auto missing = processes.run("/nonexistent/vanto-no-such-program", {"x"});
    EXPECT_EQ(missing.exitStatus, -1);
    EXPECT_EQ(missing.output, "");
    EXPECT_EQ(processes.run("vanto-no-such-program-on-path", {}).exitStatus, -1);

    auto killed = processes.run("/bin/sh", {"-c", "echo before; kill -9 $$"});
    EXPECT_EQ(killed.exitStatus, -1);
    EXPECT_EQ(killed.output, "before\n");
}

TEST(LinuxProcesses, EnvironmentAndBundle) {
    LinuxProcesses processes;
    {
        ScopedEnv set("VANTO_TEST_VARIABLE", "some value");
        EXPECT_EQ(processes.environment("VANTO_TEST_VARIABLE"), "some value");
    }
    {
        ScopedEnv unset("VANTO_TEST_VARIABLE", std::nullopt);
        EXPECT_EQ(processes.environment("VANTO_TEST_VARIABLE"), std::nullopt);
    }
    {
        ScopedEnv image("APPIMAGE", "/opt/Vanto-x86_64.AppImage");
        EXPECT_EQ(processes.bundleIdentifier(), "vanto.appimage");
    }
    {
        ScopedEnv image("APPIMAGE", "");
        EXPECT_EQ(processes.bundleIdentifier(), std::nullopt);
    }
    {
        ScopedEnv image("APPIMAGE", std::nullopt);
        EXPECT_EQ(processes.bundleIdentifier(), std::nullopt);
    }
}

// A launched program runs in a group of its own (a terminal's Ctrl-C must not reach it),
// keeps nothing of ours on standard output, and leaves its error output and exit status
// behind; a program that does not exist says why.
TEST(LinuxProcesses, LaunchInTheBackground) {
    LinuxProcesses processes;
    auto sleeper = processes.launch("sleep", {"30"});
    ASSERT_TRUE(sleeper.pid) << sleeper.failure;
    EXPECT_EQ(::getpgid(*sleeper.pid), *sleeper.pid);
    EXPECT_NE(::getpgid(*sleeper.pid), ::getpgid(0));
    // The kernel renames the process a moment after the launch has returned.
    bool listed = false;
    const auto named = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!listed && std::chrono::steady_clock::now() < named) {
        for (const auto& [pid, name] : processes.running()) listed = listed || (pid == *sleeper.pid && name == "sleep");
        if (!listed) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(listed);
    EXPECT_TRUE(processes.terminate(*sleeper.pid));

    // The state once the program has ended, or after 10 s.
    auto whenEnded = [&](std::int32_t pid) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!processes.launched(pid).ended && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        return processes.launched(pid);
    };
    auto failing = processes.launch("sh", {"-c", "echo to-stdout; echo broken >&2; exit 3"});
    ASSERT_TRUE(failing.pid);
    const auto state = whenEnded(*failing.pid);
    EXPECT_TRUE(state.ended);
    EXPECT_EQ(state.exitStatus, 3);
    EXPECT_EQ(state.errors, "broken\n");
    // Reaped, so no zombie is left behind under the same number.
    EXPECT_FALSE(processes.isAlive(*failing.pid));

    // A launcher that leaves a child of its own behind, holding its error output, has
    // still ended when it exits.
    auto handingOver = processes.launch("sh", {"-c", "sleep 30 & echo handed >&2; exit 4"});
    ASSERT_TRUE(handingOver.pid);
    const auto handedOver = whenEnded(*handingOver.pid);
    EXPECT_TRUE(handedOver.ended);
    EXPECT_EQ(handedOver.exitStatus, 4);
    EXPECT_EQ(handedOver.errors, "handed\n");
    ::kill(-*handingOver.pid, SIGTERM); // the sleep it left behind, in its group

    auto missing = processes.launch("vanto-no-such-program", {});
    EXPECT_FALSE(missing.pid);
    EXPECT_EQ(missing.failure, "No such file or directory");
}
