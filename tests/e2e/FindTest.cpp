// Finding elements for real: the vanto binary's "find" and "at" against a local page
// in Chromium and the GTK test application, and the page queries of the AT-SPI
// backend in this process. What is drawn where is checked through the X server (a
// click at the returned centre runs the page's handler, which retitles the window).

#include "Harness.h"

#include "platform/linux/LinuxPlatform.h"
#include "targets/AXResolver.h"

#include <string>
#include <utility>
#include <variant>
#include <vector>

using namespace vanto::e2e;

namespace {

constexpr int left = 420, top = 40, width = 900, height = 700;

std::string pageBody() {
    std::string body = R"(<h1>Find test</h1>
<button id="press" onclick="document.title='Clicked'" style="margin:20px;width:160px;height:40px">Press me</button>
<p><label for="email">Email address</label> <input id="email" placeholder="you@example.com"></p>
<p><a href="#pricing">Pricing</a> <button>Pricing</button></p>
<p><button aria-pressed="true">Bold</button> <button aria-pressed="false">Italic</button>
<button role="switch" aria-checked="true">Wifi</button> <button role="switch" aria-checked="false">Bluetooth</button></p>
<div>)";
    for (int i = 0; i < 30; ++i) body += "<button style=\"width:60px\">Item " + std::to_string(i) + "</button>";
    // Inside the window, but below the bottom of a box that hides what overflows it.
    return body + R"(</div><div style="height:30px;overflow:hidden"><p style="height:40px">Box</p>
<button>Tucked away</button></div>)";
}

class ChromiumPage : public testing::Test {
protected:
    void SetUp() override {
        url = writePage(folder.path(), "Find test", pageBody());
        chromium = startChromium(url, left, top, width, height);
        // The page is ready when its button can be found.
        ASSERT_TRUE(waitFor([&] { return !find(vanto, chromium->pid(), "Press me").empty(); }, 60s, 500ms))
            << "the page never became findable";
    }

    TempDir folder;
    std::string url;
    std::unique_ptr<Chromium> chromium;
    VantoSession vanto;
};

} // namespace

TEST_F(ChromiumPage, AButtonIsFoundWhereItIsDrawn) {
    const Json found = find(vanto, chromium->pid(), "press me");
    ASSERT_FALSE(found.empty());
    const Json& button = found.front();
    EXPECT_EQ(button["role"], "AXButton");
    EXPECT_EQ(button["text"], "Press me");
    EXPECT_EQ(button["identity"], "press");
    EXPECT_EQ(button["enabled"], true);
    EXPECT_EQ(button["inPage"], true);
    // The style's size, give or take the rounding of the border box.
    EXPECT_NEAR(button["width"].get<int>(), 160, 1);
    EXPECT_NEAR(button["height"].get<int>(), 40, 1);
    // Inside the browser window, below its toolbar.
    EXPECT_GT(button["x"].get<int>(), left);
    EXPECT_GT(button["y"].get<int>(), top + 60);
    EXPECT_LT(button["y"].get<int>() + 40, top + height);

    EXPECT_NE(titleOf(vanto, chromium->pid()).value_or("").find("Find test"), std::string::npos);
    const Json click = {{"cmd", "click"}, {"to", centreOf(button)}};
    EXPECT_EQ(vanto.ask(click), (Json{{"ok", true}}));
    EXPECT_TRUE(waitFor(
        [&] { return titleOf(vanto, chromium->pid()).value_or("").find("Clicked") != std::string::npos; }, 10s, 200ms))
        << "clicking the returned centre did not run the button's handler";
}

TEST_F(ChromiumPage, ALabelledInputIsFoundByItsLabelsWords) {
    const Json found = find(vanto, chromium->pid(), "Email address", "input");
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(found.front()["role"], "AXTextField");
    EXPECT_EQ(found.front()["inPage"], true);
    // Its placeholder is one of its names too.
    const Json byPlaceholder = find(vanto, chromium->pid(), "you@example.com");
    ASSERT_FALSE(byPlaceholder.empty());
    EXPECT_EQ(byPlaceholder.front()["role"], "AXTextField");
    EXPECT_EQ(byPlaceholder.front()["x"], found.front()["x"]);
}

TEST_F(ChromiumPage, RoleNarrowsAndToolbarIsNotInPage) {
    const Json links = find(vanto, chromium->pid(), "Pricing", "link");
    ASSERT_FALSE(links.empty());
    for (const auto& element : links) EXPECT_EQ(element["role"], "AXLink");
    const Json buttons = find(vanto, chromium->pid(), "Pricing", "button");
    ASSERT_FALSE(buttons.empty());
    EXPECT_EQ(buttons.front()["role"], "AXButton");
    EXPECT_NE(buttons.front()["x"], links.front()["x"]);

    const Json reload = find(vanto, chromium->pid(), "Reload", "button");
    ASSERT_FALSE(reload.empty());
    EXPECT_EQ(reload.front()["inPage"], false);
    EXPECT_LT(reload.front()["y"].get<int>(), top + 100);
}

TEST_F(ChromiumPage, FindReturnsAtMostTwentyUnlessToldOtherwise) {
    EXPECT_EQ(find(vanto, chromium->pid(), "Item").size(), 20u);
    EXPECT_EQ(find(vanto, chromium->pid(), "Item", std::nullopt, 25).size(), 25u);
    EXPECT_EQ(find(vanto, chromium->pid(), "Item", std::nullopt, 3).size(), 3u);
}

TEST_F(ChromiumPage, AtAnswersWithTheElementUnderAPoint) {
    const Json button = find(vanto, chromium->pid(), "Press me").front();
    Json answer = vanto.ask({{"cmd", "at"}, {"pid", chromium->pid()}, {"to", centreOf(button)}});
    ASSERT_EQ(answer.value("ok", false), true) << answer.dump();
    ASSERT_TRUE(answer.contains("elements")) << answer.dump();
    ASSERT_EQ(answer["elements"].size(), 1u);
    EXPECT_EQ(answer["elements"][0]["text"], "Press me");
    // Far from any of the browser's windows: nothing, and no elements key at all.
    answer = vanto.ask({{"cmd", "at"}, {"pid", chromium->pid()}, {"to", {{"x", 100}, {"y", 850}}}});
    EXPECT_EQ(answer, (Json{{"ok", true}}));
}

TEST_F(ChromiumPage, BackendReadsThePageAddressAndFocus) {
    vanto::LinuxPlatform backend;
    auto platform = backend.platform();
    vanto::AXResolver resolver(platform.accessibility, platform.processes, platform.clock);
    EXPECT_EQ(resolver.reader().pageURL(chromium->pid()), url);
    const auto area = resolver.reader().webArea(chromium->pid());
    ASSERT_TRUE(area);
    EXPECT_GE(area->x, left);
    EXPECT_GT(area->width, 600);

    const auto email = find(vanto, chromium->pid(), "Email address").front();
    const Json click = {{"cmd", "click"}, {"to", centreOf(email)}};
    ASSERT_EQ(vanto.ask(click), (Json{{"ok", true}}));
    std::optional<vanto::Focus> focus;
    EXPECT_TRUE(waitFor(
        [&] {
            focus = resolver.reader().focused(chromium->pid());
            return focus && focus->role == "AXTextField";
        },
        10s, 200ms));
    ASSERT_TRUE(focus);
    EXPECT_TRUE(focus->inPage);
    EXPECT_EQ(static_cast<int>(focus->frame.x), email["x"].get<int>());
    EXPECT_TRUE(
        resolver.reader().hits(*vanto::AXElement::withFrame("AXTextField", "Email address", focus->frame.x,
                                                            focus->frame.y, focus->frame.width, focus->frame.height),
                               {focus->frame.x + 5, focus->frame.y + 5}, chromium->pid()));
}

// Toggle buttons and switches answer to "toggle" and "switch" as switches, and their
// value is whether they are on.
TEST_F(ChromiumPage, SwitchesAndToggleButtonsAreSwitchesValuedByTheirState) {
    vanto::LinuxPlatform backend;
    auto platform = backend.platform();
    const std::vector<std::pair<std::string, double>> expected{
        {"Bold", 1.0}, {"Italic", 0.0}, {"Wifi", 1.0}, {"Bluetooth", 0.0}};
    for (const auto& [name, on] : expected) {
        for (const char* word : {"toggle", "switch"}) {
            const Json found = find(vanto, chromium->pid(), name, word);
            ASSERT_FALSE(found.empty()) << name << " is not found as a " << word;
            EXPECT_EQ(found.front()["role"], "AXSwitch") << name;
            EXPECT_EQ(found.front()["text"], name);
        }
        const Json element = find(vanto, chromium->pid(), name, "switch").front();
        const vanto::AXRef at =
            platform.accessibility.copyElementAtPosition(platform.accessibility.application(chromium->pid()),
                                                         {element["cx"].get<double>(), element["cy"].get<double>()});
        ASSERT_TRUE(at) << name;
        const vanto::AXValue value = platform.accessibility.copyAttributeValue(at, vanto::ax::value);
        ASSERT_TRUE(std::holds_alternative<double>(value)) << name << " has no number for its value";
        EXPECT_EQ(std::get<double>(value), on) << name;
    }
    // A plain button stays a button.
    EXPECT_EQ(find(vanto, chromium->pid(), "Press me", "button").front()["role"], "AXButton");
}

// What the page does not show is no target where the list is cut to the window, but
// it is in the tree: asking for every window lists it.
TEST_F(ChromiumPage, WhatThePageHidesIsListedOnlyForEveryWindow) {
    EXPECT_TRUE(find(vanto, chromium->pid(), "Tucked away").empty());
    EXPECT_FALSE(find(vanto, chromium->pid(), "Box").empty());
    const Json answer =
        vanto.ask({{"cmd", "find"}, {"pid", chromium->pid()}, {"text", "Tucked away"}, {"allWindows", true}});
    ASSERT_TRUE(answer.contains("elements")) << answer.dump();
    ASSERT_FALSE(answer["elements"].empty());
    const Json& hidden = answer["elements"].front();
    EXPECT_EQ(hidden["role"], "AXButton");
    // Within the window: only the page says it does not show.
    EXPECT_GT(hidden["y"].get<int>(), top);
    EXPECT_LT(hidden["y"].get<int>(), top + height);
}

TEST(FindGtk, AGtkFieldIsNamedByItsLabel) {
    Child app({VANTO_TEST_APP, "--at", "60,60"}, {.pipeStdout = true, .silenceStderr = true});
    VantoSession vanto;
    Json field;
    ASSERT_TRUE(waitFor(
        [&] {
            for (const auto& element : find(vanto, app.pid(), "Name", "field"))
                if (element["role"] == "AXTextField") {
                    field = element;
                    return true;
                }
            return false;
        },
        30s, 500ms));
    EXPECT_GT(field["x"].get<int>(), 60);
    EXPECT_GT(field["width"].get<int>(), 40);

    const Json send = find(vanto, app.pid(), "Send");
    ASSERT_FALSE(send.empty());
    EXPECT_EQ(send.front()["role"], "AXButton");
    const Json answer = vanto.ask({{"cmd", "at"}, {"pid", app.pid()}, {"to", centreOf(send.front())}});
    ASSERT_TRUE(answer.contains("elements")) << answer.dump();
    EXPECT_EQ(answer["elements"][0]["text"], "Send");
}

// Qt applications end themselves when asked for all of an object's properties at once,
// so a reading that did so would close the very application it meant to drive.
TEST(FindQt, AQtButtonIsFoundAndPressedAndTheApplicationLivesOn) {
    Child app({VANTO_QT_TEST_APP}, {.pipeStdout = true, .silenceStderr = true});
    VantoSession vanto;
    Json button;
    ASSERT_TRUE(waitFor(
        [&] {
            const Json found = find(vanto, app.pid(), "Press me", "button");
            if (!found.empty()) button = found.front();
            return !found.empty();
        },
        30s, 500ms))
        << (app.wait(0s) ? "the application ended while it was read" : "no button found");
    EXPECT_EQ(button["role"], "AXButton");
    const Json click = vanto.ask({{"cmd", "click"}, {"to", centreOf(button)}});
    ASSERT_EQ(click.value("ok", false), true) << click.dump();
    EXPECT_EQ(app.readLine(10s), "pressed");
}
