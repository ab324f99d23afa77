#include "ServiceFixture.h"

#include "base/Json.h"
#include "service/UploadError.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

namespace vanto::test {
namespace {

namespace fs = std::filesystem;

std::string failureText(const std::function<void()>& operation) {
    try {
        operation();
    } catch (const std::exception& error) {
        return error.what();
    }
    return "";
}

int countRequests(const nlohmann::json& requests, const std::string& method, const std::string& path) {
    int count = 0;
    for (const auto& request : requests)
        if (request["method"] == method && request["path"] == path) ++count;
    return count;
}

class ServiceTest : public ServiceFixture {};

TEST_F(ServiceTest, connectWithATokenSavesTheLinkAndAccountAnswersWithTheProfile) {
    auto token = service.addAccount("ada@example.test", "Ada Lovelace");
    ASSERT_TRUE(token.starts_with("vt_")) << token;
    auto connected = commands().connect(token, std::nullopt);
    EXPECT_TRUE(connected.connected);
    EXPECT_EQ(connected.apiBase, service.base());
    EXPECT_EQ(connected.email, "ada@example.test");
    EXPECT_EQ(connected.name, "Ada Lovelace");

    auto file = store.url();
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(file.parent_path()).permissions() & fs::perms::mask, fs::perms::owner_all);
    EXPECT_EQ(store.load(), (Config{token, service.base()}));

    auto account = commands().account();
    EXPECT_TRUE(account.connected);
    EXPECT_EQ(account.email, "ada@example.test");
    EXPECT_EQ(account.name, "Ada Lovelace");

    auto seen = service.requests();
    ASSERT_EQ(countRequests(seen, "GET", "/api/profile"), 2);
    for (const auto& request : seen) {
        EXPECT_EQ(request["recorder"], "dev");
        EXPECT_EQ(request["bearer"], true);
    }
}

TEST_F(ServiceTest, anAccountWithoutEmailOrNameAnswersWithoutThem) {
    auto token = service.addAccount(std::nullopt, std::nullopt);
    auto account = client(token).account();
    EXPECT_TRUE(account.id.starts_with("acct_"));
    EXPECT_FALSE(account.email);
    EXPECT_FALSE(account.name);
    commands().connect(token, std::nullopt);
    auto status = commands().account();
    EXPECT_TRUE(status.connected);
    EXPECT_FALSE(status.email);
    EXPECT_FALSE(status.name);
}

TEST_F(ServiceTest, disconnectRevokesTheTokenAtTheServiceAndForgetsTheLink) {
    auto token = service.addAccount("grace@example.test", "Grace Hopper");
    commands().connect(token, std::nullopt);
    defaults.set("cloudRecordingsAlwaysAllowed", true);

    auto status = commands().disconnect();
    EXPECT_FALSE(status.connected);
    EXPECT_EQ(status.apiBase, service.base());
    EXPECT_FALSE(fs::exists(store.url()));
    EXPECT_EQ(defaults.get("cloudRecordingsAlwaysAllowed"), false);
    EXPECT_EQ(countRequests(service.requests(), "DELETE", "/api/extension/tokens/current"), 1);

    EXPECT_EQ(failureText([&] { client(token).account(); }), UploadError::signedOut().what());
    EXPECT_FALSE(commands().account().connected);
}

TEST_F(ServiceTest, aWrongTokenIsSignedOut) {
    service.addAccount("x@example.test", "X");
    EXPECT_EQ(failureText([&] { commands().connect(std::string("vt_not_a_real_token_000"), std::nullopt); }),
              UploadError::signedOut().what());
    EXPECT_FALSE(store.load());
}

TEST_F(ServiceTest, injectedServiceErrorsReachThePersonInTheDesignsWords) {
    auto token = service.addAccount("e@example.test", "E");
    auto api = client(token);
    service.inject({{"path", "/api/profile"}, {"status", 500}, {"body", R"({"error":"the planner is down"})"}});
    EXPECT_EQ(failureText([&] { api.account(); }), "the API returned 500: the planner is down");

    std::string page = "<!doctype html><title>Bad gateway</title>" + std::string(700, '.');
    service.inject({{"path", "/api/profile"}, {"status", 502}, {"body", page}});
    EXPECT_EQ(failureText([&] { api.account(); }), "the API returned 502: " + page.substr(0, 512));

    service.inject({{"path", "/api/profile"}, {"status", 404}, {"body", ""}});
    EXPECT_EQ(failureText([&] { api.account(); }), "the API returned 404");

    service.inject({{"path", "/api/profile"}, {"status", 401}, {"body", R"({"error":"expired"})"}});
    EXPECT_EQ(failureText([&] { api.account(); }), UploadError::signedOut().what());

    // Answers from the service are final: no second attempt.
    service.inject({{"path", "/api/profile"}, {"status", 503}, {"body", R"({"error":"busy"})"}});
    auto before = countRequests(service.requests(), "GET", "/api/profile");
    EXPECT_EQ(failureText([&] { api.sendRetrying(api.request("/api/profile", "GET")); }), "the API returned 503: busy");
    EXPECT_EQ(countRequests(service.requests(), "GET", "/api/profile"), before + 1);

    EXPECT_EQ(api.account().email, "e@example.test") << "faults are used up";
}

TEST_F(ServiceTest, aDroppedConnectionIsATransportErrorThatSendRetryingGetsPast) {
    auto token = service.addAccount("d@example.test", "D");
    auto api = client(token);
    service.inject({{"path", "/api/profile"}, {"drop", true}});
    EXPECT_EQ(failureText([&] { api.account(); }),
              "the connection to " + service.base() + " was lost before the answer arrived");

    service.inject({{"path", "/api/profile"}, {"drop", true}, {"times", 2}});
    auto start = fake.clock.now();
    auto answer = api.sendRetrying(api.request("/api/profile", "GET"));
    EXPECT_EQ(answer.status, 200);
    EXPECT_DOUBLE_EQ(fake.clock.now() - start, 6) << "waited 2 s and 4 s on the virtual clock";

    service.inject({{"path", "/api/profile"}, {"drop", true}, {"times", 3}});
    auto seen = countRequests(service.requests(), "GET", "/api/profile");
    try {
        api.sendRetrying(api.request("/api/profile", "GET"));
        FAIL() << "three drops let an answer through";
    } catch (const HttpTransportError& error) {
        EXPECT_EQ(error.kind(), HttpTransportError::Case::connectionLost);
    }
    EXPECT_EQ(countRequests(service.requests(), "GET", "/api/profile"), seen + 3);
}

TEST_F(ServiceTest, anUnreachableServiceFailsWithTheAddressAndRetriesThreeTimes) {
    // A port that was just free and is closed again: nothing listens there.
    std::uint16_t port;
    {
        auto listener = network.listen();
        port = listener->port();
    }
    std::string base = "http://127.0.0.1:" + std::to_string(port);
    APIClient api(Config{"vt_unreachable_token_42", base}, http, fake.clock);
    auto start = fake.clock.now();
    EXPECT_EQ(failureText([&] { api.sendRetrying(api.request("/api/profile", "GET")); }),
              "could not connect to " + base);
    EXPECT_DOUBLE_EQ(fake.clock.now() - start, 6);
    EXPECT_EQ(failureText([&] { api.revokeToken(); }), "");
}

TEST_F(ServiceTest, aServiceThatDoesNotAnswerDelaysSignOutOnlyUpToTheRevokeLimit) {
    auto token = service.addAccount("slow@example.test", "Slow");
    commands().connect(token, std::nullopt);
    service.inject({{"method", "DELETE"}, {"path", "/api/extension/tokens/current"}, {"delayMs", 30000}});
    auto start = std::chrono::steady_clock::now();
    auto status = commands().disconnect();
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_FALSE(status.connected);
    EXPECT_FALSE(fs::exists(store.url()));
    EXPECT_GE(took, 9.5);
    EXPECT_LT(took, 20) << "the revoke limit is 10 seconds";
}

TEST_F(ServiceTest, theTokenAppearsInNoErrorTextNoLogLineAndNotOnStandardError) {
    auto token = service.addAccount("secret@example.test", "Secret");
    auto api = client(token);
    std::vector<std::string> texts;
    ::testing::internal::CaptureStderr();
    commands().connect(token, std::nullopt);
    service.inject({{"path", "/api/profile"}, {"status", 500}, {"body", R"({"error":"bad token )" + token + R"("})"}});
    texts.push_back(failureText([&] { api.account(); }));
    service.inject({{"path", "/api/profile"}, {"status", 502}, {"body", "<p>" + token + "</p>"}});
    texts.push_back(failureText([&] { commands().account(); }));
    service.inject({{"path", "/api/profile"}, {"drop", true}});
    texts.push_back(failureText([&] { api.account(); }));
    texts.push_back(failureText([&] { APIClient(Config{token, "no-scheme"}, http, fake.clock).account(); }));
    texts.push_back(failureText([&] { commands().connect(token, std::string("bare.host")); }));
    commands().disconnect();
    texts.push_back(failureText([&] { api.account(); }));
    auto standardError = ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(texts.size(), 6u);
    for (const auto& text : texts) {
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text.find(token), std::string::npos) << text;
    }
    EXPECT_EQ(texts[0], "the API returned 500: bad token [token]");
    EXPECT_EQ(standardError.find(token), std::string::npos);
    auto log = service.log();
    EXPECT_NE(log.find("GET /api/profile"), std::string::npos) << "the service logs its requests";
    EXPECT_EQ(log.find(token), std::string::npos);
    EXPECT_EQ(service.requests().dump().find(token), std::string::npos);
    for (const auto& entry : fs::recursive_directory_iterator(service.stateFolder() / "data")) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path());
        std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(content.find(token), std::string::npos) << "the service keeps hashes only: " << entry.path();
    }
}

TEST_F(ServiceTest, theWebApplicationSignsInWithAPasswordAndIssuesTokens) {
    service.addAccount("web@example.test", "Web User", "correct horse");
    auto wrong = service.call("POST", "/api/session", R"({"email":"web@example.test","password":"nope"})",
                              {{"Content-Type", "application/json"}});
    EXPECT_EQ(wrong.status, 401);
    EXPECT_EQ(wrong.body, R"({"error":"wrong email or password"})");
    EXPECT_EQ(service.call("POST", "/api/extension/tokens", "{}").status, 401) << "no token without a session";

    auto signedIn = service.call("POST", "/api/session", R"({"email":"WEB@example.test","password":"correct horse"})",
                                 {{"Content-Type", "application/json"}});
    ASSERT_EQ(signedIn.status, 200);
    auto cookie = signedIn.header("set-cookie");
    ASSERT_TRUE(cookie);
    EXPECT_NE(cookie->find("HttpOnly"), std::string::npos);
    auto session = cookie->substr(0, cookie->find(';'));
    auto issued = service.call("POST", "/api/extension/tokens", R"({"label":"test"})", {{"Cookie", session}});
    ASSERT_EQ(issued.status, 201);
    auto token = json::requireString(nlohmann::json::parse(issued.body), "token");
    EXPECT_EQ(client(token).account().name, "Web User");

    auto page = service.call("GET", "/connect?cli=5000&state=abc");
    EXPECT_EQ(page.status, 200);
    EXPECT_NE(page.body.find("<form id=\"signin\""), std::string::npos);
    EXPECT_NE(page.header("content-security-policy")->find("connect-src 'self' http://127.0.0.1:*"), std::string::npos);
    EXPECT_EQ(service.call("GET", "/connect?state=abc").status, 400) << "no port";
    EXPECT_EQ(service.call("GET", "/connect?cli=70000&state=abc").status, 400);
    EXPECT_EQ(service.call("GET", "/connect?cli=5000&state=%3Cscript%3E").status, 400);
}

TEST_F(ServiceTest, theFaultEndpointRefusesDescriptionsItCannotCarryOut) {
    auto post = [&](const std::string& body) { return service.call("POST", "/__faults", body).status; };
    EXPECT_EQ(post(R"({"path":"/api/profile"})"), 400) << "a fault must do something";
    EXPECT_EQ(post(R"({"path":"api/profile","status":500})"), 400);
    EXPECT_EQ(post(R"({"path":"/api/profile","status":99})"), 400);
    EXPECT_EQ(post(R"({"path":"/api/profile","status":500,"drop":true})"), 400);
    EXPECT_EQ(post(R"({"path":"/__faults","status":500})"), 400);
    EXPECT_EQ(post("not json"), 400);
    EXPECT_EQ(post(R"([{"path":"/api/*","status":418,"times":2}])"), 201);
    auto token = service.addAccount("f@example.test", "F");
    EXPECT_EQ(failureText([&] { client(token).account(); }), "the API returned 418");
    EXPECT_EQ(failureText([&] { client(token).account(); }), "the API returned 418");
    EXPECT_EQ(failureText([&] { client(token).account(); }), "");
    EXPECT_EQ(nlohmann::json::parse(service.call("GET", "/__faults").body)["faults"].size(), 0u);
}

} // namespace
} // namespace vanto::test
