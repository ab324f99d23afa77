// Title cards in a real Chromium: the page shows its title, subtitle and call to
// action in the designed colours, starts hidden and rises into view, and asks the
// network for nothing. Also the launch of a broken demo sheet with --demo.

#include "Harness.h"

#include "platform/fake/FakePlatform.h"
#include "sheets/TitleCard.h"

#include <nlohmann/json.hpp>
#include <png.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using namespace vanto::e2e;

namespace {

struct Colour {
    int r, g, b;
};
constexpr Colour background{0x0b, 0x0d, 0x12};
constexpr Colour titleColour{0xf4, 0xf6, 0xfb};
constexpr Colour subtitleColour{0xaa, 0xb2, 0xc5};
constexpr Colour actionColour{0x5c, 0xe1, 0xe6};

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;
    Colour at(int x, int y) const {
        const auto* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
        return {p[0], p[1], p[2]};
    }
};

bool near(Colour a, Colour b, int tolerance) {
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

std::optional<Image> readPNG(const std::filesystem::path& file) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, file.c_str())) return std::nullopt;
    image.format = PNG_FORMAT_RGB;
    Image out;
    out.width = static_cast<int>(image.width);
    out.height = static_cast<int>(image.height);
    out.rgb.resize(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, out.rgb.data(), 0, nullptr)) {
        png_image_free(&image);
        return std::nullopt;
    }
    return out;
}

// Where pixels of one colour are, and how many.
struct Region {
    int count = 0;
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    int centreX() const { return (left + right) / 2; }
};

Region regionOf(const Image& image, Colour colour, int tolerance) {
    Region region;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (near(image.at(x, y), colour, tolerance)) {
                ++region.count;
                region.left = std::min(region.left, x);
                region.right = std::max(region.right, x);
                region.top = std::min(region.top, y);
                region.bottom = std::max(region.bottom, y);
            }
    return region;
}

std::string fileURL(const std::filesystem::path& file) {
    return "file://" + file.string();
}

struct HeadlessShot {
    std::optional<Image> image;
    std::vector<std::string> pageRequests; // addresses the page itself asked the network for
};

// The browser's own traffic (updates, accounts) has no origin; a page's requests do.
std::vector<std::string> pageRequestsIn(const std::filesystem::path& netLog) {
    std::ifstream in(netLog);
    Json log = Json::parse(in, nullptr, false);
    std::vector<std::string> found;
    if (log.is_discarded()) {
        ADD_FAILURE() << "the net log is not JSON: " << netLog;
        return found;
    }
    const int startJob = log["constants"]["logEventTypes"].value("URL_REQUEST_START_JOB", -1);
    EXPECT_NE(startJob, -1) << "the net log names no request event";
    for (const auto& event : log.value("events", Json::array())) {
        if (event.value("type", -2) != startJob || !event.contains("params")) continue;
        const auto& params = event["params"];
        if (!params.contains("url")) continue; // the end of a job, not its start
        if (params.value("initiator", "") != "not an origin") found.push_back(params.value("url", "?"));
    }
    return found;
}

// A fresh headless Chromium that shows the page for `budget` ms of virtual time, then
// takes a screenshot; nothing it asks for can leave the machine.
HeadlessShot headless(const std::string& url, int budget, const std::filesystem::path& folder) {
    const auto profile = folder / ("profile-" + std::to_string(budget));
    const auto shot = folder / ("shot-" + std::to_string(budget) + ".png");
    const auto netLog = folder / ("net-" + std::to_string(budget) + ".json");
    auto result =
        runCommand({"chromium", "--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                    "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
                    "--disable-sync", "--disable-extensions", "--host-resolver-rules=MAP * ~NOTFOUND",
                    "--user-data-dir=" + profile.string(), "--log-net-log=" + netLog.string(), "--window-size=1440,900",
                    "--virtual-time-budget=" + std::to_string(budget), "--screenshot=" + shot.string(), url},
                   120s);
    HeadlessShot out;
    if (!result || result->status != exitedWith(0)) {
        ADD_FAILURE() << "headless Chromium did not finish";
        return out;
    }
    out.image = readPNG(shot);
    out.pageRequests = pageRequestsIn(netLog);
    return out;
}

// A copy of the page with its rise finished at once. Headless Chromium's virtual time
// does not always carry a running animation to its last frame before the screenshot on
// a busy machine; the colours and layout are what this check is about, and the rise
// itself is checked from its start below.
std::filesystem::path risenAtOnce(const std::filesystem::path& page) {
    std::ifstream in(page);
    std::stringstream html;
    html << in.rdbuf();
    std::string text = html.str();
    const auto head = text.find("</head>");
    if (head == std::string::npos) {
        ADD_FAILURE() << "the card has no head";
        return page;
    }
    text.insert(head, "<style>* { animation-duration: 0s !important; animation-delay: 0s !important; }</style>");
    auto copy = page.parent_path() / "risen.html";
    std::ofstream(copy) << text;
    return copy;
}

const vanto::TitleCard card{"Meet <b>Vanto</b>", std::string("Demo videos that make themselves"),
                            std::string("Start your first take")};

} // namespace

TEST(TitleCardRendering, ShowsTheCardInItsColoursAndLoadsNothing) {
    TempDir folder("vanto-e2e-card");
    vanto::fake::SeededRandom random(11);
    auto page = card.write(folder.path() / "cards", random);

    auto shown = headless(fileURL(risenAtOnce(page)), 5000, folder.path());
    ASSERT_TRUE(shown.image) << "no screenshot";
    const Image& image = *shown.image;
    ASSERT_EQ(image.width, 1440);
    ASSERT_EQ(image.height, 900);
    for (auto [x, y] : {std::pair{0, 0}, {1439, 0}, {0, 899}, {1439, 899}, {720, 100}})
        EXPECT_TRUE(near(image.at(x, y), background, 2)) << x << "," << y;

    // Title, then subtitle, then call to action, each centred and in its own colour.
    Region title = regionOf(image, titleColour, 6);
    Region subtitle = regionOf(image, subtitleColour, 6);
    Region action = regionOf(image, actionColour, 6);
    ASSERT_GT(title.count, 2000) << "the title is not drawn";
    ASSERT_GT(subtitle.count, 200) << "the subtitle is not drawn";
    ASSERT_GT(action.count, 200) << "the call to action is not drawn";
    EXPECT_NEAR(title.centreX(), 720, 24);
    EXPECT_NEAR(subtitle.centreX(), 720, 24);
    EXPECT_NEAR(action.centreX(), 720, 24);
    EXPECT_LT(title.bottom, subtitle.top);
    EXPECT_LT(subtitle.bottom, action.top);
    // 6vw of a 1440-wide page: a heading about 86 px high, the tag's brackets included.
    EXPECT_GT(title.bottom - title.top, 50);
    EXPECT_GT(title.right - title.left, 800) << "the bold tag's characters should widen the title";
    EXPECT_LT(title.top, 450);
    EXPECT_GT(action.bottom, 450);

    EXPECT_TRUE(shown.pageRequests.empty()) << "the card asked for " << shown.pageRequests.front();
}

TEST(TitleCardRendering, StartsHiddenBeforeItRises) {
    TempDir folder("vanto-e2e-card");
    vanto::fake::SeededRandom random(12);
    auto page = card.write(folder.path(), random);
    auto early = headless(fileURL(page), 100, folder.path());
    ASSERT_TRUE(early.image) << "no screenshot";
    EXPECT_EQ(regionOf(*early.image, background, 2).count, early.image->width * early.image->height)
        << "something is visible before the rise begins";
}

TEST(TitleCardRendering, ThePageRequestCheckSeesARequest) {
    // The same check on a page that does reach out, so an empty list above means something.
    TempDir folder("vanto-e2e-card");
    auto url = writePage(folder.path(), "Reaches out", R"(<img src="http://example.invalid/a.png">)");
    auto shown = headless(url, 2000, folder.path());
    ASSERT_EQ(shown.pageRequests.size(), 1u);
    EXPECT_EQ(shown.pageRequests.front(), "http://example.invalid/a.png");
}

TEST(TitleCardPage, ShowsItsTitleInTheAccessibilityTree) {
    TempDir folder("vanto-e2e-card");
    vanto::fake::SeededRandom random(13);
    auto page = card.write(folder.path(), random);
    auto chromium = startChromium(fileURL(page), 0, 0, 1280, 800);
    VantoSession vanto;

    Json found;
    auto findTitle = [&] {
        found = find(vanto, chromium->pid(), "Meet <b>Vanto</b>");
        for (const auto& element : found)
            if (element.value("text", "") == "Meet <b>Vanto</b>" && element.value("inPage", false)) return true;
        return false;
    };
    ASSERT_TRUE(waitFor(findTitle, 60s, 500ms)) << "the title never showed in the page: " << found.dump();
    for (const char* text : {"Demo videos that make themselves", "Start your first take"}) {
        const Json found = find(vanto, chromium->pid(), text);
        bool shown = false;
        for (const auto& element : found) shown = shown || element.value("text", "") == text;
        EXPECT_TRUE(shown) << text << ": " << found.dump();
    }
}

namespace {

struct Launch {
    ExitStatus status;
    std::string out;
    std::string err;
};

// vanto with the arguments, its standard error kept apart from its output.
Launch launch(const std::vector<std::string>& arguments, const std::filesystem::path& folder, const std::string& home) {
    const auto errFile = folder / "stderr.txt";
    std::string command = "cd '" + folder.string() + "' && HOME='" + home + "' exec '" + vantoBinary() + "'";
    for (const auto& argument : arguments) command += " '" + argument + "'";
    command += " 2>'" + errFile.string() + "'";
    auto result = runCommand({"bash", "-c", command}, 30s);
    Launch out;
    if (!result) {
        ADD_FAILURE() << "vanto did not end";
        return out;
    }
    out.status = result->status;
    out.out = result->output;
    std::ifstream in(errFile);
    std::stringstream bytes;
    bytes << in.rdbuf();
    out.err = bytes.str();
    return out;
}

} // namespace

TEST(DemoLaunch, ABrokenSheetEndsWithItsMessageOnStandardError) {
    TempDir folder("vanto-e2e-demo");
    const std::string home = folder.path().string();
    std::ofstream(folder.path() / "broken.json") << R"({"title": "Tour", "scenes": [)";
    std::ofstream(folder.path() / "empty.json") << R"({"title": "Tour", "scenes": []})";
    std::ofstream(folder.path() / "future.json") << R"({"version": 2, "title": "Tour"})";
    std::ofstream(folder.path() / "hold.json")
        << R"({"title":"T","scenes":[{"name":"Intro","prompt":"x"},{"kind":"hold","name":"Freeze","prompt":"y"}]})";

    auto broken = launch({"--demo", "broken.json"}, folder.path(), home);
    EXPECT_EQ(broken.status, exitedWith(1));
    EXPECT_EQ(broken.out, "");
    EXPECT_TRUE(broken.err.starts_with("the demo sheet is not a sheet this app understands: parse error at line 1"))
        << broken.err;
    EXPECT_TRUE(broken.err.ends_with("\n")) << broken.err;
    EXPECT_EQ(std::count(broken.err.begin(), broken.err.end(), '\n'), 1) << broken.err;

    auto empty = launch({"--demo", "~/empty.json"}, folder.path(), home);
    EXPECT_EQ(empty.status, exitedWith(1));
    EXPECT_EQ(empty.err, "the demo sheet has no scenes in it\n");

    auto future = launch({"--demo", "future.json"}, folder.path(), home);
    EXPECT_EQ(future.status, exitedWith(1));
    EXPECT_EQ(future.err, "the demo sheet is version 2, and this app reads up to version 1. Update Vanto.\n");

    auto hold = launch({"--demo", (folder.path() / "hold.json").string()}, folder.path(), home);
    EXPECT_EQ(hold.status, exitedWith(1));
    EXPECT_EQ(hold.err,
              "scene 2, \"Freeze\", is a hold, which is frozen in the editor rather than recorded - it should not "
              "carry a prompt\n");

    // A device would feed bytes for ever: it is refused at once.
    auto device = launch({"--demo", "/dev/zero"}, folder.path(), home);
    EXPECT_EQ(device.err, "could not read the demo sheet at /dev/zero: it is a device, not a regular file\n");

    auto missing = launch({"--demo", "~/nowhere.json"}, folder.path(), home);
    EXPECT_EQ(missing.status, exitedWith(1));
    EXPECT_EQ(missing.err, "could not read the demo sheet at " + home + "/nowhere.json: No such file or directory\n");
    EXPECT_EQ(missing.out, "");
}
