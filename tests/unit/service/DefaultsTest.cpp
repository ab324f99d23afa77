#include "platform/JsonFileDefaults.h"

#include "base/AtomicFile.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <fstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;

TEST(JsonFileDefaults, valuesSurviveANewStoreAndRemovalForgetsThem) {
    fake::FakePlatform fake;
    auto file = fake.paths.configDir() / JsonFileDefaults::fileName;
    {
        JsonFileDefaults defaults(file);
        EXPECT_FALSE(defaults.get("cloudRecordingsAlwaysAllowed"));
        EXPECT_TRUE(defaults.boolValue("acceptCloudRecordings", true));
        defaults.set("cloudRecordingsAlwaysAllowed", true);
        defaults.set("prompts", nlohmann::json::array({"a", "b"}));
    }
    JsonFileDefaults again(file);
    EXPECT_EQ(again.get("cloudRecordingsAlwaysAllowed"), true);
    EXPECT_TRUE(again.boolValue("cloudRecordingsAlwaysAllowed", false));
    EXPECT_EQ(again.get("prompts"), nlohmann::json::array({"a", "b"}));
    again.remove("cloudRecordingsAlwaysAllowed");
    EXPECT_FALSE(JsonFileDefaults(file).get("cloudRecordingsAlwaysAllowed"));
    EXPECT_EQ((fs::status(file).permissions() & fs::perms::mask), fs::perms::owner_read | fs::perms::owner_write);
}

TEST(JsonFileDefaults, aDamagedFileReadsAsEmptyAndIsReplacedWhole) {
    fake::FakePlatform fake;
    auto file = fake.paths.configDir() / JsonFileDefaults::fileName;
    fs::create_directories(file.parent_path());
    std::ofstream(file) << "{ not json";
    JsonFileDefaults defaults(file);
    EXPECT_FALSE(defaults.get("x"));
    EXPECT_FALSE(defaults.boolValue("x", false));
    defaults.set("x", "text");
    EXPECT_FALSE(defaults.boolValue("x", false)) << "not a Boolean";
    EXPECT_EQ(defaults.get("x"), "text");
}

TEST(AtomicFile, theOldFileStaysWhenTheNewOneCannotBePutInPlace) {
    fake::FakePlatform fake;
    auto folder = fake.paths.tempDir() / "atomic";
    createFolders(folder / "a" / "b", fs::perms::owner_all);
    EXPECT_EQ((fs::status(folder / "a").permissions() & fs::perms::mask), fs::perms::owner_all);
    writeAtomically(folder / "a" / "file", "first");
    fs::create_directories(folder / "a" / "blocked" / "x");
    EXPECT_THROW(writeAtomically(folder / "a" / "blocked", "second"), fs::filesystem_error);
    int entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder / "a")) ++entries;
    EXPECT_EQ(entries, 3) << "no temporary file is left behind";
    std::ifstream in(folder / "a" / "file");
    std::string text;
    in >> text;
    EXPECT_EQ(text, "first");
}

} // namespace
} // namespace vanto
