// A driven take for real: a run over the engine and the Linux backend records a page
// in Chromium while an agent on another thread drives it through the file driver's
// folder, as a coding agent beside a demo sheet would: it reads each answer file,
// writes its next command, and ends the take with "end".

#include "Harness.h"

#include "agent/Agent.h"
#include "drivers/FileDriver.h"
#include "engine/Engine.h"
#include "platform/linux/LinuxPlatform.h"

#include <cstdlib>
#include <fstream>
#include <future>
#include <sstream>
#include <thread>

using namespace vanto::e2e;
namespace fs = std::filesystem;

namespace {

constexpr int left = 300, top = 40, width = 900, height = 700;

const char* page = R"(<style>button { width: 180px; height: 40px; margin: 40px }</style>
<h1>Driven page</h1>
<button onclick="document.title='Subscribed'">Subscribe</button>
<a href="#more">More</a>
)";

class DrivenTake : public testing::Test {
protected:
    void SetUp() override {
        // A runs folder of our own: another suite's run must not make this one walk.
        setenv("VANTO_CONFIG", (folder.path() / "config" / "config.json").c_str(), 1);
        chromium = startChromium(writePage(folder.path(), "Driven page", page), left, top, width, height);
        ASSERT_TRUE(waitFor([&] { return !find(lister, chromium->pid(), "Subscribe").empty(); }, 60s, 500ms))
            << "the page never became findable";
    }

    ~DrivenTake() override { backend.runLoop().quit(); }

    // The agent's side: the answer to command id, once it is published.
    std::optional<Json> answerTo(int id) {
        const auto file = drive / ("result-" + std::to_string(id) + ".json");
        if (!waitFor([&] { return fs::exists(file); }, 90s, 100ms)) return std::nullopt;
        std::ifstream in(file);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return Json::parse(bytes.str(), nullptr, false);
    }

    // Written under another name and renamed, so that half a command is never read.
    void send(const Json& command) {
        const auto hidden = drive / ".next.json";
        std::ofstream(hidden) << command.dump();
        fs::rename(hidden, drive / "next.json");
    }

    static bool lists(const Json& answer, const std::string& role, const std::string& label) {
        for (const auto& control : answer["look"]["controls"])
            if (control["role"] == role && control["label"] == label) return true;
        return false;
    }

    TempDir folder{"vanto-e2e-driven"};
    fs::path drive = folder.path() / "demo.drive";
    std::unique_ptr<Chromium> chromium;
    VantoSession lister;
    vanto::LinuxPlatform backend;
    vanto::Platform platform = backend.platform();
    vanto::Engine engine{platform};
    std::jthread mainThread{[this] { backend.runLoop().park(); }};
    std::vector<std::string> lines;
};

} // namespace

TEST_F(DrivenTake, AnAgentDrivesThePageThroughTheFolderAndEndsTheTake) {
    auto driver = std::make_shared<vanto::FileDriver>(drive, platform.clock);
    driver->prepare();
    vanto::RunParams params;
    params.prompt = "a driven take";
    params.output = folder.path() / "take.mov";
    params.upload = false;
    params.rehearse = false;
    params.pid = static_cast<std::int32_t>(chromium->pid());
    params.driver = driver;
    std::ostringstream err;
    auto agent = engine.makeAgent(vanto::ProgressLog(err, [this](const std::string& line) { lines.push_back(line); }));
    auto run = std::async(std::launch::async, [&] { return agent.run(params); });
    // A failing check must not leave the run waiting two minutes for the agent.
    struct Abandon {
        std::function<void()> leave;
        ~Abandon() { leave(); }
    } abandon{[&] {
        if (run.valid() && run.wait_for(0s) != std::future_status::ready) send({{"id", 99}, {"abort", true}});
    }};

    const auto opening = answerTo(0);
    ASSERT_TRUE(opening) << err.str();
    EXPECT_EQ((*opening)["outcome"], "started");
    EXPECT_TRUE(lists(*opening, "button", "Subscribe")) << opening->dump();
    EXPECT_TRUE(lists(*opening, "link", "More")) << opening->dump();
    EXPECT_EQ((*opening)["look"]["screenshot"], "look-0.png");
    EXPECT_GT(fs::file_size(drive / "look-0.png"), 1000u);

    send({{"id", 1}, {"step", {{"action", "click"}, {"target", "Subscribe"}}}});
    const auto clicked = answerTo(1);
    ASSERT_TRUE(clicked) << err.str();
    EXPECT_EQ((*clicked)["outcome"], "done") << clicked->dump();
    EXPECT_TRUE(waitFor([&] { return titleOf(lister, chromium->pid()).value_or("").find("Subscribed") == 0; }, 10s))
        << "the page never saw the click";

    send({{"id", 2}, {"step", {{"action", "open"}, {"app", "Gedit"}}}});
    const auto refused = answerTo(2);
    ASSERT_TRUE(refused) << err.str();
    EXPECT_EQ((*refused)["outcome"], "failed");
    EXPECT_EQ((*refused)["error"], "open is not available in a driven take: every step happens in the stage browser");

    // The agent thinks for a moment: the take notes the pause.
    std::this_thread::sleep_for(1500ms);
    send({{"id", 3}, {"end", true}});
    const auto ended = answerTo(3);
    ASSERT_TRUE(ended) << err.str();
    EXPECT_EQ(*ended, (Json{{"id", 3}, {"outcome", "ended"}}));

    ASSERT_EQ(run.wait_for(60s), std::future_status::ready) << err.str();
    const auto report = run.get();
    EXPECT_EQ(report.steps, (std::vector<std::string>{"click Subscribe", "open"}));
    // Ended by its driver: neither idled out nor stopped (a busy desktop may drop a frame).
    const auto warning = report.warning.value_or("");
    EXPECT_EQ(warning.find("the agent sent nothing"), std::string::npos) << warning;
    EXPECT_EQ(warning.find("stopped part-way"), std::string::npos) << warning;
    ASSERT_TRUE(report.idleMs);
    ASSERT_FALSE(report.idleMs->empty());
    const auto [start, end] = report.idleMs->back();
    EXPECT_GE(end - start, 1400);
    EXPECT_LE(end, std::llround(report.duration * 1000));
    EXPECT_NE(std::ranges::find(lines, "driven take; waiting for the agent's steps once recording starts"),
              lines.end());

    const auto probed =
        runCommand({"ffprobe", "-v", "error", "-print_format", "json", "-show_format", report.path}, 30s);
    ASSERT_TRUE(probed && probed->status == exitedWith(0)) << report.path;
    const auto format = Json::parse(probed->output, nullptr, false)["format"];
    EXPECT_NEAR(std::stod(format["duration"].get<std::string>()), report.duration, 0.5);
}
