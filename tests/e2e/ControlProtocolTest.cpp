// The real vanto binary on the headless desktop: the control protocol on stdin and
// stdout, the window list against a real Chromium, the pointer, and option errors
// of a prompt run.

#include "Harness.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace vanto::e2e;

namespace {

const std::string parseError = R"({"ok":false,"error":"could not parse request as JSON"})";

std::vector<std::string> keysOf(const Json& object) {
    std::vector<std::string> keys;
    for (const auto& [key, value] : object.items()) keys.push_back(key);
    return keys;
}

bool isCursorAnswer(const std::string& line) {
    Json answer = Json::parse(line, nullptr, false);
    return answer.is_object() && keysOf(answer) == std::vector<std::string>{"ok", "cursor"} && answer["ok"] == true &&
           answer["cursor"].is_object() && keysOf(answer["cursor"]) == std::vector<std::string>{"x", "y"} &&
           answer["cursor"]["x"].is_number() && answer["cursor"]["y"].is_number();
}

// The pointer sits on whole pixels, which are written without a fraction.
std::string cursorAnswer(int x, int y) {
    return R"({"ok":true,"cursor":{"x":)" + std::to_string(x) + R"(,"y":)" + std::to_string(y) + "}}";
}

const Json* findWindow(const Json& windows, std::uint64_t windowID) {
    for (const auto& window : windows)
        if (windowIDOf(window) == windowID) return &window;
    return nullptr;
}

std::vector<std::uint64_t> frontTwo(VantoSession& vanto) {
    std::vector<std::uint64_t> ids;
    for (const auto& window : listWindows(vanto)) {
        ids.push_back(windowIDOf(window));
        if (ids.size() == 2) break;
    }
    return ids;
}

void expectOnlyLargeWindows(const Json& windows) {
    for (const auto& window : windows) {
        EXPECT_GT(window.value("width", 0), 80) << window.dump();
        EXPECT_GT(window.value("height", 0), 80) << window.dump();
    }
}

} // namespace

// --- the protocol itself -------------------------------------------------------

TEST(ControlProtocol, InvalidLinesGetTheParseError) {
    VantoSession vanto;
    for (const char* line : {
             "garbage",
             "{",
             "{}",
             R"({"cmd":"list_windows"})",
             R"({"cmd":"move","to":{"x":"1","y":2}})",
             R"({"to":{"x":1,"y":2}})",
         })
        EXPECT_EQ(vanto.request(line), parseError) << "for " << line;
    // A bad line ends nothing: the next request is served.
    EXPECT_TRUE(isCursorAnswer(vanto.request(R"({"cmd":"cursor"})")));
}

TEST(ControlProtocol, BlankLinesGetNoAnswer) {
    VantoSession vanto;
    for (const char* line : {"", "   ", "\t", " \t \t "}) vanto.send(line);
    EXPECT_TRUE(vanto.noAnswerWithin(700ms));
    // The next answer belongs to the next real request.
    EXPECT_TRUE(isCursorAnswer(vanto.request(R"({"cmd":"cursor"})")));
    EXPECT_TRUE(vanto.noAnswerWithin(300ms));
}

TEST(ControlProtocol, SpacesTabsAndCarriageReturnAroundARequestAreTrimmed) {
    warpPointer(200, 150);
    VantoSession vanto;
    const std::string plainCursor = vanto.request(R"({"cmd":"cursor"})");
    EXPECT_EQ(plainCursor, cursorAnswer(200, 150));
    EXPECT_EQ(vanto.request(" \t {\"cmd\":\"cursor\"} \t "), plainCursor);
    EXPECT_EQ(vanto.request("{\"cmd\":\"cursor\"}   \r"), plainCursor);
    const std::string plainPermissions = vanto.request(R"({"cmd":"permissions"})");
    EXPECT_EQ(vanto.request("\t\t{\"cmd\":\"permissions\"}  "), plainPermissions);
}

TEST(ControlProtocol, AnswersComeInTheOrderOfTheRequests) {
    VantoSession vanto;
    vanto.sendRaw("{\"cmd\":\"cursor\"}\nnot json\n\n{\"cmd\":\"permissions\"}\n");
    auto first = vanto.answer();
    auto second = vanto.answer();
    auto third = vanto.answer();
    ASSERT_TRUE(first && second && third);
    EXPECT_TRUE(isCursorAnswer(*first)) << *first;
    EXPECT_EQ(*second, parseError);
    EXPECT_TRUE(third->starts_with(R"({"ok":true,"permissions":)")) << *third;
    EXPECT_TRUE(vanto.noAnswerWithin(300ms));
}

TEST(ControlProtocol, EndOfInputEndsTheProgramWithStatusZero) {
    {
        VantoSession vanto;
        vanto.closeInput();
        EXPECT_EQ(vanto.remainingOutput(), std::optional<std::string>(""));
        EXPECT_EQ(vanto.exitStatus(), std::optional(exitedWith(0)));
    }
    {
        // Every answer is written out, each ended by a newline, before the exit.
        VantoSession vanto;
        vanto.sendRaw("{\"cmd\":\"permissions\"}\n{\"cmd\":\"cursor\"}\n");
        vanto.closeInput();
        auto output = vanto.remainingOutput();
        ASSERT_TRUE(output);
        auto newline = output->find('\n');
        ASSERT_NE(newline, std::string::npos) << *output;
        EXPECT_TRUE(output->starts_with(R"({"ok":true,"permissions":)")) << *output;
        const std::string last = output->substr(newline + 1);
        ASSERT_TRUE(last.ends_with("\n")) << *output;
        EXPECT_TRUE(isCursorAnswer(last.substr(0, last.size() - 1))) << *output;
        EXPECT_EQ(vanto.exitStatus(), std::optional(exitedWith(0)));
    }
}

TEST(ControlProtocol, OverlongLinesAndUnusableNumbersAreRefusedAndTheNextRequestServed) {
    VantoSession vanto;
    vanto.send(std::string(10 * 1024 * 1024, 'x'));
    EXPECT_EQ(vanto.answer(), R"({"ok":false,"error":"the request line is longer than 1 MiB; it was skipped"})");
    EXPECT_EQ(vanto.request(R"({"cmd":"scroll","dy":1e18})"),
              R"({"ok":false,"error":"\"dy\" must be a whole number from -2147483648 to 2147483647"})");
    EXPECT_EQ(vanto.request(R"({"cmd":"move","to":{"x":1e999,"y":5}})"),
              R"({"ok":false,"error":"could not parse request as JSON: number overflow parsing '1e999'"})");
    EXPECT_EQ(vanto.request(R"({"cmd":"move","to":{"x":5,"y":-1e10}})"),
              R"({"ok":false,"error":"to: \"y\" must be a number from -2147483647 to 2147483647"})");
    EXPECT_EQ(vanto.request(R"({"cmd":"move","to":{"x":517,"y":433},"duration":0})"), R"({"ok":true})");
    EXPECT_EQ(vanto.request(R"({"cmd":"cursor"})"), R"({"ok":true,"cursor":{"x":517,"y":433}})");
}

TEST(ControlProtocol, AReaderThatGoesAwayLeavesAFinishedMovie) {
    TempDir folder;
    const auto movie = folder.path() / "take.mov";
    VantoSession vanto;
    Json start{{"cmd", "start"}, {"target", {{"kind", "display"}}}, {"output", movie.string()}};
    ASSERT_EQ(vanto.request(start.dump(), 30s), R"({"ok":true})");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(movie) && std::filesystem::file_size(movie) > 0; }, 10s));
    vanto.closeOutput();
    vanto.send(R"({"cmd":"status"})");
    // Not killed by the broken pipe: it saves the take and quits.
    EXPECT_EQ(vanto.exitStatus(30s), std::optional(exitedWith(1)));
    auto probed = runCommand({"ffprobe", "-v", "error", "-show_entries", "format=format_name,duration", "-of",
                              "default=noprint_wrappers=1", movie.string()});
    ASSERT_TRUE(probed);
    EXPECT_EQ(probed->status, exitedWith(0)) << probed->output;
    EXPECT_TRUE(probed->output.starts_with("format_name=mov,mp4")) << probed->output;
    auto duration = probed->output.find("duration=");
    ASSERT_NE(duration, std::string::npos) << probed->output;
    EXPECT_GT(std::strtod(probed->output.c_str() + duration + 9, nullptr), 0) << probed->output;
}

// --- the desktop as vanto sees it ----------------------------------------------------

TEST(Desktop, CursorIsWhereThePointerWasMoved) {
    VantoSession vanto;
    for (auto [x, y] : {std::pair{321, 234}, std::pair{0, 0}, std::pair{1439, 899}, std::pair{700, 5}}) {
        warpPointer(x, y);
        EXPECT_EQ(vanto.request(R"({"cmd":"cursor"})"), cursorAnswer(x, y));
    }
}

TEST(Desktop, PermissionsAreGrantedWithAccessibilityOnTheBus) {
    ASSERT_STREQ(std::getenv("ACCESSIBILITY_ENABLED"), "1") << "run this under scripts/headless-desktop.sh";
    VantoSession vanto;
    EXPECT_EQ(vanto.request(R"({"cmd":"permissions"})"),
              R"({"ok":true,"permissions":{"screenRecording":true,"accessibility":true}})");
}

// --- the window list --------------------------------------------------------------

TEST(WindowList, ChromiumWindowIsListedWithItsOwnerTitleAndGeometry) {
    TempDir pages;
    const std::string title = "Vanto e2e window list";
    auto browser =
        startChromium(writePage(pages.path(), title, "<h1>Window list</h1><button>Press</button>"), 120, 80, 1000, 700);
    VantoSession vanto;
    auto window = waitForWindowOf(vanto, browser->pid(), title);
    ASSERT_TRUE(window) << "no window of Chromium (pid " << browser->pid() << ") titled \"" << title
                        << "\" in: " << listWindows(vanto).dump();

    EXPECT_EQ(keysOf(*window),
              (std::vector<std::string>{"windowID", "app", "pid", "title", "x", "y", "width", "height"}));
    EXPECT_EQ((*window)["app"], "Chromium");
    EXPECT_EQ((*window)["pid"], browser->pid());

    auto truth = xwininfo(windowIDOf(*window));
    ASSERT_TRUE(truth) << "xwininfo knows no window " << windowIDOf(*window);
    EXPECT_NEAR((*window)["x"].get<int>(), truth->x, 2);
    EXPECT_NEAR((*window)["y"].get<int>(), truth->y, 2);
    EXPECT_NEAR((*window)["width"].get<int>(), truth->width, 2);
    EXPECT_NEAR((*window)["height"].get<int>(), truth->height, 2);
    expectOnlyLargeWindows(listWindows(vanto));
}

TEST(WindowList, FrontWindowComesFirst) {
    TempDir pages;
    const std::string title = "Vanto e2e stacking";
    auto browser = startChromium(writePage(pages.path(), title, "<h1>Behind or in front</h1>"), 60, 60, 900, 600);
    VantoSession vanto;
    auto chromium = waitForWindowOf(vanto, browser->pid(), title);
    ASSERT_TRUE(chromium) << listWindows(vanto).dump();
    const std::uint64_t chromiumID = windowIDOf(*chromium);

    TestWindow other(400, 300, 500, 400, "vanto e2e other window");
    const std::vector<std::uint64_t> otherInFront{other.id(), chromiumID};
    const std::vector<std::uint64_t> chromiumInFront{chromiumID, other.id()};
    activateWindow(other.id());
    EXPECT_TRUE(waitFor([&] { return frontTwo(vanto) == otherInFront; }, 10s, 100ms)) << listWindows(vanto).dump();
    activateWindow(chromiumID);
    EXPECT_TRUE(waitFor([&] { return frontTwo(vanto) == chromiumInFront; }, 10s, 100ms)) << listWindows(vanto).dump();
    activateWindow(other.id());
    EXPECT_TRUE(waitFor([&] { return frontTwo(vanto) == otherInFront; }, 10s, 100ms)) << listWindows(vanto).dump();
}

TEST(WindowList, OnlyWindowsWiderAndTallerThan80AreListed) {
    TestWindow narrow(100, 100, 80, 200, "vanto e2e narrow");
    TestWindow flat(300, 100, 200, 80, "vanto e2e flat");
    TestWindow smallest(600, 100, 81, 81, "vanto e2e smallest listed");
    const std::vector<std::uint64_t> ours{narrow.id(), flat.id(), smallest.id()};
    ASSERT_TRUE(waitFor(
        [&] {
            auto managed = clientListStacking();
            return std::ranges::all_of(ours, [&](auto id) { return std::ranges::count(managed, id) == 1; });
        },
        10s))
        << "the window manager did not take on the test windows";
    auto size = [](std::uint64_t id) {
        auto geometry = xwininfo(id);
        return geometry ? std::pair{geometry->width, geometry->height} : std::pair{-1, -1};
    };
    ASSERT_EQ(size(narrow.id()), std::pair(80, 200));
    ASSERT_EQ(size(flat.id()), std::pair(200, 80));
    ASSERT_EQ(size(smallest.id()), std::pair(81, 81));

    VantoSession vanto;
    Json windows = listWindows(vanto);
    const Json* listed = findWindow(windows, smallest.id());
    ASSERT_NE(listed, nullptr) << windows.dump();
    EXPECT_EQ((*listed)["title"], "vanto e2e smallest listed");
    EXPECT_EQ((*listed)["pid"], smallest.pid());
    EXPECT_EQ((*listed)["width"], 81);
    EXPECT_EQ((*listed)["height"], 81);
    EXPECT_EQ(findWindow(windows, narrow.id()), nullptr) << windows.dump();
    EXPECT_EQ(findWindow(windows, flat.id()), nullptr) << windows.dump();
    expectOnlyLargeWindows(windows);
}

// --- a prompt run's command line ------------------------------------------------------

TEST(PromptRun, OptionErrorsArePrintedAsOneAnswerWithStatusOne) {
    struct Case {
        std::vector<std::string> arguments;
        std::string answer;
    };
    const std::vector<Case> cases{
        {{"demo", "--quality", "ultra"}, R"({"ok":false,"error":"--quality must be one of: low, standard, high"})"},
        {{"demo", "--quality", "HIGH", "--codec", "av1"},
         R"({"ok":false,"error":"--codec must be one of: h264, hevc"})"},
        {{"demo", "--at", "8"}, R"({"ok":false,"error":"--at only means something with --into"})"},
        {{"demo", "--into", "v1", "--at", "-1"},
         R"({"ok":false,"error":"--at must be a number of seconds, like --at 8 or --at 8.5"})"},
        {{"demo", "--into", "v1"},
         R"({"ok":false,"error":"--into needs --at: say where in that video the take belongs"})"},
        {{"demo", "--into", "v1", "--at", "8.5", "--project", "p"},
         R"({"ok":false,"error":"--project is for a take that makes a new video; one aimed --into a video is part of it"})"},
        // Every option accepted: the run starts, and needs a plan file or a linked account.
        {{"demo", "--fps", "x", "--screen", "--quality", "LOW", "--codec", "HEVC", "--plan", "/nonexistent/plan.json"},
         R"({"ok":false,"error":"could not read the plan at /nonexistent/plan.json: No such file or directory"})"},
        // A device would feed bytes for ever: it is refused at once.
        {{"demo", "--plan", "/dev/zero"},
         R"({"ok":false,"error":"could not read the plan at /dev/zero: it is a device, not a regular file"})"},
    };
    for (const auto& [arguments, expected] : cases) {
        std::vector<std::string> argv{vantoBinary()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        auto result = runCommand(argv, 20s);
        ASSERT_TRUE(result) << "vanto did not end";
        EXPECT_EQ(result->output, expected + "\n");
        EXPECT_EQ(result->status, exitedWith(1));
    }
}

TEST(PromptRun, LeadingOptionMeansTheControlProtocol) {
    warpPointer(432, 123);
    VantoSession vanto({"--screen", "demo"});
    EXPECT_EQ(vanto.request(R"({"cmd":"cursor"})"), cursorAnswer(432, 123));
    vanto.closeInput();
    EXPECT_EQ(vanto.remainingOutput(), std::optional<std::string>(""));
    EXPECT_EQ(vanto.exitStatus(), std::optional(exitedWith(0)));
}
