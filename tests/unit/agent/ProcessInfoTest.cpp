#include "agent/ProcessInfo.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

TEST(ProcessInfo, enclosingAppNameIsTheInnermostBundle) {
    EXPECT_EQ(ProcessInfo::enclosingAppName("/Applications/iTerm.app/Contents/MacOS/iTerm2"), "iTerm");
    EXPECT_EQ(ProcessInfo::enclosingAppName("/A/Outer.app/Contents/Helpers/Inner.app/Contents/MacOS/x"), "Inner");
    EXPECT_EQ(ProcessInfo::enclosingAppName("//Tools.app//bin"), "Tools");
    EXPECT_EQ(ProcessInfo::enclosingAppName("/usr/bin/bash"), std::nullopt);
    EXPECT_EQ(ProcessInfo::enclosingAppName("/opt/app/bin"), std::nullopt);
    EXPECT_EQ(ProcessInfo::enclosingAppName(""), std::nullopt);
}

TEST(ProcessInfo, responsibleAppIsTheFirstAncestorInsideABundle) {
    fake::FakeProcesses p;
    p.self = 500;
    p.table[500] = {400, "/usr/local/bin/vanto"};
    p.table[400] = {300, "/bin/zsh"};
    p.table[300] = {200, "/Applications/Ghostty.app/Contents/MacOS/ghostty"};
    p.table[200] = {1, "/Applications/Finder.app/Contents/MacOS/Finder"};
    EXPECT_EQ(ProcessInfo::responsiblePID(p), 300);
    EXPECT_EQ(ProcessInfo::responsibleName(p), "Ghostty");
    EXPECT_EQ(ProcessInfo::ancestorPIDs(p), (std::set<std::int32_t>{500, 400, 300, 200}));
}

TEST(ProcessInfo, withoutABundleTheTerminalVariableOrAPhraseNamesTheLauncher) {
    fake::FakeProcesses p;
    p.self = 50;
    p.table[50] = {40, "/usr/bin/vanto"};
    p.table[40] = {1, "/usr/bin/bash"};
    EXPECT_EQ(ProcessInfo::responsiblePID(p), std::nullopt);
    EXPECT_EQ(ProcessInfo::responsibleName(p), "the application running vanto");
    p.env["TERM_PROGRAM"] = "WezTerm";
    EXPECT_EQ(ProcessInfo::responsibleName(p), "WezTerm");
}

TEST(ProcessInfo, theWalkIsBoundedAndStopsAtFailedLookups) {
    fake::FakeProcesses p;
    // A chain 20 deep: 100 -> 101 -> ... ; the bundle sits 9 steps up, beyond the 8-step limit.
    p.self = 100;
    for (int pid = 100; pid < 120; ++pid) p.table[pid] = {pid + 1, "/bin/sh"};
    p.table[109].path = "/Applications/Far.app/Contents/MacOS/far";
    EXPECT_EQ(ProcessInfo::responsiblePID(p), std::nullopt);
    p.table[108].path = "/Applications/Near.app/Contents/MacOS/near";
    EXPECT_EQ(ProcessInfo::responsiblePID(p), 108);
    EXPECT_EQ(ProcessInfo::ancestorPIDs(p).size(), 13u); // itself and 12 ancestors

    fake::FakeProcesses broken;
    broken.self = 10;
    broken.table[10] = {11, ""};
    // 11 is not in the table: the walk ends there.
    EXPECT_EQ(ProcessInfo::ancestorPIDs(broken), (std::set<std::int32_t>{10, 11}));
}

} // namespace
} // namespace vanto
