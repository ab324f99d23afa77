// Scrolling toward targets for real: the engine's targeting over the Linux backend
// against a long page in Chromium, where a scroll is whole wheel clicks and the page
// glides to where they take it. A click at the element's centre runs the page's
// handler, which retitles the window: the element is really where it was found.

#include "Harness.h"

#include "engine/Engine.h"
#include "platform/linux/LinuxEventSink.h"
#include "platform/linux/LinuxPlatform.h"

#include <regex>
#include <string>
#include <thread>
#include <vector>

using namespace vanto::e2e;

namespace {

constexpr int left = 420, top = 40, width = 900, height = 700;

const char* longPage = R"(<style>button { width: 180px; height: 40px }</style>
<h1>Scroll test</h1>
<div style="height:1300px"></div>
<button onclick="document.title='Subscribed'">Subscribe</button>
<div style="height:3000px"></div>
<button onclick="document.title='Contacted'">Contact us</button>
<div style="height:2000px"></div>
<script>addEventListener('scroll', () => { document.title = 'scroll:' + Math.round(scrollY); });</script>
)";

class Scrolling : public testing::Test {
protected:
    void SetUp() override {
        chromium = startChromium(writePage(folder.path(), "Scroll test", longPage), left, top, width, height);
        ASSERT_TRUE(waitFor([&] { return !find(vanto, chromium->pid(), "Scroll test").empty(); }, 60s, 500ms))
            << "the page never became findable";
        vanto::Targeting::Callbacks callbacks;
        callbacks.log = [this](const std::string& line) { lines.push_back(line); };
        targeting.emplace(engine.targeting(std::move(callbacks)));
    }

    // The page's scroll offset once it has stopped gliding.
    std::optional<int> settledOffset() {
        std::string previous;
        int steady = 0;
        for (int i = 0; i < 100; ++i) {
            const std::string title = titleOf(vanto, chromium->pid()).value_or("");
            steady = title == previous ? steady + 1 : 0;
            previous = title;
            if (steady >= 5 && title.starts_with("scroll:")) return std::stoi(title.substr(7));
            std::this_thread::sleep_for(100ms);
        }
        return std::nullopt;
    }

    // Whether a click at the element's centre reaches it: its handler retitles the page.
    bool clickReaches(const vanto::AXElement& element, const std::string& title) {
        const Json click = {{"cmd", "click"}, {"to", {{"x", element.cx}, {"y", element.cy}}}};
        if (vanto.ask(click) != Json{{"ok", true}}) return false;
        return waitFor([&] { return titleOf(vanto, chromium->pid()).value_or("").find(title) != std::string::npos; },
                       10s, 100ms);
    }

    vanto::Rect window() {
        const auto info = targeting->firstWindow(static_cast<std::int32_t>(chromium->pid()));
        if (!info) return {};
        return {static_cast<double>(info->x), static_cast<double>(info->y), static_cast<double>(info->width),
                static_cast<double>(info->height)};
    }

    static vanto::Rect frameOf(const vanto::AXElement& element) {
        return {static_cast<double>(element.x), static_cast<double>(element.y), static_cast<double>(element.width),
                static_cast<double>(element.height)};
    }

    TempDir folder{"vanto-e2e-scrolling"};
    std::unique_ptr<Chromium> chromium;
    VantoSession vanto;
    vanto::LinuxPlatform backend;
    vanto::Platform platform = backend.platform();
    vanto::Engine engine{platform};
    std::vector<std::string> lines;
    std::optional<vanto::Targeting> targeting;
};

} // namespace

TEST_F(Scrolling, AButtonTwoScreensDownIsHuntedForAndBroughtIntoView) {
    const auto pid = static_cast<std::int32_t>(chromium->pid());
    vanto::Step step;
    step.action = "click";
    step.target = "Subscribe";
    const auto found = targeting->lookByScrolling(step, "Subscribe", pid);
    ASSERT_FALSE(found.empty()) << "hunting never found the button";
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"re(found "Subscribe" after scrolling [23] screen\(s\))re")))
        << lines[0];

    // The page went as far as the scrolls said, within a wheel click for each of them.
    const auto offset = settledOffset();
    ASSERT_TRUE(offset) << "the page did not scroll";
    const auto travelled = engine.scrollTrace().state().travelled;
    const auto screens = lines[0].find("2 screen") != std::string::npos ? 2 : 3;
    EXPECT_NEAR(*offset, travelled, screens * vanto::LinuxEventSink::pointsPerWheelClick / 2);

    const auto inView = targeting->broughtIntoView(found.front(), pid);
    EXPECT_TRUE(vanto::Targeting::isFullyInView(frameOf(inView), window()))
        << inView.y << " in a window at " << window().y << " " << window().height;
    EXPECT_TRUE(clickReaches(inView, "Subscribed"));
}

TEST_F(Scrolling, AButtonFarPastTheFoldIsScrolledToAndCanBeClicked) {
    const auto pid = static_cast<std::int32_t>(chromium->pid());
    vanto::Targeting::Wanted wanted;
    wanted.text = "Contact us";
    const auto contact = targeting->scrollTo(wanted, pid);
    ASSERT_TRUE(contact) << (lines.empty() ? "" : lines.back());
    EXPECT_EQ(lines.front(), "scrolling \"Contact us\" into view");
    EXPECT_EQ(lines.back(), "scrolled to \"Contact us\", which was off screen");
    EXPECT_TRUE(vanto::Targeting::isFullyInView(frameOf(*contact), window()));
    EXPECT_TRUE(clickReaches(*contact, "Contacted"));
}

TEST_F(Scrolling, APlannedScrollStopsWithItsTargetNearTheMiddle) {
    const auto pid = static_cast<std::int32_t>(chromium->pid());
    vanto::Step step;
    step.action = "scroll";
    step.target = "Contact us";
    ASSERT_TRUE(targeting->scroll(step, pid, std::nullopt, false));
    settledOffset();
    const auto found = engine.resolver().find(vanto::FindParams{.pid = pid, .text = "Contact us", .limit = 1});
    ASSERT_EQ(found.size(), 1u);
    const auto middle = window().y + window().height / 2;
    EXPECT_NEAR(static_cast<double>(found.front().cy), middle, 120);
    EXPECT_TRUE(clickReaches(found.front(), "Contacted"));
}
