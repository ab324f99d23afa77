#include "service/ConfigStore.h"

#include "agent/RunRegistry.h"
#include "platform/fake/FakePlatform.h"
#include "service/UploadError.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace vanto {
namespace {

namespace fs = std::filesystem;

class ConfigStoreTest : public ::testing::Test {
protected:
    fake::FakePlatform fake;
    ConfigStore store{fake.paths, fake.processes};

    fs::path defaultFile() { return fake.paths.home() / ".config" / "vanto" / "config.json"; }

    void write(const fs::path& file, const std::string& text) {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }

    static std::string read(const fs::path& file) {
        std::ifstream in(file);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    static fs::perms permissionsOf(const fs::path& path) { return fs::status(path).permissions() & fs::perms::mask; }
};

TEST_F(ConfigStoreTest, theFileLivesUnderTheHomeFolderUnlessVantoConfigNamesAnother) {
    EXPECT_EQ(store.url(), defaultFile());
    fake.processes.env["VANTO_CONFIG"] = "";
    EXPECT_EQ(store.url(), defaultFile()) << "an empty VANTO_CONFIG is no override";
    fake.processes.env["VANTO_CONFIG"] = (fake.paths.tempDir() / "elsewhere.json").string();
    EXPECT_EQ(store.url(), fake.paths.tempDir() / "elsewhere.json");

    store.save({"tok-elsewhere-123", "https://api.example.test"});
    EXPECT_TRUE(fs::exists(fake.paths.tempDir() / "elsewhere.json"));
    EXPECT_FALSE(fs::exists(defaultFile()));
    EXPECT_EQ(store.load(), (Config{"tok-elsewhere-123", "https://api.example.test"}));
}

TEST_F(ConfigStoreTest, saveWritesTheTwoKeysInOrderCompactlyAndLoadReadsThemBack) {
    store.save({"secret-token-1", "https://api.vanto.test"});
    EXPECT_EQ(read(defaultFile()), R"({"token":"secret-token-1","apiBase":"https://api.vanto.test"})");
    EXPECT_EQ(store.load(), (Config{"secret-token-1", "https://api.vanto.test"}));
}

TEST_F(ConfigStoreTest, anIncompleteOrDamagedFileIsNoConfiguration) {
    for (std::string text : {R"({"token":"only-a-token"})", R"({"apiBase":"https://x.test"})",
                             R"({"token":5,"apiBase":"https://x.test"})", "not json", "[1,2]", ""}) {
        write(defaultFile(), text);
        EXPECT_FALSE(store.load()) << text;
    }
    write(defaultFile(), R"({"token":"only-a-token"})");
    EXPECT_EQ(store.resolveAPIBase(std::nullopt), ConfigStore::defaultAPIBase);
    EXPECT_TRUE(std::string(ConfigStore::defaultAPIBase).starts_with("https://"));
}

TEST_F(ConfigStoreTest, vantoApiBaseOverridesTheFileButNotAnExplicitValue) {
    store.save({"tok-stored-value", "https://stored.test"});
    EXPECT_EQ(store.resolveAPIBase(std::nullopt), "https://stored.test");

    fake.processes.env["VANTO_API_BASE"] = "http://127.0.0.1:9";
    auto loaded = store.load();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(loaded->token, "tok-stored-value");
    EXPECT_EQ(loaded->apiBase, "http://127.0.0.1:9");
    EXPECT_EQ(store.resolveAPIBase(std::nullopt), "http://127.0.0.1:9");
    EXPECT_EQ(store.resolveAPIBase(std::string()), "http://127.0.0.1:9") << "an explicit empty value is ignored";
    EXPECT_EQ(store.resolveAPIBase(std::string("https://explicit.test")), "https://explicit.test");

    fake.processes.env["VANTO_API_BASE"] = "";
    EXPECT_EQ(store.load()->apiBase, "https://stored.test") << "an empty variable overrides nothing";
    EXPECT_EQ(store.resolveAPIBase(std::nullopt), "https://stored.test");
    // What the file holds is taken as stored; the variable never leaks into it.
    EXPECT_EQ(read(defaultFile()), R"({"token":"tok-stored-value","apiBase":"https://stored.test"})");
}

TEST_F(ConfigStoreTest, withNothingStoredTheDefaultBaseIsUsed) {
    EXPECT_FALSE(store.load());
    EXPECT_EQ(store.resolveAPIBase(std::nullopt), ConfigStore::defaultAPIBase);
}

TEST_F(ConfigStoreTest, theFolderIsOwnerOnlyAndTheFileOwnerReadWriteAlsoOverAWiderOlderFile) {
    store.save({"tok-first-save", "https://a.test"});
    EXPECT_EQ(permissionsOf(defaultFile().parent_path()), fs::perms::owner_all);
    EXPECT_EQ(permissionsOf(defaultFile()), fs::perms::owner_read | fs::perms::owner_write);

    fs::permissions(defaultFile(), fs::perms::all, fs::perm_options::replace);
    ASSERT_EQ(permissionsOf(defaultFile()), fs::perms::all);
    store.save({"tok-second-save", "https://b.test"});
    EXPECT_EQ(permissionsOf(defaultFile()), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(store.load()->token, "tok-second-save");
    // No temporary file is left beside it.
    int files = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(defaultFile().parent_path())) ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(ConfigStoreTest, aFolderThatExistedKeepsItsPermissions) {
    auto shared = fake.paths.tempDir() / "shared";
    fs::create_directories(shared);
    fs::permissions(shared, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                    fs::perm_options::replace);
    fake.processes.env["VANTO_CONFIG"] = (shared / "deeper" / "config.json").string();
    store.save({"tok-in-shared", "https://a.test"});
    EXPECT_EQ(permissionsOf(shared), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec);
    EXPECT_EQ(permissionsOf(shared / "deeper"), fs::perms::owner_all);
    EXPECT_EQ(permissionsOf(shared / "deeper" / "config.json"), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConfigStoreTest, aPromptRunBeforeTheFirstSaveStillLeavesEveryFolderOfTheTokenOwnerOnly) {
    RunRegistry runs(fake.paths.configDir() / "runs", fake.processes, fake.clock);
    runs.registerRun();
    EXPECT_EQ(permissionsOf(fake.paths.configDir()), fs::perms::owner_all);
    EXPECT_EQ(permissionsOf(fake.paths.configDir() / "runs"), fs::perms::owner_all);
    runs.deregister();

    // Made wider by an older version: saving the token shuts it again.
    fs::permissions(fake.paths.configDir(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    fs::perm_options::replace);
    store.save({"tok-after-a-run", "https://a.test"});
    EXPECT_EQ(permissionsOf(fake.paths.configDir()), fs::perms::owner_all);
    EXPECT_EQ(permissionsOf(defaultFile()), fs::perms::owner_read | fs::perms::owner_write);
}

TEST_F(ConfigStoreTest, aTokenThatWouldBreakAHeaderIsNeitherSavedNorLoaded) {
    for (const std::string& token : std::vector<std::string>{"tok\r\nX-Injected: 1", std::string("tok\0cut", 7), ""}) {
        try {
            store.save({token, "https://a.test"});
            FAIL() << "saved a token with a control character";
        } catch (const UploadError& error) {
            EXPECT_EQ(error.kind(), UploadError::Case::unusableToken);
        }
        EXPECT_FALSE(fs::exists(defaultFile()));
    }
    write(defaultFile(), R"({"token":"tok\r\nX-Injected: 1","apiBase":"https://a.test"})");
    EXPECT_FALSE(store.load()) << "a stored token that cannot be sent is no link";
    write(defaultFile(), R"({"token":"tok\u0000cut","apiBase":"https://a.test"})");
    EXPECT_FALSE(store.load());
}

TEST_F(ConfigStoreTest, clearRemovesTheFileAndSucceedsWithoutOne) {
    EXPECT_NO_THROW(store.clear());
    store.save({"tok-to-clear", "https://a.test"});
    store.clear();
    EXPECT_FALSE(fs::exists(defaultFile()));
    EXPECT_FALSE(store.load());
    EXPECT_NO_THROW(store.clear());
}

TEST_F(ConfigStoreTest, aFileThatCannotBeWrittenIsReportedWithoutTheToken) {
    // A folder standing where the file should be cannot be replaced by a file.
    fs::create_directories(defaultFile() / "in-the-way");
    try {
        store.save({"tok-never-shown-123", "https://a.test"});
        FAIL() << "saved over a folder";
    } catch (const ConfigError& error) {
        std::string message = error.what();
        EXPECT_EQ(message.rfind("could not write the configuration file " + defaultFile().string() + ": ", 0), 0u)
            << message;
        EXPECT_EQ(message.find("tok-never-shown-123"), std::string::npos);
    }
}

TEST_F(ConfigStoreTest, aTokenThatIsNotTextCannotBeEncodedAndIsNotQuoted) {
    try {
        store.save({std::string("bad\xff-token-bytes"), "https://a.test"});
        FAIL() << "encoded invalid UTF-8";
    } catch (const ConfigError& error) {
        EXPECT_STREQ(error.what(), "the configuration could not be encoded as JSON");
    }
    EXPECT_FALSE(fs::exists(defaultFile()));
}

} // namespace
} // namespace vanto
