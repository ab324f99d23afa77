#include "service/APIClient.h"

#include "base/Json.h"

#include "platform/fake/FakePlatform.h"
#include "platform/fake/ScriptedHttp.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

constexpr const char* token = "vt_secret_token_0123456789";

class APIClientTest : public ::testing::Test {
protected:
    fake::VirtualClock clock;
    fake::ScriptedHttp http{&clock};
    APIClient api{Config{token, "https://api.vanto.test"}, http, clock};

    std::string failureOf(long status, const std::string& body) {
        http.answer(status, body);
        try {
            api.send(api.request("/api/profile", "GET"));
        } catch (const UploadError& error) {
            EXPECT_EQ(std::string(error.what()).find(token), std::string::npos);
            return error.what();
        }
        return "no error";
    }
};

TEST_F(APIClientTest, theRequestTemplateCarriesTheTokenTheVersionAndTheTimeout) {
    auto request = api.request("/api/profile", "GET");
    EXPECT_EQ(request.url, "https://api.vanto.test/api/profile");
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.header("authorization"), std::string("Bearer ") + token);
    EXPECT_EQ(request.header("X-Vanto-Recorder"), "dev") << "a development build reports dev";
    EXPECT_EQ(APIClient::recorderVersion(), "dev");
    EXPECT_EQ(request.timeout, 120);
    EXPECT_FALSE(request.header("content-type"));

    auto withBody = api.request("/api/thing", "POST", nlohmann::json{{"a", 1}});
    EXPECT_EQ(withBody.header("Content-Type"), "application/json");
    EXPECT_EQ(withBody.body, R"({"a":1})");
}

TEST_F(APIClientTest, anAPIBaseWithoutSchemeOrHostFailsEveryRequest) {
    for (std::string base : {"api.vanto.test", "localhost:8080", "https://", "http:/nohost", "",
                             "https://api vanto.test", "https://api.vanto.test:99999"}) {
        APIClient bad{Config{token, base}, http, clock};
        try {
            bad.request("/api/profile", "GET");
            ADD_FAILURE() << "accepted " << base;
        } catch (const UploadError& error) {
            EXPECT_EQ(error.kind(), UploadError::Case::badAPIBase);
            EXPECT_EQ(error.what(), "not a usable API base: " + base);
        }
        EXPECT_THROW(bad.account(), UploadError);
    }
    EXPECT_TRUE(http.sent().empty()) << "nothing may be sent to an unusable base";
    EXPECT_NO_THROW(APIClient(Config{token, "http://127.0.0.1:8080"}, http, clock).request("/x", "GET"));
}

TEST_F(APIClientTest, statusMessagesQuoteTheServiceInTheDesignsWords) {
    EXPECT_EQ(failureOf(500, R"({"error":"database on fire"})"), "the API returned 500: database on fire");
    std::string page = "<html><body>" + std::string(600, 'x') + "</body></html>";
    EXPECT_EQ(failureOf(502, page), "the API returned 502: " + page.substr(0, 512));
    EXPECT_EQ(failureOf(404, ""), "the API returned 404");
    EXPECT_EQ(failureOf(409, R"({"error":7})"), R"(the API returned 409: {"error":7})");
    EXPECT_EQ(failureOf(418, R"(["error"])"), R"(the API returned 418: ["error"])");
    for (std::string body : {"", R"({"error":"whatever"})", "<html>login</html>"})
        EXPECT_EQ(failureOf(401, body), UploadError::signedOut().what());
    EXPECT_EQ(failureOf(0, ""), "unexpected response from /api/profile");
}

TEST_F(APIClientTest, errorMessageTakesTheErrorStringOrTheFirst512BytesOfText) {
    EXPECT_EQ(APIClient::errorMessage(R"({"error":"no such project","code":4})"), "no such project");
    EXPECT_EQ(APIClient::errorMessage(std::string(700, 'a')), std::string(512, 'a'));
    EXPECT_EQ(APIClient::errorMessage("short text"), "short text");
    EXPECT_EQ(APIClient::errorMessage("bad \xff bytes"), "");
    // A character cut in two at byte 512 is not valid text any more.
    EXPECT_EQ(APIClient::errorMessage(std::string(511, 'a') + "\xc3\xa9"), "");
    EXPECT_EQ(APIClient::errorMessage(""), "");
}

TEST_F(APIClientTest, aServiceThatEchoesTheTokenDoesNotGetItShown) {
    auto message = failureOf(500, std::string(R"({"error":"token )") + token + R"( is odd"})");
    EXPECT_EQ(message, "the API returned 500: token [token] is odd");
}

TEST_F(APIClientTest, successIsAnyStatusFrom200To299) {
    for (long status : {200L, 201L, 204L, 299L}) {
        http.answer(status, "{}");
        EXPECT_NO_THROW(api.send(api.request("/x", "GET"))) << status;
    }
    http.answer(300, "");
    EXPECT_THROW(api.send(api.request("/x", "GET")), UploadError);
}

TEST_F(APIClientTest, sendRetryingMakesThreeAttemptsTwoThenFourSecondsApart) {
    http.fail(HttpTransportError::cannotConnect("https://api.vanto.test"));
    auto start = clock.now();
    try {
        api.sendRetrying(api.request("/x", "GET"));
        FAIL() << "an unreachable host answered";
    } catch (const HttpTransportError& error) {
        EXPECT_STREQ(error.what(), "could not connect to https://api.vanto.test");
    }
    auto sent = http.sent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_DOUBLE_EQ(sent[0].at - start, 0);
    EXPECT_DOUBLE_EQ(sent[1].at - start, 2);
    EXPECT_DOUBLE_EQ(sent[2].at - start, 6);
    EXPECT_EQ(clock.sleeps(), 2);
}

TEST_F(APIClientTest, sendRetryingStopsAtTheFirstAnswerAndNeverRetriesServiceErrors) {
    http.fail(HttpTransportError::connectionLost("https://api.vanto.test"));
    http.answer(200, R"({"ok":true})");
    EXPECT_EQ(api.sendRetrying(api.request("/x", "GET")).body, R"({"ok":true})");
    EXPECT_EQ(http.sent().size(), 2u);

    fake::ScriptedHttp failing{&clock};
    APIClient other{Config{token, "https://api.vanto.test"}, failing, clock};
    failing.answer(503, R"({"error":"busy"})");
    EXPECT_THROW(other.sendRetrying(other.request("/x", "GET")), UploadError);
    failing.answer(401, "");
    EXPECT_THROW(other.sendRetrying(other.request("/x", "GET")), UploadError);
    EXPECT_EQ(failing.sent().size(), 2u) << "one attempt each";
}

TEST_F(APIClientTest, aCancelledWaitBetweenAttemptsEndsWithCancelled) {
    clock.setAutoAdvance(false);
    http.fail(HttpTransportError::timedOut("https://api.vanto.test", 120));
    std::stop_source stop;
    std::exception_ptr outcome;
    std::thread caller([&] {
        try {
            api.sendRetrying(api.request("/x", "GET"), stop.get_token());
        } catch (...) {
            outcome = std::current_exception();
        }
    });
    clock.waitForSleepers(1);
    stop.request_stop();
    caller.join();
    EXPECT_THROW(std::rethrow_exception(outcome), Cancelled);
    EXPECT_EQ(http.sent().size(), 1u);
}

TEST_F(APIClientTest, accountReadsTheProfileWithOrWithoutEmailAndName) {
    http.answer(200, R"({"user":{"id":"u1","email":"ada@example.test","name":"Ada L"}})");
    auto full = api.account();
    EXPECT_EQ(full.id, "u1");
    EXPECT_EQ(full.email, "ada@example.test");
    EXPECT_EQ(full.name, "Ada L");
    auto sent = http.sent();
    EXPECT_EQ(sent.back().request.url, "https://api.vanto.test/api/profile");
    EXPECT_EQ(sent.back().request.method, "GET");

    fake::ScriptedHttp bare{&clock};
    APIClient client{Config{token, "https://api.vanto.test"}, bare, clock};
    bare.answer(200, R"({"user":{"id":"u2"},"extra":true})");
    auto minimal = client.account();
    EXPECT_EQ(minimal.id, "u2");
    EXPECT_FALSE(minimal.email);
    EXPECT_FALSE(minimal.name);
}

TEST_F(APIClientTest, aProfileThatDoesNotDecodeIsAnError) {
    http.answer(200, R"({"user":{"email":"x@y.z"}})");
    EXPECT_THROW(api.account(), DecodeError);
    fake::ScriptedHttp other{&clock};
    APIClient client{Config{token, "https://api.vanto.test"}, other, clock};
    other.answer(200, "<html>");
    try {
        client.account();
        FAIL();
    } catch (const UploadError& error) {
        EXPECT_STREQ(error.what(), "unexpected response from /api/profile");
    }
}

TEST_F(APIClientTest, revokeTokenSendsOneDeleteWithATenSecondLimitAndSwallowsFailures) {
    http.fail(HttpTransportError::timedOut("https://api.vanto.test", 10));
    api.revokeToken();
    auto sent = http.sent();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].request.method, "DELETE");
    EXPECT_EQ(sent[0].request.url, "https://api.vanto.test/api/extension/tokens/current");
    EXPECT_EQ(sent[0].request.timeout, 10);

    fake::ScriptedHttp refusing{&clock};
    refusing.answer(500, "");
    APIClient(Config{token, "https://api.vanto.test"}, refusing, clock).revokeToken();
    APIClient(Config{token, "no base"}, refusing, clock).revokeToken();
    EXPECT_EQ(refusing.sent().size(), 1u);
}

} // namespace
} // namespace vanto
