#include "cli/ControlCommands.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <set>

namespace vanto {
namespace {

TEST(ControlCommands, theTableServesEveryCommandOfTheProtocolOnce) {
    std::set<std::string_view> served;
    for (const auto& command : controlCommands()) {
        EXPECT_TRUE(served.insert(command.name).second) << "served twice: " << command.name;
        EXPECT_NE(command.handler, nullptr) << command.name;
    }
    EXPECT_EQ(served, std::set<std::string_view>(commandNames.begin(), commandNames.end()));
    for (auto name : commandNames) {
        const ControlCommand* command = controlCommand(name);
        ASSERT_NE(command, nullptr) << name;
        EXPECT_EQ(command->name, name);
    }
    EXPECT_EQ(controlCommand("list_windows"), nullptr);
}

// Each name reaches its own handler: the answers (or, for input, what was posted) tell
// them apart. The order matters where a command changes what the next one says.
TEST(ControlCommands, eachCommandReachesItsOwnHandler) {
    fake::FakePlatform fake;
    Platform platform = fake.platform();
    Engine engine(platform);
    auto answer = [&](const std::string& line) {
        auto request = decodeRequest(line);
        EXPECT_TRUE(request) << line;
        return answerLine(answerRequest(engine, *request));
    };
    auto startsWith = [](const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; };

    fake.windows.addWindow(17, "Chromium", 900, "Welcome", {100, 120, 800, 600});
    EXPECT_TRUE(startsWith(answer(R"({"cmd":"list-windows"})"), R"({"ok":true,"windows":[{"windowID":17,)"));
    EXPECT_EQ(answer(R"({"cmd":"start"})"), R"({"ok":false,"error":"missing required field: target"})");
    EXPECT_EQ(answer(R"({"cmd":"stop"})"), R"({"ok":false,"error":"no recording in progress"})");
    EXPECT_TRUE(startsWith(answer(R"({"cmd":"status"})"), R"({"ok":true,"status":{"recording":false)"));
    EXPECT_EQ(answer(R"({"cmd":"move"})"), R"({"ok":false,"error":"missing required field: to"})");
    EXPECT_EQ(answer(R"({"cmd":"type"})"), R"({"ok":false,"error":"missing required field: text"})");
    EXPECT_EQ(answer(R"({"cmd":"key"})"), R"({"ok":false,"error":"missing required field: keys"})");
    EXPECT_EQ(answer(R"({"cmd":"at"})"), R"({"ok":false,"error":"missing required field: to"})");
    fake.pointer.at = {12, 34};
    EXPECT_EQ(answer(R"({"cmd":"cursor"})"), R"({"ok":true,"cursor":{"x":12,"y":34}})");
    EXPECT_TRUE(startsWith(answer(R"({"cmd":"permissions"})"), R"({"ok":true,"permissions":)"));
    auto app = fake.accessibility.addApplication(900, "Chromium");
    fake.accessibility.addWindow(app, "Welcome", Rect{100, 120, 800, 600})
        ->add("AXButton", "Save", Rect{150, 200, 80, 20});
    EXPECT_TRUE(startsWith(answer(R"({"cmd":"find","pid":900,"text":"save"})"),
                           R"({"ok":true,"elements":[{"role":"AXButton","text":"Save",)"));
    EXPECT_TRUE(startsWith(answer(R"({"cmd":"at","pid":900,"to":{"x":160,"y":210}})"),
                           R"({"ok":true,"elements":[{"role":"AXButton","text":"Save",)"));

    fake.events.events.clear();
    EXPECT_EQ(answer(R"({"cmd":"click","settle":0})"), R"({"ok":true})");
    ASSERT_FALSE(fake.events.events.empty());
    EXPECT_EQ(fake.events.events.front().mouse, MouseEventType::leftDown);
    fake.events.events.clear();
    EXPECT_EQ(answer(R"({"cmd":"scroll","dy":40,"duration":0})"), R"({"ok":true})");
    ASSERT_FALSE(fake.events.events.empty());
    EXPECT_NE(fake.events.events.front().vertical, 0);

    const std::string signedOut = R"({"ok":true,"account":{"connected":false,)";
    fake.http.answer(200, R"({"user":{"id":"u1","email":"ada@example.test"}})");
    EXPECT_TRUE(
        startsWith(answer(R"({"cmd":"connect","token":"tok-1"})"), R"({"ok":true,"account":{"connected":true,)"));
    fake.http.answer(200, R"({"user":{"id":"u1","email":"ada@example.test"}})");
    EXPECT_TRUE(startsWith(answer(R"({"cmd":"account"})"), R"({"ok":true,"account":{"connected":true,)"));
    fake.http.answer(200, "{}"); // the revoke
    EXPECT_TRUE(startsWith(answer(R"({"cmd":"disconnect"})"), signedOut));
    EXPECT_EQ(
        answer(R"({"cmd":"upload","path":"/tmp/take.mov"})"),
        R"({"ok":false,"error":"not connected; send {\"cmd\":\"connect\"} to link this machine to a Vanto account"})");
}

} // namespace
} // namespace vanto
