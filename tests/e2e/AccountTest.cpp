// "connect", "account" and "disconnect" through the real binary against the running
// devservice: the browser flow with the service's connect page in headless Chromium,
// a token passed directly, and a connect nobody finishes.

#include "DevService.h"
#include "Harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

namespace vanto::e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::DevService;

std::string findChromium() {
    for (const char* candidate : {"/usr/bin/chromium", "/usr/bin/chromium-browser", "/usr/bin/google-chrome"})
        if (fs::exists(candidate)) return candidate;
    return "";
}

// A home folder of its own, the devservice as the API, and an opener for addresses:
// everything the vanto child sees comes from here.
class Account : public testing::Test {
protected:
    Account() : service({"--auto-sign-in", "ada@example.test"}) {
        service.addAccount("ada@example.test", "Ada Lovelace", "analytical");
        fs::create_directories(home());
        ::setenv("HOME", home().c_str(), 1);
        ::unsetenv("VANTO_CONFIG");
        ::setenv("VANTO_API_BASE", service.base().c_str(), 1);
        // The service's pages are served at the same address as its API.
        ::setenv("VANTO_APP_BASE", service.base().c_str(), 1);
    }
    ~Account() override {
        endBrowser();
        ::unsetenv("BROWSER");
    }

    fs::path home() const { return folder.path() / "home"; }
    fs::path configFile() const { return home() / ".config" / "vanto" / "config.json"; }
    fs::path opened() const { return folder.path() / "opened.txt"; }
    fs::path browserPid() const { return folder.path() / "browser.pid"; }

    // The opener notes the address it was given; with a browser it then becomes that
    // browser, in a process group of its own so that the test can end the whole family.
    void useOpener(const std::string& browser) {
        auto script = folder.path() / "open-browser.sh";
        std::ofstream out(script);
        out << "#!/bin/sh\n"
            << "echo \"$1\" >> '" << opened().string() << "'\n";
        if (!browser.empty())
            out << "echo $$ > '" << browserPid().string() << "'\n"
                << "exec setsid '" << browser << "' --headless --no-sandbox --disable-gpu --no-first-run "
                << "--disable-extensions --user-data-dir='" << (folder.path() / "profile").string() << "' \"$1\"\n";
        out.close();
        fs::permissions(script, fs::perms::owner_all);
        ::setenv("BROWSER", script.c_str(), 1);
    }

    void endBrowser() {
        std::ifstream in(browserPid());
        pid_t pid = 0;
        if (!(in >> pid) || pid <= 0) return;
        ::kill(-pid, SIGTERM);
        waitFor([&] { return ::kill(pid, 0) != 0; }, 5s);
        if (::kill(pid, 0) == 0) ::kill(-pid, SIGKILL);
    }

    std::string storedToken() {
        std::ifstream in(configFile());
        return Json::parse(in).value("token", "");
    }

    TempDir folder{"vanto-e2e-account"};
    DevService service;
};

TEST_F(Account, TheBrowserFlowLinksTheMachineAndDisconnectRevokesIt) {
    auto chromium = findChromium();
    ASSERT_FALSE(chromium.empty()) << "no Chromium on this machine";
    useOpener(chromium);
    VantoSession vanto;

    const Json linked{
        {"ok", true},
        {"account",
         {{"connected", true}, {"apiBase", service.base()}, {"email", "ada@example.test"}, {"name", "Ada Lovelace"}}}};
    Json connected = vanto.ask(Json{{"cmd", "connect"}}, 120s);
    ASSERT_EQ(connected, linked) << "service log:\n" << service.log();
    endBrowser();

    std::ifstream openedIn(opened());
    std::string url;
    std::getline(openedIn, url);
    EXPECT_TRUE(url.starts_with(service.base() + "/connect?cli=")) << url;

    ASSERT_TRUE(fs::exists(configFile()));
    EXPECT_EQ(fs::status(configFile()).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(fs::status(configFile().parent_path()).permissions() & fs::perms::mask, fs::perms::owner_all);
    const auto token = storedToken();
    EXPECT_TRUE(token.starts_with("vt_")) << "a token of the service's own kind";

    EXPECT_EQ(vanto.ask(Json{{"cmd", "account"}}), linked);

    Json disconnected = vanto.ask(Json{{"cmd", "disconnect"}});
    EXPECT_EQ(disconnected, (Json{{"ok", true}, {"account", {{"connected", false}, {"apiBase", service.base()}}}}));
    EXPECT_FALSE(fs::exists(configFile()));
    EXPECT_EQ(service.call("GET", "/api/profile", "", {{"Authorization", "Bearer " + token}}).status, 401)
        << "the token still works after disconnect";
    EXPECT_EQ(vanto.ask(Json{{"cmd", "account"}}),
              (Json{{"ok", true}, {"account", {{"connected", false}, {"apiBase", service.base()}}}}));
}

TEST_F(Account, AConnectWithATokenNeedsNoBrowser) {
    useOpener("");
    const auto token = service.addAccount("grace@example.test", "Grace Hopper");
    VantoSession vanto;
    Json connected = vanto.ask(Json{{"cmd", "connect"}, {"token", token}});
    EXPECT_EQ(connected, (Json{{"ok", true},
                               {"account",
                                {{"connected", true},
                                 {"apiBase", service.base()},
                                 {"email", "grace@example.test"},
                                 {"name", "Grace Hopper"}}}}));
    EXPECT_FALSE(fs::exists(opened())) << "a browser was opened";
    EXPECT_EQ(storedToken(), token);

    // A wrong token is refused and changes nothing that was stored.
    Json refused = vanto.ask(Json{{"cmd", "connect"}, {"token", "vt_not-a-real-token"}});
    EXPECT_EQ(refused.value("ok", true), false) << refused.dump();
    EXPECT_EQ(refused.dump().find("vt_not-a-real-token"), std::string::npos) << refused.dump();
    EXPECT_EQ(storedToken(), token);
}

// The limit is the real one, three minutes: nothing shortens it for tests, so this
// suite runs beside the others.
class AccountTimeOut : public Account {};

TEST_F(AccountTimeOut, AConnectNobodyFinishesEndsWithTheTimeOutMessage) {
    useOpener("");
    VantoSession vanto;
    Json answer = vanto.ask(Json{{"cmd", "connect"}}, 240s);
    EXPECT_EQ(answer,
              (Json{{"ok", false},
                    {"error", "timed out waiting for the browser; finish the connect page or pass a token directly"}}));
    EXPECT_TRUE(fs::exists(opened())) << "the connect page was not opened";
    EXPECT_FALSE(fs::exists(configFile()));
}

} // namespace
} // namespace vanto::e2e
