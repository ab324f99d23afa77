#include "agent/RunLog.h"
#include "agent/RunRegistry.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace vanto {
namespace {

std::string contents(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// A process that is alive until a given time on the clock.
class DyingProcess final : public Processes {
public:
    DyingProcess(fake::FakeProcesses& base, Clock& clock, std::int32_t pid, double diesAt)
        : base_(base), clock_(clock), pid_(pid), diesAt_(diesAt) {}
    std::int32_t currentPID() override { return base_.currentPID(); }
    std::optional<std::int32_t> parentPID(std::int32_t pid) override { return base_.parentPID(pid); }
    std::optional<std::string> executablePath(std::int32_t pid) override { return base_.executablePath(pid); }
    bool isAlive(std::int32_t pid) override { return pid == pid_ ? clock_.now() < diesAt_ : base_.isAlive(pid); }
    std::optional<ProcessStart> startTime(std::int32_t pid) override { return base_.startTime(pid); }
    ProgramOutput run(const std::string& p, const std::vector<std::string>& a) override { return base_.run(p, a); }
    std::optional<std::string> environment(const std::string& n) override { return base_.environment(n); }
    std::optional<std::string> bundleIdentifier() override { return base_.bundleIdentifier(); }
    Launch launch(const std::string& p, const std::vector<std::string>& a) override { return base_.launch(p, a); }
    LaunchState launched(std::int32_t pid) override { return base_.launched(pid); }
    bool terminate(std::int32_t pid) override { return base_.terminate(pid); }
    std::vector<std::pair<std::int32_t, std::string>> running() override { return base_.running(); }

private:
    fake::FakeProcesses& base_;
    Clock& clock_;
    std::int32_t pid_;
    double diesAt_;
};

class RunCoordination : public ::testing::Test {
protected:
    std::filesystem::path runs() { return desktop.paths.configDir() / "runs"; }
    void touch(const std::string& name) {
        std::filesystem::create_directories(runs());
        std::ofstream(runs() / name) << "1700000000";
    }

    fake::FakePlatform desktop;
    RunRegistry registry{runs(), desktop.processes, desktop.clock};
    std::vector<std::string> logged;
    LogLine log = [this](const std::string& line) { logged.push_back(line); };
};

TEST_F(RunCoordination, othersAreLiveRunsAndStaleFilesAreCleanedUp) {
    EXPECT_TRUE(registry.others().empty()); // no folder yet
    registry.registerRun();
    EXPECT_TRUE(std::filesystem::exists(runs() / std::to_string(desktop.processes.self)));
    EXPECT_NEAR(std::stod(contents(runs() / std::to_string(desktop.processes.self))), desktop.clock.wallTime(), 0.01);
    desktop.processes.table[700] = {1, "/usr/bin/vanto", true};
    desktop.processes.table[800] = {1, "/usr/bin/vanto", false};
    touch("700");
    touch("800");
    touch("notes.txt");
    touch("+700x");
    EXPECT_EQ(registry.others(), std::vector<std::int32_t>{700});
    EXPECT_FALSE(std::filesystem::exists(runs() / "800"));
    EXPECT_TRUE(std::filesystem::exists(runs() / "notes.txt"));
    EXPECT_TRUE(std::filesystem::exists(runs() / "+700x"));
    registry.deregister();
    EXPECT_FALSE(std::filesystem::exists(runs() / std::to_string(desktop.processes.self)));
}

TEST_F(RunCoordination, aFileWhoseIDANewerProcessTookIsStale) {
    auto& processes = desktop.processes;
    processes.starts[processes.self] = {41000, 1700000000};
    registry.registerRun();
    const auto own = contents(runs() / std::to_string(processes.self));
    EXPECT_EQ(own.substr(own.find('\n')), "\nstarted 41000\n");

    // Pid 1 is alive, but only the run that wrote the file counts.
    processes.table[1] = {0, "/sbin/init", true};
    processes.starts[1] = {100, 1699990000};
    std::ofstream(runs() / "1") << "1700000000.500\nstarted 100\n";
    EXPECT_EQ(registry.others(), std::vector<std::int32_t>{1});
    processes.starts[1] = {900, 1700000200};
    EXPECT_TRUE(registry.others().empty());
    EXPECT_FALSE(std::filesystem::exists(runs() / "1"));

    // Files without a start: a process that started after the file was written only
    // reuses the ID; one that started before it may be the run; without a start to
    // compare, the signal decides.
    touch("1");
    EXPECT_TRUE(registry.others().empty());
    EXPECT_FALSE(std::filesystem::exists(runs() / "1"));
    processes.starts[1] = {900, 1699999990};
    touch("1");
    EXPECT_EQ(registry.others(), std::vector<std::int32_t>{1});
    processes.starts.erase(1);
    EXPECT_EQ(registry.others(), std::vector<std::int32_t>{1});
    std::ofstream(runs() / "1") << "1700000000.500\nstarted 100\n";
    EXPECT_EQ(registry.others(), std::vector<std::int32_t>{1});
}

TEST_F(RunCoordination, waitingForOtherRunsGivesUpAfter180Seconds) {
    desktop.processes.table[700] = {1, "/usr/bin/vanto", true};
    touch("700");
    double start = desktop.clock.now();
    waitForOtherRuns(registry, desktop.clock, log);
    EXPECT_NEAR(desktop.clock.now() - start, 180, 1e-9);
    ASSERT_EQ(logged.size(), 181u);
    EXPECT_EQ(logged.front(), "waiting for a nested vanto run to finish");
    EXPECT_EQ(logged.back(), "a nested run is still going after 180s; recording anyway");
}

TEST_F(RunCoordination, waitingForANestedRunEndsWhenItIsGone) {
    // Nothing appears: twelve seconds of polling, no log line.
    double start = desktop.clock.now();
    waitForNestedRun(registry, desktop.clock, log);
    EXPECT_NEAR(desktop.clock.now() - start, 12, 1e-9);
    EXPECT_TRUE(logged.empty());

    // A run is there at once and ends after three seconds.
    desktop.processes.table[700] = {1, "/usr/bin/vanto", true};
    touch("700");
    DyingProcess processes(desktop.processes, desktop.clock, 700, desktop.clock.now() + 3);
    RunRegistry watched(runs(), processes, desktop.clock);
    start = desktop.clock.now();
    waitForNestedRun(watched, desktop.clock, log);
    EXPECT_NEAR(desktop.clock.now() - start, 3, 1e-9);
    EXPECT_EQ(logged, (std::vector<std::string>{"recording a nested vanto run; waiting for it to finish",
                                                "waiting for a nested vanto run to finish",
                                                "waiting for a nested vanto run to finish",
                                                "waiting for a nested vanto run to finish"}));
}

TEST(RunLogTest, linesAreStampedInOrderAndEachProcessStartsAFreshLog) {
    fake::FakePlatform desktop;
    auto file = desktop.paths.stateDir() / "run.log";
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file) << "an older process's lines\n";
    {
        RunLog off(file, desktop.clock);
        off.write("not recording yet");
    }
    EXPECT_EQ(contents(file), "an older process's lines\n");

    RunLog log(file, desktop.clock);
    log.setRecording(true);
    log.write("asking the planner");
    log.write("rehearsing 3 steps");
    auto stamp = clockStamp(desktop.clock.wallTime());
    EXPECT_EQ(contents(file), stamp + " asking the planner\n" + stamp + " rehearsing 3 steps\n");
    EXPECT_EQ(stamp.size(), 8u);
    EXPECT_EQ(stamp[2], ':');

    RunLog second(file, desktop.clock); // another process
    second.setRecording(true);
    second.write("fresh");
    EXPECT_EQ(contents(file), stamp + " fresh\n");
}

TEST(ProgressLogTest, goesToStandardErrorTheRunLogAndTheCallback) {
    fake::FakePlatform desktop;
    RunLog log(desktop.paths.stateDir() / "run.log", desktop.clock);
    log.setRecording(true);
    RunLog::setShared(&log);
    std::ostringstream err;
    std::vector<std::string> seen;
    ProgressLog progress(err, [&](const std::string& line) { seen.push_back(line); });
    progress("recording");
    // A name from a sheet or plan cannot clear the terminal or forge a second line.
    progress("recording \"Intro\x1b[2J\nvanto: done\"");
    RunLog::setShared(nullptr);
    const std::string escaped = "recording \"Intro\\x1b[2J\\x0avanto: done\"";
    EXPECT_EQ(err.str(), "vanto: recording\nvanto: " + escaped + "\n");
    EXPECT_EQ(seen, (std::vector<std::string>{"recording", "recording \"Intro\x1b[2J\nvanto: done\""}));
    auto stamp = clockStamp(desktop.clock.wallTime());
    EXPECT_EQ(contents(log.file()), stamp + " recording\n" + stamp + " " + escaped + "\n");
}

} // namespace
} // namespace vanto
