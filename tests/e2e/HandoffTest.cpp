// One window per person and display, with the real binary on the headless desktop: a
// later `vanto --window` hands itself to the window that is up and ends at once, and a
// sheet that does not load is still the launching terminal's to report.

#include "Harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace vanto::e2e {
namespace {

namespace fs = std::filesystem;

class Handoff : public testing::Test {
protected:
    Handoff() {
        ::setenv("HOME", (folder.path() / "home").c_str(), 1);
        fs::create_directories(folder.path() / "home");
    }

    // vanto with these arguments, standard error joined to standard output.
    std::optional<CommandResult> launch(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"sh", "-c", "exec \"$@\" 2>&1", "sh", vantoBinary()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return runCommand(argv, 30s);
    }

    // The Vanto windows on the desktop, with the processes that show them.
    std::vector<pid_t> vantoWindows() {
        std::vector<pid_t> owners;
        for (const auto& window : listWindows(hands))
            if (window.value("title", "") == "Vanto") owners.push_back(window.value("pid", 0));
        return owners;
    }

    TempDir folder{"vanto-e2e-handoff"};
    VantoSession hands;
};

TEST_F(Handoff, ALaterLaunchHandsItselfToTheWindowThatIsUp) {
    Child first({vantoBinary(), "--window"});
    ASSERT_TRUE(waitForWindowOf(hands, first.pid(), "Vanto")) << "the first window did not come up";

    auto second = launch({"--window"});
    ASSERT_TRUE(second) << "a second --window did not end: it opened a window of its own";
    EXPECT_EQ(second->status, exitedWith(0));
    EXPECT_EQ(second->output, "vanto: handed to the window that is already open\n");
    EXPECT_FALSE(first.wait(0ms)) << "the first window ended";
    EXPECT_EQ(vantoWindows(), std::vector<pid_t>{first.pid()});

    // A sheet that does not load is reported where it was named; the window never hears of it.
    const auto sheet = folder.path() / "empty.json";
    std::ofstream(sheet) << R"({"title":"Tour","scenes":[]})";
    auto broken = launch({"--demo", sheet.string()});
    ASSERT_TRUE(broken);
    EXPECT_EQ(broken->status, exitedWith(1));
    EXPECT_EQ(broken->output, "the demo sheet has no scenes in it\n");
    EXPECT_EQ(vantoWindows(), std::vector<pid_t>{first.pid()});
}

} // namespace
} // namespace vanto::e2e
