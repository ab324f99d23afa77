// The recorder's requests about cloud runs against the devservice playing the
// assistant: claims, heartbeats and reports with stop instructions, a run taken away,
// and a driver's commands with their answers.

#include "ServiceFixture.h"

#include "cloud/CloudClaim.h"
#include "cloud/CloudDriver.h"

#include <fstream>

namespace vanto::test {
namespace {

const nlohmann::json sheet = {{"title", "Tour"},
                              {"stage", {{"width", 1280}, {"height", 720}}},
                              {"scenes", {{{"kind", "take"}, {"prompt", "show the cart"}, {"driven", true}}}}};

class CloudServiceTest : public ServiceFixture {
protected:
    void SetUp() override { token = service.addAccount("ada@example.test", "Ada Lovelace"); }

    nlohmann::json control(const std::string& path, const nlohmann::json& body = nullptr) {
        auto answer = body.is_null() ? service.call("GET", path)
                                     : service.call("POST", path, body.dump(), {{"Content-Type", "application/json"}});
        EXPECT_LT(answer.status, 300) << path << ": " << answer.body;
        return nlohmann::json::parse(answer.body, nullptr, false);
    }

    std::string token;
};

TEST_F(CloudServiceTest, aClaimedRunHearsItsStopAndKeepsItsReportsInOrderUntilItIsTakenAway) {
    auto api = client(token);
    EXPECT_FALSE(api.claimRun(std::nullopt)); // nothing waits
    auto id = control("/__cloud/requests", {{"sheet", sheet}, {"requested_by", "Claude"}})["id"].get<std::string>();

    auto answer = api.claimRun("permissions");
    ASSERT_TRUE(answer);
    auto claim = CloudClaim::fromJSON(*answer);
    EXPECT_EQ(claim.id, id);
    EXPECT_EQ(claim.attempt, 1);
    EXPECT_EQ(claim.requestedBy, "Claude");
    EXPECT_FALSE(claim.resume);
    EXPECT_EQ(claim.sheet.scenes.at(0).prompt, "show the cart");
    EXPECT_FALSE(api.claimRun(std::nullopt)); // claimed once only
    EXPECT_EQ(control("/__cloud/runs/" + id)["attention"], "permissions");

    EXPECT_EQ(api.heartbeat(id, claim.claimToken), std::nullopt);
    EXPECT_EQ(api.report(id, R"({"state":"asking","claim_token":")" + claim.claimToken + R"(","seq":1})"),
              std::nullopt);
    control("/__cloud/runs/" + id + "/stop", {{"stop", "switch_off"}});
    EXPECT_EQ(api.heartbeat(id, claim.claimToken), "switch_off");
    EXPECT_EQ(api.report(id, R"({"state":"cancelled","code":"switch_off","claim_token":")" + claim.claimToken +
                                 R"(","seq":2})"),
              "switch_off");
    EXPECT_THROW(api.heartbeat(id, "not-the-token"), Abandoned);

    auto run = control("/__cloud/runs/" + id);
    EXPECT_EQ(run["heartbeats"], 2);
    EXPECT_EQ(run["state"], "cancelled");
    EXPECT_EQ(run["reports"], nlohmann::json::parse(
                                  R"([{"state":"asking","seq":1},{"state":"cancelled","code":"switch_off","seq":2}])"));

    // Offered again, the same claim comes back as a resumption.
    control("/__cloud/runs/" + id + "/offer-again", nlohmann::json::object());
    auto resumed = CloudClaim::fromJSON(*api.claimRun(std::nullopt));
    EXPECT_TRUE(resumed.resume);
    EXPECT_EQ(resumed.claimToken, claim.claimToken);

    control("/__cloud/runs/" + id + "/take-away", nlohmann::json::object());
    EXPECT_THROW(api.heartbeat(id, claim.claimToken), Abandoned);
    EXPECT_THROW(api.report(id, R"({"claim_token":")" + claim.claimToken + R"("})"), Abandoned);
    EXPECT_THROW(api.setTake(id, claim.claimToken, 0), Abandoned);
}

TEST_F(CloudServiceTest, aDrivenTakeTakesAStepALookAndTheEndFromTheQueue) {
    auto api = client(token);
    auto id = control("/__cloud/requests", {{"sheet", sheet}})["id"].get<std::string>();
    auto claim = CloudClaim::fromJSON(*api.claimRun(std::nullopt));
    TempFolder run("vanto-cloud-drive");
    CloudDriver driver(api, claim.id, claim.claimToken, run.path() / "drive", fake.clock);
    driver.prepare();
    control("/__cloud/settings", {{"command_hold_ms", 0}});
    EXPECT_EQ(driver.next(2), DriverCommand::idle()); // no command: the service answers 204
    control("/__cloud/runs/" + id + "/commands", {{"step", {{"action", "scroll"}, {"dy", 300}}}});
    control("/__cloud/runs/" + id + "/commands", {{"look", true}});
    control("/__cloud/runs/" + id + "/commands", {{"end", true}});

    driver.opened(0);
    driver.answer(DriverResult{}); // the opening answer stays here
    auto step = driver.next(30);
    ASSERT_EQ(step.kind, DriverCommand::Kind::step);
    EXPECT_EQ(step.step->dy, 300);
    driver.answer({step.id, DriverResult::Outcome::done, std::nullopt, std::nullopt});
    auto look = driver.next(30);
    ASSERT_EQ(look, DriverCommand::looking(2));
    // Bytes that need padding and the top of the alphabet; the service takes nothing
    // but standard Base64.
    std::ofstream(driver.screenshotFile(2), std::ios::binary) << std::string("\xff\xfe\x00\x01", 4);
    DriverLook seen;
    seen.url = "https://shop.example/";
    seen.screenshot = driver.screenshotFile(2).filename().string();
    driver.answer({2, DriverResult::Outcome::looked, std::nullopt, seen});
    auto end = driver.next(30);
    EXPECT_EQ(end, DriverCommand::ending(3));
    driver.answer({3, DriverResult::Outcome::ended, std::nullopt, std::nullopt});
    driver.closed();

    auto kept = control("/__cloud/runs/" + id);
    EXPECT_EQ(kept["takes"], nlohmann::json::parse("[0, null]"));
    ASSERT_EQ(kept["answers"].size(), 3u);
    EXPECT_EQ(kept["answers"][0]["result"], nlohmann::json::parse(R"({"id": 1, "outcome": "done"})"));
    EXPECT_EQ(kept["answers"][1]["result"]["look"]["url"], "https://shop.example/");
    EXPECT_EQ(kept["answers"][1]["screenshot_bytes"], 4);
    EXPECT_EQ(kept["answers"][2]["result"]["outcome"], "ended");
}

} // namespace
} // namespace vanto::test
