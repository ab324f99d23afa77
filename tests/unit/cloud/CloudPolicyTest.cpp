#include "cloud/CloudPolicy.h"
#include "platform/fake/FakeResolver.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

Step step(const std::string& action) {
    Step s;
    s.action = action;
    return s;
}

class CloudPolicyTest : public ::testing::Test {
protected:
    CloudPolicyTest() { resolver.hosts["example.com"] = {"93.184.215.14"}; }

    std::string verdict(const Step& s) {
        try {
            policy.admit(s);
        } catch (const std::exception& refusal) {
            return refusal.what();
        }
        return "admitted";
    }

    fake::FakeResolver resolver;
    CloudPolicy policy{{"/tmp/run/cards/CARD.html"}, CloudGuard::resolve(resolver)};
};

TEST_F(CloudPolicyTest, openingAnotherApplicationLeavesTheStage) {
    auto open = step("open");
    open.app = "Terminal";
    EXPECT_EQ(verdict(open), "a run an assistant asked for stays in the stage browser, and this step opens Terminal");
    open.app = "Google Chrome"; // even the stage browser: the stage is already open
    EXPECT_EQ(verdict(open),
              "a run an assistant asked for stays in the stage browser, and this step opens Google Chrome");
    open.app.reset();
    EXPECT_EQ(verdict(open),
              "a run an assistant asked for stays in the stage browser, and this step opens another application");
    open.app = "";
    EXPECT_EQ(verdict(open),
              "a run an assistant asked for stays in the stage browser, and this step opens another application");
    try {
        policy.admit(open);
    } catch (const CloudPolicy::Refusal& refusal) {
        EXPECT_EQ(refusal.which(), CloudPolicy::Refusal::Case::leavesTheStage);
    }
}

TEST_F(CloudPolicyTest, navigationGoesThroughTheGuard) {
    auto navigate = step("navigate");
    navigate.url = "https://example.com/";
    EXPECT_EQ(verdict(navigate), "admitted");
    navigate.url = "http://localhost:3000";
    EXPECT_THROW(policy.admit(navigate), CloudGuard::Refusal);
    navigate.url = "file:///tmp/run/cards/CARD.html";
    EXPECT_EQ(verdict(navigate), "admitted");
    navigate.url = "file:///tmp/run/cards/OTHER.html";
    EXPECT_EQ(verdict(navigate),
              "a run an assistant asked for only opens public web pages, not file:///tmp/run/cards/OTHER.html");
    navigate.url.reset();
    EXPECT_EQ(verdict(navigate), "a run an assistant asked for only opens public web pages, not ");
}

TEST_F(CloudPolicyTest, browserShortcutsAreRefusedWithTheKeyAsWritten) {
    auto key = step("key");
    key.key = "Cmd+L";
    EXPECT_EQ(verdict(key), "a run an assistant asked for presses only keys meant for the page, not Cmd+L");
    key.key = "cmd+l";
    EXPECT_EQ(verdict(key), "a run an assistant asked for presses only keys meant for the page, not cmd+l");
    key.key = "shift+tab";
    EXPECT_EQ(verdict(key), "admitted");
    key.key.reset();
    EXPECT_EQ(verdict(key), "admitted"); // the step itself fails for its missing key
    for (const char* action : {"click", "type", "scroll", "wait", "back", "something new"})
        EXPECT_EQ(verdict(step(action)), "admitted") << action;
    EXPECT_EQ(std::string(CloudPolicy::Refusal::browserControls().what()),
              "a run an assistant asked for types only into the page, not into the browser's own address bar or "
              "search box");
}

TEST(CloudPolicy, whichKeysAreBrowserShortcuts) {
    for (const char* key : {"cmd+l", "ctrl+t", "cmd + w", "shift+f6", "F6", "alt+left", "option+d", "fn+f",
                            "shift+cmd+n", "ctrl+shift+tab", "meta+a", "super+x", " CMD+L "})
        EXPECT_TRUE(CloudPolicy::isBrowserShortcut(key)) << key;
    for (const char* key : {"Return", "tab", "shift+tab", "a", "shift+a", "Shift + Shift + b", "escape", "f5", "+a",
                            "a+", "", "+", "space"})
        EXPECT_FALSE(CloudPolicy::isBrowserShortcut(key)) << key;
}

} // namespace
} // namespace vanto
