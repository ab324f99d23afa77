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

    bool inView(const vanto::AXElement& e) {
        const auto w = targeting->firstWindow(pid());
        return w && vanto::Targeting::isFullyInView({double(e.x), double(e.y), double(e.width), double(e.height)},
                                                    {double(w->x), double(w->y), double(w->width), double(w->height)});
    }

    std::int32_t pid() const { return static_cast<std::int32_t>(chromium->pid()); }

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
    vanto::Step step;
    step.action = "click";
    step.target = "Subscribe";
    const auto found = targeting->lookByScrolling(step, "Subscribe", pid());
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

    const auto brought = targeting->broughtIntoView(found.front(), pid());
    EXPECT_TRUE(inView(brought)) << brought.y;
    EXPECT_TRUE(clickReaches(brought, "Subscribed"));
}

TEST_F(Scrolling, AButtonFarPastTheFoldIsScrolledToAndCanBeClicked) {
    vanto::Targeting::Wanted wanted;
    wanted.text = "Contact us";
    const auto contact = targeting->scrollTo(wanted, pid());
    ASSERT_TRUE(contact) << (lines.empty() ? "" : lines.back());
    EXPECT_EQ(lines.front(), "scrolling \"Contact us\" into view");
    EXPECT_EQ(lines.back(), "scrolled to \"Contact us\", which was off screen");
    EXPECT_TRUE(inView(*contact));
    EXPECT_TRUE(clickReaches(*contact, "Contacted"));
}

TEST_F(Scrolling, APlannedScrollStopsWithItsTargetNearTheMiddle) {
    vanto::Step step;
    step.action = "scroll";
    step.target = "Contact us";
    ASSERT_TRUE(targeting->scroll(step, pid(), std::nullopt, false));
    settledOffset();
    const auto found = engine.resolver().find(vanto::FindParams{.pid = pid(), .text = "Contact us", .limit = 1});
    ASSERT_EQ(found.size(), 1u);
    const auto window = targeting->firstWindow(pid());
    ASSERT_TRUE(window);
    EXPECT_NEAR(found.front().cy, window->y + window->height / 2, 120);
    EXPECT_TRUE(clickReaches(found.front(), "Contacted"));
}
