#include "service/AccountCommands.h"

#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryDefaults.h"
#include "platform/fake/QuietNetwork.h"
#include "platform/fake/ScriptedHttp.h"
#include "service/ConfigStore.h"
#include "service/ConnectError.h"
#include "service/UploadError.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace vanto {
namespace {

constexpr const char* profile = R"({"user":{"id":"u1","email":"ada@example.test","name":"Ada L"}})";

// Records what ran on the main thread, and checks that the preference and the file
// change there together.
class RecordingMainThread final : public MainThread {
public:
    void run(std::function<void()> f) override {
        ++runs;
        inside = true;
        f();
        inside = false;
    }
    void post(std::function<void()> f) override { run(std::move(f)); }
    int runs = 0;
    bool inside = false;
};

class AccountCommandsTest : public ::testing::Test {
protected:
    fake::FakePlatform fake;
    fake::ScriptedHttp http{&fake.clock};
    fake::FakeWorkspace workspace;
    fake::MemoryDefaults defaults;
    fake::QuietNetwork network;
    RecordingMainThread mainThread;
    AccountCommands commands{
        {fake.paths, fake.processes, fake.clock, fake.random, http, workspace, network, mainThread, defaults}};
    ConfigStore store{fake.paths, fake.processes};
};

TEST_F(AccountCommandsTest, connectWithATokenAsksTheServiceAndSavesTheLink) {
    http.answer(200, profile);
    auto status = commands.connect(std::string("tok-explicit-123"), std::string("https://api.explicit.test"));
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.apiBase, "https://api.explicit.test");
    EXPECT_EQ(status.email, "ada@example.test");
    EXPECT_EQ(status.name, "Ada L");
    EXPECT_EQ(store.load(), (Config{"tok-explicit-123", "https://api.explicit.test"}));
    EXPECT_TRUE(workspace.openedURLs().empty()) << "a token needs no browser";
    ASSERT_EQ(http.sent().size(), 1u);
    EXPECT_EQ(http.sent()[0].request.url, "https://api.explicit.test/api/profile");
}

TEST_F(AccountCommandsTest, connectUsesTheResolvedBaseAndSavesNothingWhenTheServiceRefuses) {
    fake.processes.env["VANTO_API_BASE"] = "https://api.env.test";
    http.answer(401, "");
    try {
        commands.connect(std::string("tok-refused-123"), std::nullopt);
        FAIL();
    } catch (const UploadError& error) {
        EXPECT_EQ(error.kind(), UploadError::Case::signedOut);
    }
    EXPECT_EQ(http.sent()[0].request.url, "https://api.env.test/api/profile");
    EXPECT_FALSE(store.load());
}

TEST_F(AccountCommandsTest, aTokenThatWouldBreakAHeaderIsRefusedBeforeAnythingIsSentOrSaved) {
    http.answer(200, profile);
    for (const std::string& token :
         std::vector<std::string>{"tok\r\nX-Injected: 1", "tok\nline", std::string("tok\0cut", 7), "tok\x7f"}) {
        try {
            commands.connect(token, std::string("https://api.explicit.test"));
            FAIL() << "connected with a control character";
        } catch (const UploadError& error) {
            EXPECT_EQ(error.kind(), UploadError::Case::unusableToken);
            EXPECT_EQ(std::string(error.what()).find(token), std::string::npos) << "the token is never quoted";
        }
    }
    EXPECT_TRUE(http.sent().empty());
    EXPECT_FALSE(store.load());
}

TEST_F(AccountCommandsTest, connectWithoutATokenRunsTheBrowserFlowAndTimesOutWhenNobodyFinishes) {
    try {
        commands.connect(std::string(""), std::string("https://api.vanto.test"));
        FAIL();
    } catch (const ConnectError& error) {
        EXPECT_EQ(error.kind(), ConnectError::Case::timedOut);
    }
    ASSERT_EQ(workspace.openedURLs().size(), 1u);
    EXPECT_TRUE(workspace.openedURLs()[0].starts_with("https://app.vanto.test/connect?cli=4711&state="));
    EXPECT_TRUE(http.sent().empty());
    EXPECT_FALSE(store.load());
}

TEST_F(AccountCommandsTest, accountWhenNotConnectedIsAnAnswerNotAnError) {
    auto status = commands.account();
    EXPECT_FALSE(status.connected);
    EXPECT_EQ(status.apiBase, ConfigStore::defaultAPIBase);
    EXPECT_FALSE(status.email);
    EXPECT_TRUE(http.sent().empty());
    fake.processes.env["VANTO_API_BASE"] = "http://127.0.0.1:1";
    EXPECT_EQ(commands.account().apiBase, "http://127.0.0.1:1");
}

TEST_F(AccountCommandsTest, accountWhenConnectedAsksTheServiceAtTheOverriddenBase) {
    store.save({"tok-stored-123", "https://api.stored.test"});
    fake.processes.env["VANTO_API_BASE"] = "https://api.override.test";
    http.answer(200, R"({"user":{"id":"u9"}})");
    auto status = commands.account();
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.apiBase, "https://api.override.test");
    EXPECT_FALSE(status.email);
    EXPECT_FALSE(status.name);
    EXPECT_EQ(http.sent()[0].request.url, "https://api.override.test/api/profile");
    EXPECT_EQ(http.sent()[0].request.header("Authorization"), "Bearer tok-stored-123");
}

TEST_F(AccountCommandsTest, disconnectRevokesSwitchesOffAlwaysAllowAndClearsOnTheMainThread) {
    store.save({"tok-to-revoke-123", "https://api.stored.test"});
    defaults.set("cloudRecordingsAlwaysAllowed", true);
    http.fail(HttpTransportError::cannotConnect("https://api.stored.test"));
    auto status = commands.disconnect();
    EXPECT_FALSE(status.connected);
    EXPECT_EQ(status.apiBase, ConfigStore::defaultAPIBase);
    ASSERT_EQ(http.sent().size(), 1u);
    EXPECT_EQ(http.sent()[0].request.method, "DELETE");
    EXPECT_EQ(http.sent()[0].request.header("Authorization"), "Bearer tok-to-revoke-123");
    EXPECT_EQ(defaults.values.at("cloudRecordingsAlwaysAllowed"), false);
    EXPECT_FALSE(std::filesystem::exists(store.url()));
    EXPECT_EQ(mainThread.runs, 1);
}

TEST_F(AccountCommandsTest, disconnectWithoutALinkClearsWhatIsThereAndSendsNothing) {
    std::filesystem::create_directories(store.url().parent_path());
    std::ofstream(store.url()) << R"({"token":"half-a-config"})";
    auto status = commands.disconnect();
    EXPECT_FALSE(status.connected);
    EXPECT_FALSE(std::filesystem::exists(store.url()));
    EXPECT_TRUE(http.sent().empty());
    EXPECT_FALSE(defaults.get("cloudRecordingsAlwaysAllowed"));
}

} // namespace
} // namespace vanto
