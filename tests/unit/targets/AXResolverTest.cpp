#include "targets/AXResolver.h"

#include "capture/RecorderError.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

using namespace vanto;
using fake::FakeAccessibility;
using fake::FakeAXNodePtr;
using Params = AXResolver::FindParams;

namespace {

constexpr std::int32_t appPID = 501;

class AXResolverTest : public testing::Test {
protected:
    AXResolverTest() {
        app = ax.addApplication(appPID, "Browser");
        window = ax.addWindow(app, "Main", Rect{100, 100, 800, 600});
    }

    std::vector<AXElement> walkWindow() { return reader.walk(FakeAccessibility::ref(window)); }

    std::vector<std::string> texts(const std::vector<AXElement>& elements) {
        std::vector<std::string> result;
        for (const auto& e : elements) result.push_back(e.text);
        return result;
    }

    std::string errorOf(const std::function<void()>& f) {
        try {
            f();
        } catch (const RecorderError& error) {
            return error.what();
        }
        return "no error";
    }

    fake::FakePlatform desktop;
    FakeAccessibility ax;
    AXResolver resolver{ax, desktop.processes, desktop.clock};
    AXReader& reader = resolver.reader();
    AXWindows& windows = resolver.windows();
    FakeAXNodePtr app;
    FakeAXNodePtr window;
};

} // namespace

TEST_F(AXResolverTest, SizeDecidesWhetherANamedElementIsListed) {
    window->add("AXButton", "Thin", Rect{110, 110, 3, 40});
    window->add("AXButton", "Flat", Rect{110, 160, 40, 3.9});
    window->add("AXButton", "Square", Rect{110, 210, 4, 4});
    window->add("AXButton", std::nullopt, Rect{110, 260, 40, 40}); // no name
    window->add("AXButton", "Nowhere");                            // no frame
    const auto listed = walkWindow();
    EXPECT_EQ(texts(listed), (std::vector<std::string>{"Main", "Square"}));
    EXPECT_EQ(listed[1].cx, 112);
    EXPECT_EQ(listed[1].width, 4);
}

TEST_F(AXResolverTest, NamesComeInOrderTrimmedAndDistinct) {
    auto button = window->add("AXButton", "  Save \n", Rect{110, 110, 60, 20});
    button->set(ax::description, std::string("Save"))
        .set(ax::value, std::string("Store the file"))
        .set(ax::help, std::string("Writes to disk"))
        .set(ax::placeholderValue, std::string("   "))
        .set(ax::identifier, std::string("save-button"))
        .set(ax::enabled, false);
    auto check = window->add("AXCheckBox", "Remember me", Rect{110, 140, 60, 20});
    check->set(ax::value, 1.0); // a number, not a name
    const auto listed = walkWindow();
    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[1].text, "Save");
    EXPECT_EQ(listed[1].alt, "Store the file Writes to disk");
    EXPECT_EQ(listed[1].identity, "save-button");
    EXPECT_FALSE(listed[1].enabled);
    EXPECT_EQ(listed[2].text, "Remember me");
    EXPECT_EQ(listed[2].alt, "");
    EXPECT_TRUE(listed[2].enabled);
    // AXEnabled that is not a boolean counts as enabled.
    check->set(ax::enabled, std::string("no"));
    EXPECT_TRUE(walkWindow()[2].enabled);
}

TEST_F(AXResolverTest, HelpOnlyNamesOnlyActionableRoles) {
    window->add("AXButton", std::nullopt, Rect{110, 110, 40, 40})->set(ax::help, std::string("Close tab"));
    window->add("AXGroup", std::nullopt, Rect{110, 160, 40, 40})->set(ax::help, std::string("Toolbar"));
    window->add("AXTextField", std::nullopt, Rect{110, 210, 40, 40})->set(ax::placeholderValue, std::string("Email"));
    window->add("AXStaticText", std::nullopt, Rect{110, 260, 40, 40})->set(ax::placeholderValue, std::string("Hidden"));
    EXPECT_EQ(texts(walkWindow()), (std::vector<std::string>{"Main", "Close tab", "Email"}));
}

TEST_F(AXResolverTest, ALabelTitlingOneFieldLeadsToIt) {
    auto label = window->add("AXStaticText", "Email address", Rect{110, 110, 100, 20});
    label->set(ax::identifier, std::string("label-id"));
    auto field = window->add("AXTextField", std::nullopt, Rect{220, 108, 200, 24});
    field->set(ax::placeholderValue, std::string("you@example.com"))
        .set(ax::identifier, std::string("email"))
        .set(ax::enabled, false);
    label->titles = {field};
    auto both = window->add("AXStaticText", "Shared", Rect{110, 200, 60, 20});
    auto one = window->add("AXTextField", "One", Rect{200, 200, 60, 20});
    auto two = window->add("AXTextField", "Two", Rect{300, 200, 60, 20});
    both->titles = {one, two};

    const auto listed = walkWindow();
    ASSERT_EQ(texts(listed),
              (std::vector<std::string>{"Main", "Email address", "you@example.com", "Shared", "One", "Two"}));
    // The label's words with the field's role, frame and state, and no alt or identity.
    const AXElement& titled = listed[1];
    EXPECT_EQ(titled.role, "AXTextField");
    EXPECT_EQ(titled.x, 220);
    EXPECT_EQ(titled.y, 108);
    EXPECT_EQ(titled.width, 200);
    EXPECT_EQ(titled.cy, 120);
    EXPECT_EQ(titled.alt, "");
    EXPECT_EQ(titled.identity, "");
    EXPECT_FALSE(titled.enabled);
    // The field itself is listed again under its own names.
    EXPECT_EQ(listed[2].role, "AXTextField");
    EXPECT_EQ(listed[2].identity, "email");
    // A label of two stays a label.
    EXPECT_EQ(listed[3].role, "AXStaticText");
    EXPECT_EQ(listed[3].x, 110);

    // A titled element too small to aim at leaves the label as it is.
    field->frame = Rect{220, 108, 200, 3};
    EXPECT_EQ(walkWindow()[1].role, "AXStaticText");
}

TEST_F(AXResolverTest, InPageHoldsUnderAWebAreaIncludingItself) {
    window->add("AXButton", "Back", Rect{110, 110, 30, 30});
    auto web = window->add("AXWebArea", "Page", Rect{100, 150, 800, 550});
    auto group = web->add("AXGroup");
    group->add("AXLink", "Docs", Rect{120, 200, 40, 20});
    window->add("AXButton", "Menu", Rect{860, 110, 30, 30});
    const auto listed = walkWindow();
    ASSERT_EQ(texts(listed), (std::vector<std::string>{"Main", "Back", "Page", "Docs", "Menu"}));
    EXPECT_FALSE(listed[1].inPage);
    EXPECT_TRUE(listed[2].inPage);
    EXPECT_TRUE(listed[3].inPage);
    EXPECT_FALSE(listed[4].inPage);

    auto link = FakeAccessibility::ref(group->children.front());
    EXPECT_TRUE(reader.isUnderWebContent(link));
    EXPECT_FALSE(reader.isUnderWebContent(FakeAccessibility::ref(window->children.front())));
}

TEST_F(AXResolverTest, SnapshotWithoutContentIsTakenSevenTimesAQuarterSecondApart) {
    window->add("AXButton", "OK", Rect{110, 110, 40, 20});
    const double start = desktop.clock.now();
    const auto taken = reader.snapshot(Params{.pid = appPID});
    EXPECT_EQ(ax.readsOf(window, ax::children), 7);
    EXPECT_EQ(desktop.clock.sleeps(), 6);
    EXPECT_DOUBLE_EQ(desktop.clock.now() - start, 1.5);
    EXPECT_EQ(texts(taken.elements), (std::vector<std::string>{"Main", "OK"}));
    EXPECT_FALSE(reader.sawWebContent());
    // Clipped to the focused window.
    EXPECT_EQ(taken.clip, (Rect{100, 100, 800, 600}));
}

TEST_F(AXResolverTest, SnapshotStopsRetryingOnceContentAppears) {
    int walks = 0;
    ax.onRead = [&](const FakeAXNodePtr& node, const std::string& attribute) {
        if (node == window && attribute == ax::children && ++walks == 3)
            window->add("AXStaticText", "Loaded", Rect{120, 120, 80, 20});
    };
    const auto taken = reader.snapshot(Params{.pid = appPID});
    EXPECT_EQ(walks, 3);
    EXPECT_EQ(desktop.clock.sleeps(), 2);
    EXPECT_EQ(texts(taken.elements), (std::vector<std::string>{"Main", "Loaded"}));
    EXPECT_TRUE(reader.sawWebContent());
}

TEST_F(AXResolverTest, SnapshotPreparesTheApplicationAndChoosesItsRoot) {
    window->add("AXLink", "Inside", Rect{110, 110, 40, 20});
    auto other = ax.addWindow(app, "Other", Rect{1000, 100, 300, 300});
    other->add("AXLink", "Elsewhere", Rect{1010, 110, 40, 20});
    ax.refusedWrites = {ax::enhancedUserInterface};

    auto taken = reader.snapshot(Params{.pid = appPID});
    EXPECT_EQ(texts(taken.elements), (std::vector<std::string>{"Main", "Inside"}));
    EXPECT_EQ(ax.timeouts[app.get()], 2.0);
    ASSERT_GE(ax.writes.size(), 2u);
    EXPECT_EQ(ax.writes[0].attribute, ax::enhancedUserInterface);
    EXPECT_EQ(ax.writes[1].attribute, ax::manualAccessibility);
    EXPECT_EQ(ax.writes[1].value, AXValue(true));

    taken = reader.snapshot(Params{.pid = appPID, .unclipped = true});
    EXPECT_EQ(taken.clip, std::nullopt);
    taken = reader.snapshot(Params{.pid = appPID, .allWindows = true});
    EXPECT_EQ(taken.clip, std::nullopt);
    EXPECT_EQ(texts(taken.elements), (std::vector<std::string>{"Main", "Inside", "Other", "Elsewhere"}));

    app->focusedWindow.reset();
    taken = reader.snapshot(Params{.pid = appPID});
    EXPECT_EQ(taken.clip, std::nullopt);
    EXPECT_EQ(taken.elements.size(), 4u);
}

TEST_F(AXResolverTest, OnlyAListCutToItsWindowLeavesUnreadWhatShowsNowhere) {
    window->add("AXWebArea", "Page", Rect{110, 110, 300, 300});
    auto nowhere = window->add("AXButton", "Folded away");
    nowhere->set(ax::help, std::string("More"));
    reader.snapshot(Params{.pid = appPID});
    EXPECT_EQ(ax.readsOf(nowhere, ax::help), 0);
    reader.snapshot(Params{.pid = appPID, .unclipped = true});
    EXPECT_EQ(ax.readsOf(nowhere, ax::help), 1);
    reader.snapshot(Params{.pid = appPID, .allWindows = true});
    EXPECT_EQ(ax.readsOf(nowhere, ax::help), 2);
}

TEST_F(AXResolverTest, SnapshotRefusesItselfUntrustedAndNoApplication) {
    EXPECT_EQ(errorOf([&] { reader.snapshot(Params{.pid = desktop.processes.self}); }),
              "Vanto cannot drive Vanto; name the app the demo is about");
    // Another copy of this build, run from the same file, without any bundle.
    desktop.processes.table[desktop.processes.self].path = "/home/dev/vanto/build/vanto";
    desktop.processes.table[778].path = "/home/dev/vanto/build/vanto";
    desktop.processes.table[appPID].path = "/usr/lib/chromium/chromium";
    EXPECT_EQ(errorOf([&] { reader.snapshot(Params{.pid = 778}); }),
              "Vanto cannot drive Vanto; name the app the demo is about");
    EXPECT_FALSE(resolver.access().isSelf(appPID));
    desktop.processes.bundleID = "vanto.appimage";
    ax.bundleIDs[777] = "vanto.appimage";
    EXPECT_EQ(errorOf([&] { reader.snapshot(Params{.pid = 777}); }),
              "Vanto cannot drive Vanto; name the app the demo is about");
    EXPECT_FALSE(resolver.access().isSelf(appPID));

    EXPECT_EQ(errorOf([&] { reader.snapshot(Params{}); }), "missing required field: pid");
    ax.trusted = false;
    const std::string denied = "accessibility permission required to post input events; send "
                               "{\"cmd\":\"permissions\",\"prompt\":true} to request it";
    EXPECT_EQ(errorOf([&] { reader.snapshot(Params{}); }), denied);
    EXPECT_EQ(errorOf([&] { reader.snapshot(Params{.pid = appPID}); }), denied);
    EXPECT_EQ(errorOf([&] { reader.focused(appPID); }), denied);
    EXPECT_EQ(errorOf([&] { reader.pageURL(appPID); }), denied);
    EXPECT_EQ(errorOf([&] { reader.value(Point{1, 1}, appPID); }), denied);

    ax.trusted = true;
    ax.frontmost = appPID;
    window->add("AXHeading", "Welcome", Rect{110, 110, 80, 20});
    EXPECT_EQ(resolver.access().resolvePID(std::nullopt), appPID);
    EXPECT_EQ(resolver.access().resolvePID(42), 42);
    EXPECT_EQ(texts(reader.snapshot(Params{}).elements), (std::vector<std::string>{"Main", "Welcome"}));
}

TEST_F(AXResolverTest, FindClipsToTheWindowThenRanks) {
    window->add("AXButton", "Save", Rect{850, 110, 100, 20}); // half outside the window
    window->add("AXButton", "Save draft", Rect{110, 110, 80, 20});
    window->add("AXButton", "Save everything", Rect{1000, 110, 80, 20}); // outside
    window->add("AXStaticText", "Saved", Rect{110, 140, 80, 20});
    const auto found = resolver.find(Params{.pid = appPID, .text = "save"});
    ASSERT_EQ(texts(found), (std::vector<std::string>{"Save", "Save draft", "Saved"}));
    EXPECT_EQ(found[0].cx, 875);
    EXPECT_EQ(resolver.find(Params{.pid = appPID, .text = "save", .unclipped = true}).size(), 4u);
}

TEST_F(AXResolverTest, FocusedElementAndItsPage) {
    EXPECT_EQ(reader.focused(appPID), std::nullopt);
    auto web = window->add("AXWebArea", "Page", Rect{100, 150, 800, 550});
    auto field = web->add("AXTextField", "Name", Rect{200, 200, 200, 30});
    field->set(ax::value, std::string("Ada"));
    app->focusedElement = field;
    EXPECT_EQ(reader.focused(appPID), (Focus{"AXTextField", "Ada", Rect{200, 200, 200, 30}, true}));
    auto bare = window->add("AXButton");
    app->focusedElement = bare;
    EXPECT_EQ(reader.focused(appPID), (Focus{"AXButton", "", Rect{}, false}));
}

TEST_F(AXResolverTest, PageURLAndWebAreaSearchBreadthFirst) {
    EXPECT_EQ(reader.pageURL(appPID), std::nullopt);
    EXPECT_EQ(reader.webArea(appPID), std::nullopt);
    auto toolbar = window->add("AXGroup");
    auto deep = toolbar->add("AXGroup")->add("AXWebArea", "Ad", Rect{0, 0, 10, 10});
    deep->set(ax::url, AXURL{"https://ads.example/"});
    auto content = window->add("AXScrollArea");
    auto web = content->add("AXWebArea", "Page", Rect{100, 150, 800, 550});
    web->set(ax::url, AXURL{"file:///tmp/page.html"});
    // Breadth first: the shallower web area wins over the earlier, deeper one.
    EXPECT_EQ(reader.pageURL(appPID), "file:///tmp/page.html");
    EXPECT_EQ(reader.webArea(appPID), (Rect{100, 150, 800, 550}));
    web->set(ax::url, std::string("file:///tmp/page.html")); // a string is not a URL
    EXPECT_EQ(reader.pageURL(appPID), std::nullopt);

    // Without a focused window the web area is still found from the first window.
    app->focusedWindow.reset();
    EXPECT_EQ(reader.webArea(appPID), (Rect{100, 150, 800, 550}));
    EXPECT_EQ(reader.pageURL(appPID), std::nullopt);
    ax.trusted = false;
    EXPECT_EQ(reader.webArea(appPID), std::nullopt);
}

TEST_F(AXResolverTest, PointQueries) {
    auto panel = window->add("AXGroup", std::nullopt, Rect{100, 100, 400, 300});
    auto field = panel->add("AXTextField", std::nullopt, Rect{120, 120, 200, 30});
    field->set(ax::value, std::string("typed"));
    auto decoration = panel->add("AXImage", std::nullopt, Rect{400, 300, 50, 50});
    EXPECT_EQ(reader.value(Point{130, 130}, appPID), "typed");
    EXPECT_EQ(reader.value(Point{2000, 2000}, appPID), std::nullopt);

    // The element at a point is the first describable one on the way up.
    const auto unnamed = reader.elementAt(Point{410, 310}, appPID);
    ASSERT_TRUE(unnamed);
    EXPECT_EQ(unnamed->text, "Main");
    const auto typed = reader.elementAt(Point{130, 130}, appPID);
    ASSERT_TRUE(typed);
    EXPECT_EQ(typed->role, "AXTextField");
    EXPECT_EQ(typed->text, "typed");
    EXPECT_EQ(reader.elementAt(Point{5000, 5000}, appPID), std::nullopt);
    // More than eight levels of nameless elements: nothing.
    auto nest = decoration;
    for (int i = 0; i < 9; ++i) nest = nest->add("AXGroup", std::nullopt, Rect{400, 300, 50, 50});
    EXPECT_EQ(reader.elementAt(Point{410, 310}, appPID), std::nullopt);
}

TEST_F(AXResolverTest, WindowsAreRestoredFocusedAndPlaced) {
    auto second = ax.addWindow(app, "Second", Rect{300, 300, 400, 300});
    second->set(ax::minimized, true);
    window->set(ax::minimized, false);
    EXPECT_EQ(windows.restoreMinimizedWindows(appPID), 1);
    EXPECT_EQ(second->attributes[ax::minimized], AXValue(false));
    EXPECT_EQ(windows.restoreMinimizedWindows(desktop.processes.self), 0);

    EXPECT_FALSE(windows.focus(Rect{310, 300, 10, 10}, appPID));
    EXPECT_TRUE(windows.focus(Rect{300.5, 299.2, 10, 10}, appPID));
    ASSERT_EQ(ax.actions.size(), 1u);
    EXPECT_EQ(ax.actions[0].first, second);
    EXPECT_EQ(ax.actions[0].second, ax::raiseAction);
    EXPECT_EQ(second->attributes[ax::main], AXValue(true));
    EXPECT_EQ(app->focusedWindow.lock(), second);

    EXPECT_TRUE(windows.place(appPID, Rect{0, 0, 1024, 700}));
    EXPECT_EQ(window->frame, (Rect{0, 0, 1024, 700}));
    ax.refusedWrites = {ax::size};
    EXPECT_FALSE(windows.place(appPID, Rect{0, 0, 640, 480}));
    ax.trusted = false;
    EXPECT_FALSE(windows.focus(Rect{300, 300, 10, 10}, appPID));
    EXPECT_EQ(windows.restoreMinimizedWindows(appPID), 0);
}

// Placement and the hit test leave this program's own windows alone: it would otherwise
// move or raise its panels, or let them answer for the element under them.
TEST_F(AXResolverTest, ThisProgramsOwnWindowsAreNeitherMovedNorHitTested) {
    auto own = ax.addApplication(desktop.processes.self, "Vanto");
    auto panel = ax.addWindow(own, "Panel", Rect{300, 300, 400, 300});
    panel->set(ax::minimized, true);
    panel->add("AXGroup", std::nullopt, Rect{300, 300, 400, 300}); // what a point on it hits
    const AXElement target = *AXElement::withFrame("AXButton", "Go", 500, 500, 40, 20);

    EXPECT_EQ(windows.restoreMinimizedWindows(desktop.processes.self), 0);
    EXPECT_FALSE(windows.focus(Rect{300, 300, 10, 10}, desktop.processes.self));
    EXPECT_FALSE(windows.place(desktop.processes.self, Rect{0, 0, 1024, 700}));
    EXPECT_TRUE(reader.hits(target, Point{510, 510}, desktop.processes.self));
    EXPECT_EQ(panel->attributes[ax::minimized], AXValue(true));
    EXPECT_EQ(panel->frame, (Rect{300, 300, 400, 300}));
    EXPECT_TRUE(ax.actions.empty());
}

TEST_F(AXResolverTest, HitsTellWhetherAPointReachesTheElement) {
    auto web = window->add("AXWebArea", "Page", Rect{100, 150, 800, 550});
    auto button = web->add("AXButton", "Go", Rect{200, 200, 100, 40});
    auto label = button->add("AXStaticText", "Go", Rect{230, 210, 40, 20});
    auto cover = web->add("AXGroup", std::nullopt, Rect{250, 190, 200, 100}); // drawn over the right half
    const AXElement target = *AXElement::withFrame("AXButton", "Go", 200, 200, 100, 40);

    EXPECT_TRUE(reader.hits(target, Point{235, 215}, appPID));   // its own text
    EXPECT_TRUE(reader.hits(target, Point{205, 235}, appPID));   // the button itself
    EXPECT_FALSE(reader.hits(target, Point{280, 220}, appPID));  // the cover
    EXPECT_TRUE(reader.hits(target, Point{5000, 5000}, appPID)); // nothing answers: cannot tell
    // A root container around the element answers for it; any other container does not.
    EXPECT_TRUE(reader.hits(target, Point{600, 600}, appPID));
    web->set(ax::role, std::string("AXGroup"));
    EXPECT_FALSE(reader.hits(target, Point{600, 600}, appPID));
    ax.trusted = false;
    EXPECT_TRUE(reader.hits(target, Point{280, 220}, appPID));
    (void)label;
}

TEST_F(AXResolverTest, ANamelessFieldTakesTheFirstTextOfItsLabels) {
    auto empty = window->add("AXStaticText", std::nullopt, Rect{110, 110, 60, 20});
    auto label = window->add("AXStaticText", "Password", Rect{110, 140, 60, 20});
    auto outside = app->add("AXStaticText", "Elsewhere", Rect{0, 0, 60, 20}); // not under the window
    auto nameless = window->add("AXTextField", std::nullopt, Rect{200, 140, 200, 24});
    nameless->labels = {empty, label};
    auto named = window->add("AXTextField", "Own name", Rect{200, 170, 200, 24});
    named->labels = {label};
    auto far = window->add("AXComboBox", std::nullopt, Rect{200, 200, 200, 24});
    far->labels = {outside};
    auto button = window->add("AXButton", std::nullopt, Rect{200, 230, 40, 24});
    button->labels = {label}; // only fields are named by their labels
    const auto listed = walkWindow();
    std::vector<std::string> fields;
    for (const auto& element : listed)
        if (element.role != "AXStaticText") fields.push_back(element.role + " " + element.text);
    EXPECT_EQ(fields, (std::vector<std::string>{"AXWindow Main", "AXTextField Password", "AXTextField Own name",
                                                "AXComboBox Elsewhere"}));
    // One element at a time, by the same rule.
    EXPECT_EQ(reader.describe(FakeAccessibility::ref(nameless))->text, "Password");
    EXPECT_EQ(reader.describe(FakeAccessibility::ref(far))->text, "Elsewhere");
    EXPECT_FALSE(reader.describe(FakeAccessibility::ref(button)));
}

TEST_F(AXResolverTest, PageURLLooksAtFourHundredElementsAndWebAreaAtSixteenLevels) {
    // A web area sixteen levels below the window (the seventeenth level): past the web
    // area's levels, within the page address's four hundred elements.
    auto node = window;
    for (int level = 1; level < 16; ++level) node = node->add("AXGroup");
    node->add("AXWebArea", "Deep", Rect{0, 0, 10, 10})->set(ax::url, AXURL{"https://deep.example/"});
    EXPECT_EQ(reader.pageURL(appPID), "https://deep.example/");
    EXPECT_EQ(reader.webArea(appPID), std::nullopt);

    // Behind 400 elements on the second level, the page is not looked at.
    window->children.clear();
    auto wide = window->add("AXGroup");
    for (int i = 0; i < 398; ++i) wide->add("AXGroup");
    auto page = window->add("AXWebArea", "Page", Rect{100, 150, 800, 550});
    page->set(ax::url, AXURL{"https://page.example/"});
    EXPECT_EQ(reader.pageURL(appPID), "https://page.example/"); // the 3rd element
    window->children = {wide};
    wide->add("AXWebArea", "Late", Rect{0, 0, 10, 10})->set(ax::url, AXURL{"https://late.example/"});
    EXPECT_EQ(reader.pageURL(appPID), std::nullopt); // the 401st
    wide->children.erase(wide->children.begin());
    EXPECT_EQ(reader.pageURL(appPID), "https://late.example/"); // now the 400th
}
