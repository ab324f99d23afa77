#include "engine/Engine.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <cctype>

namespace vanto {
namespace {

class EngineTest : public ::testing::Test {
protected:
    fake::FakePlatform fake;
    Platform platform = fake.platform();
};

TEST_F(EngineTest, defaultOutputIsAFreshCaptureFileInTheTemporaryFolder) {
    Engine engine(platform);
    auto first = engine.defaultOutputURL();
    auto second = engine.defaultOutputURL();
    EXPECT_NE(first, second);
    EXPECT_EQ(first.parent_path(), fake.paths.tempDir());
    auto name = first.filename().string();
    ASSERT_EQ(name.size(), std::string("vanto-capture-").size() + 36 + 4);
    EXPECT_EQ(name.substr(0, 14), "vanto-capture-");
    EXPECT_EQ(name.substr(name.size() - 4), ".mov");
    for (char c : name.substr(14, 36)) EXPECT_TRUE(c == '-' || std::isdigit(c) || (c >= 'A' && c <= 'F')) << name;
}

TEST_F(EngineTest, theServiceClientIsMadeFromTheStoredLinkOnly) {
    Engine engine(platform);
    EXPECT_FALSE(engine.serviceClient()) << "a client without a stored link";

    engine.configStore().save({"tok-1", "https://api.one.test"});
    auto stored = engine.serviceClient();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->config(), (Config{"tok-1", "https://api.one.test"}));

    // The environment's service address wins over the stored one, as for every client.
    fake.processes.env["VANTO_API_BASE"] = "https://api.two.test";
    auto overridden = engine.serviceClient();
    ASSERT_TRUE(overridden);
    EXPECT_EQ(overridden->config(), (Config{"tok-1", "https://api.two.test"}));

    engine.configStore().clear();
    EXPECT_FALSE(engine.serviceClient()) << "a client for a link that was forgotten";
}

TEST_F(EngineTest, theProcessWideRunLogNeverOutlivesItsEngine) {
    {
        Engine engine(platform);
        RunLog::setShared(&engine.runLog());
    }
    EXPECT_EQ(RunLog::shared(), nullptr);
}

} // namespace
} // namespace vanto
