// A take driven by the service: the long poll, what is repeated and what is thrown,
// the screenshot bound, and the take the service is told about.

#include "cloud/CloudDriver.h"
#include "drivers/FileDriver.h"
#include "platform/fake/FakePlatform.h"
#include "platform/fake/ScriptedHttp.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>

namespace vanto {
namespace {

namespace fs = std::filesystem;

class CloudDriverTest : public ::testing::Test {
protected:
    CloudDriverTest() {
        folder = fs::temp_directory_path() / ("vanto-cloud-driver-" + std::to_string(::getpid()));
        driver.prepare();
    }
    ~CloudDriverTest() override { fs::remove_all(folder); }

    nlohmann::json body(std::size_t i) { return nlohmann::json::parse(http.sent().at(i).request.body); }

    fake::VirtualClock clock;
    fake::ScriptedHttp http{&clock};
    fs::path folder;
    CloudDriver driver{APIClient(Config{"token-1234567890", "http://service.test"}, http, clock), "run-1", "ct", folder,
                       clock};
};

TEST_F(CloudDriverTest, theLongPollWaitsOutFailuresThatPassAndThrowsTheOthers) {
    // Nothing but "no command yet" until the deadline: idle, asking about once a second.
    http.answer(204, "");
    EXPECT_EQ(driver.next(5), DriverCommand::idle());
    ASSERT_EQ(http.sent().size(), 5u);
    auto asked = http.sent()[0].request;
    EXPECT_EQ(asked.url, "http://service.test/api/recorder/runs/run-1/commands/next");
    EXPECT_EQ(asked.timeout, 40);
    EXPECT_EQ(body(0), (nlohmann::json{{"claim_token", "ct"}}));

    // The service failing or unreachable is asked again a second later.
    fake::ScriptedHttp flaky{&clock};
    CloudDriver again{APIClient(Config{"token-1234567890", "http://service.test"}, flaky, clock), "run-1", "ct", folder,
                      clock};
    flaky.answer(503, "");
    flaky.fail(HttpTransportError::connectionLost("http://service.test"));
    flaky.answer(200, R"({"id": 3, "look": true})");
    EXPECT_EQ(again.next(60), DriverCommand::looking(3));
    auto sent = flaky.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[1].at - sent[0].at, 1);
    EXPECT_EQ(sent[2].at - sent[1].at, 1);

    // A run taken away, any other refusal and an unreadable command end the take at once.
    flaky.answer(409, "");
    EXPECT_THROW(again.next(60), Abandoned);
    flaky.answer(400, R"({"error": "bad"})");
    EXPECT_THROW(again.next(60), UploadError);
    flaky.answer(200, R"({"id": 4})");
    try {
        again.next(60);
        FAIL() << "an unreadable command was taken";
    } catch (const FileDriver::Failure& failure) {
        EXPECT_STREQ(failure.what(), "the driver's command could not be read: it names no step, look, end or abort");
    }
    EXPECT_EQ(flaky.sent().size(), 6u);
}

TEST_F(CloudDriverTest, answersCarryScreenshotsUpToThreeMebibytesAndAreRepeatedOnce) {
    http.answer(200, "{}");
    driver.answer(DriverResult{}); // the opening answer, id 0
    EXPECT_TRUE(http.sent().empty());

    auto looked = [&](std::int64_t id, std::size_t bytes) {
        std::ofstream(driver.screenshotFile(id), std::ios::binary) << std::string(bytes, 'p');
        DriverResult result{id, DriverResult::Outcome::looked, std::nullopt, DriverLook{}};
        result.look->screenshot = driver.screenshotFile(id).filename().string();
        return result;
    };
    driver.answer(looked(1, 3'145'728));
    driver.answer(looked(2, 3'145'729));
    ASSERT_EQ(http.sent().size(), 2u);
    EXPECT_EQ(http.sent()[0].request.url, "http://service.test/api/recorder/runs/run-1/commands/1/result");
    EXPECT_EQ(body(0)["screenshot"].get<std::string>().size(), 4'194'304u); // Base64 of 3 MiB
    EXPECT_EQ(body(0)["result"]["outcome"], "looked");
    EXPECT_EQ(body(0)["claim_token"], "ct");
    EXPECT_FALSE(body(1).contains("screenshot"));
    EXPECT_EQ(body(1)["result"]["id"], 2);

    // 503 and then success: sent twice, a second apart. Twice 503: thrown.
    http.answer(503, "");
    http.answer(200, "{}");
    driver.answer(DriverResult{3, DriverResult::Outcome::done, std::nullopt, std::nullopt});
    ASSERT_EQ(http.sent().size(), 4u);
    EXPECT_EQ(http.sent()[3].at - http.sent()[2].at, 1);
    EXPECT_EQ(body(3)["result"]["id"], 3);
    http.answer(503, "");
    EXPECT_THROW(driver.answer(DriverResult{4, DriverResult::Outcome::done, std::nullopt, std::nullopt}), UploadError);
    EXPECT_EQ(http.sent().size(), 6u);
}

TEST_F(CloudDriverTest, theServiceIsToldTheDrivenSceneAndNullWhenItCloses) {
    http.answer(200, "{}");
    driver.opened(2);
    driver.closed();
    ASSERT_EQ(http.sent().size(), 2u);
    EXPECT_EQ(http.sent()[0].request.url, "http://service.test/api/recorder/runs/run-1/commands/take");
    EXPECT_EQ(http.sent()[0].request.body, R"({"claim_token":"ct","take":2})");
    EXPECT_EQ(http.sent()[1].request.body, R"({"claim_token":"ct","take":null})");

    http.answer(503, "");
    EXPECT_NO_THROW(driver.closed()); // ignored after its one repeat
    EXPECT_EQ(http.sent().size(), 4u);
    http.answer(409, "");
    EXPECT_THROW(driver.opened(0), Abandoned);
    EXPECT_EQ(http.sent().size(), 5u);
}

} // namespace
} // namespace vanto
