#include "service/Connector.h"

#include "platform/fake/QuietNetwork.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeWorkspace.h"
#include "service/ConnectError.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace vanto {
namespace {

class ConnectorTest : public ::testing::Test {
protected:
    fake::FakePlatform fake;
    fake::FakeWorkspace workspace;
    fake::QuietNetwork network;

    Connector connector(const std::string& apiBase, double timeout = 180) {
        return Connector(apiBase, timeout, {fake.processes, fake.random, fake.clock, workspace, network});
    }
};

TEST_F(ConnectorTest, theNonceIs32LowerCaseHexDigitsAndFreshEachTime) {
    std::set<std::string> seen;
    for (int i = 0; i < 50; ++i) {
        auto nonce = Connector::nonce(fake.random);
        EXPECT_TRUE(std::regex_match(nonce, std::regex("[0-9a-f]{32}"))) << nonce;
        seen.insert(nonce);
    }
    EXPECT_EQ(seen.size(), 50u);

    struct Fixed final : Random {
        void fill(std::span<std::uint8_t> bytes) override {
            for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 17);
        }
    } fixed;
    EXPECT_EQ(Connector::nonce(fixed), "00112233445566778899aabbccddeeff");
}

TEST_F(ConnectorTest, theAppBaseComesFromTheVariableOrFromTheApiHost) {
    EXPECT_EQ(Connector::appBase("https://api.vanto.video", fake.processes), "https://app.vanto.video");
    EXPECT_EQ(Connector::appBase("https://api.a.test//api.b", fake.processes), "https://app.a.test//app.b");
    EXPECT_EQ(Connector::appBase("http://127.0.0.1:8080", fake.processes), "http://127.0.0.1:8080");
    EXPECT_EQ(Connector::appBase("https://rapi.x.test", fake.processes), "https://rapi.x.test");
    fake.processes.env["VANTO_APP_BASE"] = "";
    EXPECT_EQ(Connector::appBase("https://api.vanto.video", fake.processes), "https://app.vanto.video");
    fake.processes.env["VANTO_APP_BASE"] = "http://127.0.0.1:3000";
    EXPECT_EQ(Connector::appBase("https://api.vanto.video", fake.processes), "http://127.0.0.1:3000");
}

TEST_F(ConnectorTest, theConnectPageOpensWithThePortAndStateAndNobodyFinishingTimesOut) {
    auto start = fake.clock.now();
    try {
        connector("https://api.vanto.video").run();
        FAIL() << "connected without a browser";
    } catch (const ConnectError& error) {
        EXPECT_EQ(error.kind(), ConnectError::Case::timedOut);
    }
    EXPECT_DOUBLE_EQ(fake.clock.now() - start, 180);
    auto opened = workspace.openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(opened[0], std::regex(R"(https://app\.vanto\.video/connect\?cli=4711&state=[0-9a-f]{32})")))
        << opened[0];
}

TEST_F(ConnectorTest, aBrowserThatCannotBeStartedStillLeavesTheWaitToTheTimeOut) {
    workspace.browserAvailable = false;
    EXPECT_THROW(connector("https://api.vanto.video", 30).run(), ConnectError);
    EXPECT_EQ(workspace.openedURLs().size(), 1u);
}

TEST_F(ConnectorTest, anAppBaseThatMakesNoAddressIsABadApiBaseAndOpensNothing) {
    fake.processes.env["VANTO_APP_BASE"] = "not an address";
    try {
        connector("https://api.vanto.video").run();
        FAIL();
    } catch (const ConnectError& error) {
        EXPECT_STREQ(error.what(), "not a usable API base: https://api.vanto.video");
    }
    fake.processes.env.erase("VANTO_APP_BASE");
    try {
        connector("api.vanto.video").run();
        FAIL();
    } catch (const ConnectError& error) {
        EXPECT_STREQ(error.what(), "not a usable API base: api.vanto.video");
    }
    EXPECT_TRUE(workspace.openedURLs().empty());
}

TEST_F(ConnectorTest, cancellingTheFlowEndsItWithCancelled) {
    std::stop_source stop;
    workspace.onOpen = [&](const std::string&) { stop.request_stop(); };
    fake.clock.setAutoAdvance(false);
    EXPECT_THROW(connector("https://api.vanto.video").run(stop.get_token()), Cancelled);
}

} // namespace
} // namespace vanto
