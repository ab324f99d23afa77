// "upload" through the real binary against the running devservice: a take of the
// display with labelled input arrives byte for byte with its events; a take of one
// window goes up with events that carry no positions; and the answers when there is
// nothing to upload, no link, or a required field is missing.

#include "DevService.h"
#include "Harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <thread>

namespace vanto::e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::DevService;

std::string contents(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The root window's size: the display a display take records.
std::optional<std::pair<int, int>> screenSize() {
    auto result = runCommand({"xwininfo", "-root"});
    if (!result) return std::nullopt;
    std::smatch width, height;
    if (!std::regex_search(result->output, width, std::regex(R"(Width: (\d+))")) ||
        !std::regex_search(result->output, height, std::regex(R"(Height: (\d+))")))
        return std::nullopt;
    return std::pair{std::stoi(width[1]), std::stoi(height[1])};
}

class Upload : public testing::Test {
protected:
    Upload() : token(service.addAccount("ada@example.test", "Ada Lovelace")) {
        fs::create_directories(folder.path() / "home");
        ::setenv("HOME", (folder.path() / "home").c_str(), 1);
        ::unsetenv("VANTO_CONFIG");
        ::setenv("VANTO_API_BASE", service.base().c_str(), 1);
        ::setenv("VANTO_APP_BASE", service.base().c_str(), 1);
        session = std::make_unique<VantoSession>();
    }

    Json serviceGet(const std::string& path) {
        auto response = service.call("GET", path, "", {{"Authorization", "Bearer " + token}});
        EXPECT_EQ(response.status, 200) << path;
        return Json::parse(response.body, nullptr, false);
    }

    std::string serviceFile(const std::string& id) {
        return service.call("GET", "/api/video/" + id + "/file", "", {{"Authorization", "Bearer " + token}}).body;
    }

    TempDir folder{"vanto-e2e-upload"};
    DevService service;
    std::string token;
    // Started once the environment points at the service.
    std::unique_ptr<VantoSession> session;
};

const Json notConnected = {
    {"ok", false}, {"error", R"(not connected; send {"cmd":"connect"} to link this machine to a Vanto account)"}};
const Json nothingRecorded = {{"ok", false},
                              {"error", "no recording to upload; record one first or pass an explicit path"}};

TEST_F(Upload, ADisplayTakeArrivesByteForByteWithTheClicksWhereTheyWere) {
    EXPECT_EQ(session->ask(Json{{"cmd", "upload"}}), notConnected);
    EXPECT_EQ(session->ask(Json{{"cmd", "upload"}, {"path", "/tmp/anything.mov"}}), notConnected);
    Json connected = session->ask(Json{{"cmd", "connect"}, {"token", token}});
    ASSERT_EQ(connected.value("ok", false), true) << connected.dump();
    EXPECT_EQ(session->ask(Json{{"cmd", "upload"}}), nothingRecorded);

    auto page = writePage(folder.path(), "Upload me",
                          "<input id=name style='margin:80px;font-size:20px' placeholder=Name>"
                          "<button style='margin:80px;font-size:20px'>Send</button>");
    auto browser = startChromium(page, 60, 40, 800, 600);
    const auto window = waitForWindow(*session, "Upload me");
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(1500ms); // painted
    auto geometry = xwininfo(window);
    ASSERT_TRUE(geometry);
    auto screen = screenSize();
    ASSERT_TRUE(screen);

    const auto output = folder.path() / "display.mov";
    ASSERT_EQ(session->ask(Json{{"cmd", "start"}, {"target", {{"kind", "display"}}}, {"output", output.string()}}),
              (Json{{"ok", true}}));
    const int fieldX = geometry->x + 150, fieldY = geometry->y + 95;
    const int buttonX = geometry->x + 120, buttonY = geometry->y + 260;
    const Json ok = {{"ok", true}};
    EXPECT_EQ(session->ask(Json{{"cmd", "move"}, {"to", {{"x", fieldX}, {"y", fieldY}}}, {"label", "Name field"}}), ok);
    EXPECT_EQ(session->ask(Json{{"cmd", "click"}, {"to", {{"x", fieldX}, {"y", fieldY}}}, {"label", "Name field"}}),
              ok);
    EXPECT_EQ(session->ask(Json{{"cmd", "type"}, {"text", "Ada"}, {"label", "Name"}}), ok);
    EXPECT_EQ(session->ask(Json{{"cmd", "click"}, {"to", {{"x", buttonX}, {"y", buttonY}}}, {"label", "Send"}}), ok);
    std::this_thread::sleep_for(1s);
    Json stopped = session->ask(Json{{"cmd", "stop"}});
    ASSERT_EQ(stopped.value("ok", false), true) << stopped.dump();
    EXPECT_EQ(stopped["stopped"]["events"], 4);

    Json uploaded = session->ask(Json{{"cmd", "upload"}, {"narration", "Signing up"}}, 120s);
    ASSERT_EQ(uploaded.value("ok", false), true) << uploaded.dump() << "\n" << service.log();
    const std::string id = uploaded["uploaded"]["id"];
    EXPECT_EQ(uploaded, (Json{{"ok", true},
                              {"uploaded", {{"id", id}, {"url", service.base() + "/videos/" + id}, {"events", 4}}}}));

    const auto local = contents(output);
    ASSERT_GT(local.size(), 1000u);
    EXPECT_TRUE(serviceFile(id) == local) << "the service's file differs from the take";

    auto log = serviceGet("/api/video/" + id + "/events");
    EXPECT_EQ(log["duration_ms"], static_cast<std::int64_t>(stopped["stopped"]["duration"].get<double>() * 1000));
    auto events = log["events"];
    ASSERT_EQ(events.size(), 4u) << log.dump();
    EXPECT_EQ(events[0]["action"], "move");
    EXPECT_FALSE(events[0].contains("x")) << "a move is logged without a point";
    const Json clicks[] = {events[1], events[3]};
    const std::pair<int, int> points[] = {{fieldX, fieldY}, {buttonX, buttonY}};
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(clicks[i]["action"], "click");
        EXPECT_EQ(clicks[i]["x"], points[i].first) << clicks[i].dump();
        EXPECT_EQ(clicks[i]["y"], points[i].second) << clicks[i].dump();
        EXPECT_EQ(clicks[i]["viewport_w"], screen->first);
        EXPECT_EQ(clicks[i]["viewport_h"], screen->second);
    }
    EXPECT_EQ(events[1]["label"], "Name field");
    EXPECT_EQ(
        events[2],
        (Json{{"t", events[2]["t"]}, {"action", "type"}, {"label", "Name"}, {"status", "done"}, {"text", "Ada"}}));
    EXPECT_EQ(serviceGet("/api/video/" + id)["title"], "Signing up");

    // The page the answer points at is there.
    EXPECT_EQ(service.call("GET", "/videos/" + id).status, 200);
}

TEST_F(Upload, AWindowTakeGoesUpWithEventsWithoutPositions) {
    ASSERT_EQ(session->ask(Json{{"cmd", "connect"}, {"token", token}}).value("ok", false), true);
    auto page = writePage(folder.path(), "Window take", "<button style='margin:80px'>Go</button>");
    auto browser = startChromium(page, 100, 80, 700, 500);
    const auto window = waitForWindow(*session, "Window take");
    ASSERT_NE(window, 0u);
    std::this_thread::sleep_for(1s);
    auto geometry = xwininfo(window);
    ASSERT_TRUE(geometry);

    const auto output = folder.path() / "window.mov";
    ASSERT_EQ(session->ask(Json{{"cmd", "start"},
                                {"target", {{"kind", "window"}, {"windowID", window}}},
                                {"output", output.string()}}),
              (Json{{"ok", true}}));
    session->ask(Json{{"cmd", "click"}, {"to", {{"x", geometry->x + 100}, {"y", geometry->y + 100}}}, {"label", "Go"}});
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(session->ask(Json{{"cmd", "stop"}}).value("ok", false), true);

    Json uploaded = session->ask(Json{{"cmd", "upload"}, {"path", output.string()}}, 120s);
    ASSERT_EQ(uploaded.value("ok", false), true) << uploaded.dump();
    EXPECT_EQ(uploaded["uploaded"]["events"], 1) << "the last take named by its path keeps its events";
    const std::string id = uploaded["uploaded"]["id"];
    EXPECT_TRUE(serviceFile(id) == contents(output));
    auto events = serviceGet("/api/video/" + id + "/events")["events"];
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["label"], "Go");
    for (const char* key : {"x", "y", "w", "h", "viewport_w", "viewport_h"})
        EXPECT_FALSE(events[0].contains(key)) << key << " in " << events[0].dump();

    // Another file goes up without the take's events.
    const auto copy = folder.path() / "copy.mov";
    fs::copy_file(output, copy);
    Json other = session->ask(Json{{"cmd", "upload"}, {"path", copy.string()}}, 120s);
    EXPECT_EQ(other["uploaded"]["events"], 0) << other.dump();
}

TEST_F(Upload, EachMissingRequiredFieldIsNamed) {
    for (const auto& [cmd, field] : {std::pair{"start", "target"}, std::pair{"move", "to"}, std::pair{"at", "to"},
                                     std::pair{"type", "text"}, std::pair{"key", "keys"}})
        EXPECT_EQ(session->ask(Json{{"cmd", cmd}}),
                  (Json{{"ok", false}, {"error", std::string("missing required field: ") + field}}))
            << cmd;
    EXPECT_EQ(session->ask(Json{{"cmd", "status"}}),
              (Json{{"ok", true}, {"status", {{"recording", false}, {"events", 0}}}}))
        << "nothing was started by the refused start";
}

} // namespace
} // namespace vanto::e2e
