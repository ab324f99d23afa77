// The browser connect flow end to end: the devservice's connect page, the program's
// loopback callback and the configuration it saves. Once with a client that does what
// the page does, step by step, and once with the page itself in headless Chromium.

#include "ServiceFixture.h"

#include "base/Json.h"
#include "platform/linux/LinuxWorkspace.h"
#include "service/ConnectError.h"
#include "service/ServiceAddress.h"

#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <future>
#include <thread>

namespace vanto::test {
namespace {

namespace fs = std::filesystem;

std::string queryValue(const std::string& query, const std::string& key) {
    std::size_t at = 0;
    while (at <= query.size()) {
        auto end = query.find('&', at);
        auto pair = query.substr(at, end == std::string::npos ? std::string::npos : end - at);
        if (pair.starts_with(key + "=")) return pair.substr(key.size() + 1);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return "";
}

class ConnectFlowTest : public ServiceFixture {
protected:
    ConnectFlowTest() : ServiceFixture({"--auto-sign-in", "ada@example.test"}) {}
    void SetUp() override { service.addAccount("ada@example.test", "Ada Lovelace", "analytical"); }
};

// Does what the connect page's script does, with the session the service hands out.
void actLikeThePage(DevService& service, const std::string& url, std::string& postedToken, std::string& problem) {
    CurlHttp http;
    auto parts = ServiceAddress::parse(url);
    auto port = queryValue(parts->query, "cli");
    auto state = queryValue(parts->query, "state");
    Http::Request page{"GET", url, {}, "", {}, 0, 10};
    auto shown = http.send(page);
    auto cookie = shown.header("set-cookie");
    if (shown.status != 200 || !cookie) {
        problem = "the connect page did not sign in: " + std::to_string(shown.status);
        return;
    }
    auto session = cookie->substr(0, cookie->find(';'));
    auto issued = service.call("POST", "/api/extension/tokens", R"({"label":"Vanto recorder"})",
                               {{"Cookie", session}, {"Content-Type", "application/json"}});
    postedToken = json::requireString(nlohmann::json::parse(issued.body), "token");

    auto callback = "http://127.0.0.1:" + port + "/callback";
    Http::Request preflight{
        "OPTIONS", callback, {{"Origin", service.base()}, {"Access-Control-Request-Method", "POST"}}, "", {}, 0, 10};
    auto allowed = http.send(preflight);
    if (allowed.status != 204 || allowed.header("access-control-allow-origin") != service.base()) {
        problem = "the preflight was not allowed";
        return;
    }
    Http::Request wrong{"POST",
                        callback,
                        {{"Origin", service.base()}, {"Content-Type", "application/json"}},
                        nlohmann::json{{"token", "vt_wrong"}, {"state", "not-the-state"}}.dump(),
                        {},
                        0,
                        10};
    if (http.send(wrong).status != 403) problem = "a wrong state was not refused";
    Http::Request post = wrong;
    post.body = nlohmann::json{{"token", postedToken}, {"state", state}}.dump();
    auto answer = http.send(post);
    if (answer.status != 200 || answer.body != R"({"ok":true})") problem = "the callback was not taken";
}

TEST_F(ConnectFlowTest, aPageThatSignsInAndPostsBackLinksTheMachine) {
    std::string postedToken, problem;
    std::thread browser;
    workspace.onOpen = [&](const std::string& url) {
        browser = std::thread([&, url] { actLikeThePage(service, url, postedToken, problem); });
    };
    SystemClock realClock;
    auto status = commands(workspace, realClock).connect(std::nullopt, std::nullopt);
    browser.join();
    ASSERT_EQ(problem, "");
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.email, "ada@example.test");
    EXPECT_EQ(status.name, "Ada Lovelace");
    EXPECT_EQ(store.load(), (Config{postedToken, service.base()}));
    auto opened = workspace.openedURLs();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_TRUE(opened[0].starts_with(service.base() + "/connect?cli=")) << opened[0];
}

TEST_F(ConnectFlowTest, aConnectNobodyFinishesEndsWithTheTimeOutMessage) {
    try {
        commands().connect(std::nullopt, std::nullopt); // virtual clock: 180 s at once
        FAIL();
    } catch (const ConnectError& error) {
        EXPECT_STREQ(error.what(),
                     "timed out waiting for the browser; finish the connect page or pass a token directly");
    }
    EXPECT_FALSE(fs::exists(store.url()));
}

TEST_F(ConnectFlowTest, theTokenFileIsNeverCreatedWhereAnotherUserCouldOpenIt) {
    // A folder others may enter, named through $VANTO_CONFIG, keeps its permissions, so
    // only how the file is written keeps the token in.
    TempFolder shared("vanto-shared-config");
    fs::permissions(shared.path(),
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec | fs::perms::others_read |
                        fs::perms::others_exec,
                    fs::perm_options::replace);
    fake.processes.env["VANTO_CONFIG"] = (shared.path() / "config.json").string();
    int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, shared.path().c_str(), IN_CREATE | IN_MOVED_TO), 0);
    store.save({"vt_token_never_shared", service.base()});
    store.save({"vt_token_saved_again", service.base()});

    std::vector<std::string> createdFiles, movedIn;
    alignas(inotify_event) char buffer[8192];
    for (ssize_t count; (count = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (char* at = buffer; at < buffer + count;) {
            auto* event = reinterpret_cast<inotify_event*>(at);
            std::string name = event->len ? event->name : "";
            if ((event->mask & IN_CREATE) && !(event->mask & IN_ISDIR)) createdFiles.push_back(name);
            if (event->mask & IN_MOVED_TO) movedIn.push_back(name);
            at += sizeof(inotify_event) + event->len;
        }
    }
    ::close(watch);
    EXPECT_EQ(createdFiles, std::vector<std::string>{}) << "a file was opened in the shared folder before its mode";
    EXPECT_EQ(movedIn, (std::vector<std::string>{"config.json", "config.json"}));
    EXPECT_EQ(fs::status(store.url()).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(store.load()->token, "vt_token_saved_again");
    EXPECT_EQ(std::distance(fs::directory_iterator(shared.path()), fs::directory_iterator()), 1) << "nothing left over";
}

std::string findChromium() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
        if (fs::exists(candidate)) return candidate;
    return "";
}

// The opener the workspace starts: it notes its process id (the browser's, after exec)
// so that the test can end the browser it started, and nothing else.
fs::path writeBrowserScript(const fs::path& folder, const std::string& chromium) {
    auto script = folder / "open-browser.sh";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "echo $$ > '" << (folder / "browser.pid").string() << "'\n"
                          << "exec '" << chromium << "' --headless --no-sandbox --disable-gpu --no-first-run "
                          << "--disable-extensions --user-data-dir='" << (folder / "profile").string() << "' \"$1\"\n";
    fs::permissions(script, fs::perms::owner_all);
    return script;
}

void endBrowser(const fs::path& pidFile) {
    std::ifstream in(pidFile);
    pid_t pid = 0;
    if (!(in >> pid) || pid <= 0) return;
    // The opener started it in a session, and so a process group, of its own.
    ::kill(-pid, SIGTERM);
    for (int i = 0; i < 100 && ::kill(pid, 0) == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (::kill(pid, 0) == 0) ::kill(-pid, SIGKILL);
}

TEST_F(ConnectFlowTest, theConnectPageInHeadlessChromiumCompletesTheCallback) {
    auto chromium = findChromium();
    if (chromium.empty()) GTEST_SKIP() << "no Chromium on this machine";
    TempFolder browserFolder("vanto-chromium");
    auto script = writeBrowserScript(browserFolder.path(), chromium);
    ::setenv("BROWSER", script.c_str(), 1);
    LinuxWorkspace browser;
    SystemClock realClock;
    struct EndBrowser {
        fs::path pidFile;
        ~EndBrowser() { endBrowser(pidFile); }
    } endAtExit{browserFolder.path() / "browser.pid"};

    auto commandsWithBrowser = commands(browser, realClock);
    commandsWithBrowser.connectTimeout = 90;
    AccountStatus status;
    try {
        status = commandsWithBrowser.connect(std::nullopt, std::nullopt);
    } catch (const std::exception& error) {
        FAIL() << error.what() << "\nservice log:\n" << service.log();
    }
    EXPECT_TRUE(status.connected);
    EXPECT_EQ(status.email, "ada@example.test");
    EXPECT_EQ(status.name, "Ada Lovelace");

    auto saved = store.load();
    ASSERT_TRUE(saved);
    EXPECT_TRUE(saved->token.starts_with("vt_"));
    EXPECT_EQ(fs::status(store.url()).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(store.url().parent_path()).permissions() & fs::perms::mask, fs::perms::owner_all);
    EXPECT_EQ(commands().account().email, "ada@example.test");

    // The page fetched its script and a token with its session; the token works.
    auto log = service.log();
    EXPECT_NE(log.find("GET /assets/connect.js 200"), std::string::npos) << log;
    EXPECT_NE(log.find("POST /api/extension/tokens 201"), std::string::npos) << log;

    commands().disconnect();
    EXPECT_FALSE(fs::exists(store.url()));
    EXPECT_EQ(service.call("GET", "/api/profile", "", {{"Authorization", "Bearer " + saved->token}}).status, 401)
        << "disconnect revoked the browser's token";
}

} // namespace
} // namespace vanto::test
