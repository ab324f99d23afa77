// What a claim must carry, how its sheet becomes a demo sheet, and the held-run file.

#include "base/Files.h"
#include "base/Json.h"
#include "cloud/CloudClaim.h"
#include "cloud/CloudSheetMaker.h"
#include "cloud/HeldRun.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/FakeResolver.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <fstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;

nlohmann::json claimJSON() {
    return nlohmann::json::parse(R"({
        "id": "run-1", "attempt": 1, "requested_by": "Claude", "claim_token": "ct-secret",
        "limits": {"run_ms": 60000}, "resume": false,
        "sheet": {"title": "Tour", "stage": {"width": 1280, "height": 720},
                  "scenes": [{"kind": "take", "prompt": "show the cart", "startURL": "https://shop.example/",
                              "take_id": "t1", "driven": true}]}})");
}

std::string decodeFailure(const nlohmann::json& claim) {
    try {
        CloudClaim::fromJSON(claim);
    } catch (const DecodeError& error) {
        return error.what();
    }
    return "decoded";
}

TEST(CloudClaim, requiredKeysAndTypesAreStrictAndTheRunLimitDefaultsToTwentyMinutes) {
    auto claim = CloudClaim::fromJSON(claimJSON());
    EXPECT_FALSE(claim.intoVideoID); // optional: a claim without it decodes
    EXPECT_EQ(claim.runMs(), 60000);
    EXPECT_EQ(claim.sheet.scenes.at(0).takeID, "t1");
    EXPECT_EQ(claim.sheet.scenes.at(0).driven, true);

    auto withoutRunLimit = claimJSON();
    withoutRunLimit["limits"] = nlohmann::json::object();
    EXPECT_EQ(CloudClaim::fromJSON(withoutRunLimit).runMs(), 1'200'000);

    auto without = [](const char* key) {
        auto claim = claimJSON();
        claim.erase(key);
        return claim;
    };
    EXPECT_EQ(decodeFailure(without("limits")), "missing \"limits\"");
    EXPECT_EQ(decodeFailure(without("resume")), "missing \"resume\"");
    EXPECT_EQ(decodeFailure(without("claim_token")), "missing \"claim_token\"");
    EXPECT_EQ(decodeFailure(without("attempt")), "missing \"attempt\"");

    auto wrong = claimJSON();
    wrong["limits"]["run_ms"] = "60000";
    EXPECT_EQ(decodeFailure(wrong), "limits: \"run_ms\" must be a whole number");
    wrong = claimJSON();
    wrong["sheet"]["stage"].erase("height");
    EXPECT_EQ(decodeFailure(wrong), "sheet: stage: missing \"height\"");
    wrong = claimJSON();
    wrong["sheet"]["scenes"][0]["take_id"] = 7;
    EXPECT_EQ(decodeFailure(wrong), "sheet: scene 1: \"take_id\" must be a string");
    wrong = claimJSON();
    wrong["sheet"]["scenes"][0].erase("kind");
    EXPECT_EQ(decodeFailure(wrong), "sheet: scene 1: missing \"kind\"");
}

class CloudSheetMakerTest : public ::testing::Test {
protected:
    CloudSheetMakerTest() {
        folder = fs::temp_directory_path() / ("vanto-cloud-sheet-" + std::to_string(::getpid()));
        fs::remove_all(folder);
    }
    ~CloudSheetMakerTest() override { fs::remove_all(folder); }

    CloudSheetMaker maker(CloudSheet sheet, std::optional<std::int64_t> screenHeight = 1000) {
        return CloudSheetMaker(std::move(sheet), folder, screenHeight, random, CloudGuard::resolve(resolver));
    }

    static CloudSheet sheetOf(std::vector<CloudScene> scenes) {
        return CloudSheet{"Tour", std::nullopt, std::nullopt, {1280, 720}, std::move(scenes)};
    }

    fs::path folder;
    fake::SeededRandom random;
    fake::FakeResolver resolver;
};

TEST_F(CloudSheetMakerTest, scenesAreNamedKeyedAndCardsShareOneHoldPlan) {
    auto scene = [](const char* json) { return CloudScene::fromJSON(nlohmann::json::parse(json)); };
    auto titled = scene(R"({"kind": "card", "title": "Welcome", "subtitle": "to the shop"})");
    auto hold = scene(R"({"kind": "hold", "seconds": 2.5, "freezeOn": "the cart", "prompt": "ignored"})");
    auto unnamedCard = scene(R"({"kind": "card", "take_id": "c3", "attempt": 2, "call_to_action": "Buy"})");
    auto take = scene(R"({"kind": "other", "name": "", "startURL": "https://shop.example/", "prompt": "add a hat",
                          "take_id": "t1", "driven": true})");
    auto made = maker(sheetOf({titled, hold, unnamedCard, take})).make();
    const auto& scenes = made.sheet.scenes;
    ASSERT_EQ(scenes.size(), 4u);

    EXPECT_EQ(scenes[0].name, "Welcome");
    EXPECT_EQ(scenes[0].prompt, "Hold on the title card");
    EXPECT_TRUE(scenes[0].pageOnly);
    EXPECT_FALSE(scenes[0].clientKey);
    Scene expectedHold;
    expectedHold.kind = Scene::Kind::hold;
    expectedHold.name = "Scene 2";
    expectedHold.seconds = 2.5;
    expectedHold.freezeOn = "the cart";
    EXPECT_EQ(scenes[1], expectedHold);
    EXPECT_EQ(scenes[2].name, "Scene 3");
    EXPECT_EQ(scenes[2].clientKey, "take:c3:attempt:2");
    // An empty name does not count; any other kind is a take.
    EXPECT_EQ(scenes[3].name, "Scene 4");
    EXPECT_EQ(scenes[3].kind, Scene::Kind::take);
    EXPECT_EQ(scenes[3].clientKey, "take:t1:attempt:1");
    EXPECT_TRUE(scenes[3].driven && scenes[3].pageOnly);
    EXPECT_EQ(scenes[3].startURL, "https://shop.example/");

    // Two cards: two pages, the policy allows exactly those, and both share one plan
    // holding exactly the fixed bytes.
    ASSERT_EQ(made.policy.allowedFiles.size(), 2u);
    EXPECT_NE(made.policy.allowedFiles[0], made.policy.allowedFiles[1]);
    EXPECT_EQ(scenes[0].startURL, "file://" + made.policy.allowedFiles[0].string());
    EXPECT_EQ(scenes[2].startURL, "file://" + made.policy.allowedFiles[1].string());
    auto card = readFile(made.policy.allowedFiles[1]);
    EXPECT_NE(card.find("<h1>Scene 3</h1>"), std::string::npos);
    EXPECT_NE(card.find(">Buy</p>"), std::string::npos);
    EXPECT_EQ(scenes[0].planFile, folder / "hold-card.json");
    EXPECT_EQ(scenes[2].planFile, scenes[0].planFile);
    EXPECT_EQ(readFile(folder / "hold-card.json"),
              R"({"steps":[{"action":"wait","ms":4000,"description":"shows the title card"}]})");
    Step showCard;
    showCard.action = "navigate";
    showCard.url = scenes[2].startURL;
    EXPECT_NO_THROW(made.policy.admit(showCard));

    EXPECT_TRUE(made.sheet.unattended);
    EXPECT_TRUE(made.sheet.projectSettings);
    EXPECT_EQ(made.sheet.title, "Tour");
}

TEST_F(CloudSheetMakerTest, theStageFitsTheScreenAndASheetOfHoldsFails) {
    constexpr auto bars = Stage::browserBarsHeight;
    constexpr auto borders = Stage::browserSideBorders;
    EXPECT_EQ(maker(sheetOf({}), 1000).stage({1280, 720}), (Stage{"Google Chrome", 1280 + borders, 720 + bars}));
    EXPECT_EQ(maker(sheetOf({}), std::nullopt).stage({1280, 720}),
              (Stage{"Google Chrome", 1280 + borders, 720 + bars}));
    // Too short a screen: the page becomes 700 - bars high and the width follows,
    // rounded to the nearest point.
    auto scaled = maker(sheetOf({}), 700).stage({1280, 720});
    EXPECT_EQ(scaled.height, 700);
    EXPECT_EQ(scaled.width, std::llround(1280.0 * (700 - bars) / 720) + borders);
    // A page of no height is not scaled (no division by zero) and does not validate.
    EXPECT_EQ(maker(sheetOf({}), 700).stage({1280, 0}).width, 1280 + borders);

    try {
        CloudScene hold;
        hold.kind = "hold";
        maker(sheetOf({hold, hold})).make();
        FAIL() << "a sheet of holds was made";
    } catch (const DemoSheet::Failure& failure) {
        EXPECT_EQ(failure.which(), DemoSheet::Failure::Case::nothingToRecord);
    }
}

TEST(HeldRun, isStoredForTheOwnerOnlyAndAnythingUnreadableIsNoHeldRun) {
    auto home = fs::temp_directory_path() / ("vanto-held-run-" + std::to_string(::getpid()));
    fs::remove_all(home);
    auto file = HeldRun::location(home / ".config" / "vanto" / "config.json");
    EXPECT_EQ(file, home / ".config" / "vanto" / "cloud-run.json");
    EXPECT_FALSE(HeldRun::read(file));

    HeldRun{"run-1", "ct-secret"}.save(file);
    EXPECT_EQ(readFile(file), R"({"runID":"run-1","claimToken":"ct-secret"})");
    EXPECT_EQ(HeldRun::read(file), (HeldRun{"run-1", "ct-secret"}));
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(file.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    std::ofstream(file) << R"({"runID":"run-1"})";
    EXPECT_FALSE(HeldRun::read(file));
    HeldRun::clear(file);
    EXPECT_FALSE(fs::exists(file));
    HeldRun::clear(file); // no file: nothing to do
    fs::remove_all(home);
}

} // namespace
} // namespace vanto
