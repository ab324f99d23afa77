// Prompt runs of the real binary against the devservice's planner: a whole run through a
// page in Chromium (plan, rehearsal, reset, recording, upload and placement), two runs on
// one machine seeing each other through the runs folder with a killed run's file cleaned
// up by the next, and the runs that end before anything moves.

#include "DevService.h"
#include "Harness.h"
#include "capture/StepHUD.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace vanto::e2e {
namespace {

namespace fs = std::filesystem;
using Json = nlohmann::json;
using test::DevService;

constexpr const char* prompt = "sign up for the newsletter";
// The screen of the headless desktop, and the step panel in its bottom-right corner.
constexpr int screenWidth = 1440, screenHeight = 900;
constexpr int panelLeft = screenWidth - hudlayout::screenMargin - hudlayout::panelWidth;
constexpr int panelTop = screenHeight - hudlayout::screenMargin - hudlayout::panelHeight;

std::string readText(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> runFiles(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// Whether every one of wanted appears among lines, in this order.
testing::AssertionResult inOrder(const std::vector<std::string>& lines, const std::vector<std::string>& wanted) {
    auto at = lines.begin();
    for (const auto& line : wanted) {
        at = std::find(at, lines.end(), line);
        if (at == lines.end()) return testing::AssertionFailure() << "no \"" << line << "\" where expected";
    }
    return testing::AssertionSuccess();
}

// A home of its own with this machine linked to a devservice account.
class PromptRuns : public testing::Test {
protected:
    PromptRuns() {
        token = service.addAccount("ada@example.test", "Ada Lovelace");
        fs::create_directories(configFolder());
        ::chmod(configFolder().c_str(), 0700);
        std::ofstream(configFolder() / "config.json") << Json{{"token", token}, {"apiBase", service.base()}}.dump();
        ::setenv("HOME", home().c_str(), 1);
        for (const char* name : {"VANTO_CONFIG", "VANTO_API_BASE", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            ::unsetenv(name);
    }

    fs::path home() const { return folder.path() / "home"; }
    fs::path configFolder() const { return home() / ".config" / "vanto"; }
    fs::path runsFolder() const { return configFolder() / "runs"; }
    fs::path runLog() const { return home() / ".local" / "state" / "vanto" / "run.log"; }

    void storePlan(const std::string& forPrompt, const Json& steps) {
        auto stored = service.call("POST", "/__plans", Json{{"prompt", forPrompt}, {"plan", {{"steps", steps}}}}.dump(),
                                   {{"Content-Type", "application/json"}});
        EXPECT_EQ(stored.status, 201) << stored.body;
    }

    // The account's view of the service, as the web application would ask.
    Http::Response get(const std::string& path) {
        return service.call("GET", path, "", {{"Authorization", "Bearer " + token}});
    }
    Json getJSON(const std::string& path) {
        auto response = get(path);
        EXPECT_EQ(response.status, 200) << path << ": " << response.body;
        return Json::parse(response.body, nullptr, false);
    }
    Json postJSON(const std::string& path, const Json& body) {
        auto response = service.call("POST", path, body.dump(),
                                     {{"Authorization", "Bearer " + token}, {"Content-Type", "application/json"}});
        EXPECT_EQ(response.status, 200) << path << ": " << response.body;
        return Json::parse(response.body, nullptr, false);
    }

    // A video of the account that is no movie: as long as its event log says.
    std::string videoOfTenSeconds() {
        const auto session = postJSON("/api/upload/initiate", {{"filename", "intro.mov"},
                                                               {"content_type", "video/quicktime"},
                                                               {"mode", "upload"},
                                                               {"prompt", "an intro"}})["session_id"]
                                 .get<std::string>();
        const std::string boundary = "vanto-e2e-boundary";
        const std::string form = "--" + boundary +
                                 "\r\nContent-Disposition: form-data; name=\"chunk\"; filename=\"part\"\r\n"
                                 "Content-Type: application/octet-stream\r\n\r\nnot a movie\r\n--" +
                                 boundary + "--\r\n";
        auto part = service.call(
            "PUT", "/api/upload/" + session + "/chunk?part_number=1", form,
            {{"Authorization", "Bearer " + token}, {"Content-Type", "multipart/form-data; boundary=" + boundary}});
        EXPECT_EQ(part.status, 200) << part.body;
        const auto etag = Json::parse(part.body, nullptr, false).value("etag", "");
        const auto id =
            postJSON("/api/upload/" + session + "/complete", {{"parts", {{{"part_number", 1}, {"etag", etag}}}}})["id"]
                .get<std::string>();
        postJSON("/api/video/" + id + "/events", {{"duration_ms", 10000}, {"events", Json::array()}});
        return id;
    }

    // One prompt run to its end: its standard output, and its standard error apart.
    struct Finished {
        std::optional<CommandResult> result;
        std::string err;
    };
    Finished runToTheEnd(const std::string& name, const std::vector<std::string>& arguments, Duration timeout = 60s) {
        const auto errFile = folder.path() / (name + ".err");
        std::string command = "exec '" + vantoBinary() + "'";
        for (const auto& argument : arguments) command += " '" + argument + "'";
        Finished finished;
        finished.result = runCommand({"bash", "-c", command + " 2>'" + errFile.string() + "' </dev/null"}, timeout);
        finished.err = readText(errFile);
        return finished;
    }

    // The lines of the run log, each after an "HH:mm:ss" stamp, without it.
    std::vector<std::string> runLogLines() {
        std::vector<std::string> lines;
        const std::regex stamp("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9] ");
        for (const auto& line : linesOf(readText(runLog()))) {
            EXPECT_TRUE(std::regex_search(line, stamp)) << line;
            lines.push_back(line.substr(std::min<std::size_t>(9, line.size())));
        }
        return lines;
    }
    static std::vector<std::string> withoutPrefix(const std::string& err) {
        std::vector<std::string> lines;
        for (const auto& line : linesOf(err)) {
            EXPECT_TRUE(line.starts_with("vanto: ")) << line;
            lines.push_back(line.substr(std::min<std::size_t>(7, line.size())));
        }
        return lines;
    }

    TempDir folder{"vanto-e2e-runs"};
    DevService service;
    std::string token;
};

// The whole road: the planner's plan for a page in Chromium, rehearsed, reset, performed
// again while recording, uploaded with its events and placed three seconds into a video.
TEST_F(PromptRuns, APlannedRunRecordsThePageUploadsTheTakeAndPlacesItInAVideo) {
    const std::string page = "file://" + (fs::path(VANTO_SOURCE_DIR) / "tests/e2e/pages/promptrun.html").string();
    const Json steps = {{{"action", "navigate"}, {"url", page}},
                        {{"action", "click"}, {"target", "Begin"}, {"role", "button"}},
                        {{"action", "type"}, {"text", "Ada"}, {"label", "Type a name"}},
                        {{"action", "click"}, {"target", "Edit"}, {"near", "Beta row"}},
                        {{"action", "click"}, {"target", "Send me updates"}, {"role", "checkbox"}},
                        {{"action", "click"}, {"target", "Finish"}, {"role", "button"}}};
    storePlan(prompt, steps);
    const auto intro = videoOfTenSeconds();

    // The window covers the screen, so the page's "Begin" lies under the step panel.
    auto chromium = startChromium("about:blank", 0, 0, screenWidth, screenHeight);
    VantoSession vanto;
    ASSERT_TRUE(waitForWindowOf(vanto, chromium->pid(), "about:blank")) << "Chromium's window did not come up";

    // The whole display is recorded: the panel is left out of it, and the clicks carry
    // where they happened in it (a window take's events carry no position).
    const auto movie = folder.path() / "take.mov";
    auto run = runToTheEnd(
        "whole", {prompt, "--app", "Chromium", "--screen", "--into", intro, "--at", "3", "--output", movie}, 240s);
    ASSERT_TRUE(run.result) << "vanto did not end\n" << run.err;
    EXPECT_EQ(run.result->status, exitedWith(0)) << run.err;
    const auto output = linesOf(run.result->output);
    ASSERT_EQ(output.size(), 1u) << run.result->output;
    const auto report = nlohmann::ordered_json::parse(output[0], nullptr, false);
    ASSERT_TRUE(report.is_object()) << output[0];

    // The report: its keys in their order, the steps as performed, the take placed.
    std::vector<std::string> keys;
    for (const auto& [key, value] : report.items()) keys.push_back(key);
    std::erase(keys, "warning"); // dropped frames on a busy machine are said there
    EXPECT_EQ(keys, (std::vector<std::string>{"prompt", "steps", "path", "duration", "events", "uploadID", "uploadURL",
                                              "insertedInto", "insertedAtMs"}));
    EXPECT_EQ(report["prompt"], prompt);
    EXPECT_EQ(report["steps"], (nlohmann::ordered_json{"navigate " + page, "click Begin", "Type a name", "click Edit",
                                     "click Send me updates", "click Finish"}));
    EXPECT_EQ(report["path"], movie.string());
    EXPECT_EQ(report["events"], 6);
    EXPECT_EQ(report["insertedInto"], intro);
    EXPECT_EQ(report["insertedAtMs"], 3000);
    EXPECT_EQ(report["uploadURL"], service.base() + "/videos/" + intro);
    const double duration = report.value("duration", 0.0);
    const auto uploadID = report.value("uploadID", "");

    // The movie plays for as long as the report says.
    auto probe = runCommand({"ffprobe", "-v", "error", "-show_entries", "format=duration:stream=codec_name", "-of",
                             "json", movie.string()});
    ASSERT_TRUE(probe && probe->status == exitedWith(0)) << (probe ? probe->output : "ffprobe did not end");
    const auto probed = Json::parse(probe->output, nullptr, false);
    EXPECT_EQ(probed["streams"][0]["codec_name"], "h264") << probe->output;
    EXPECT_NEAR(std::stod(probed["format"]["duration"].get<std::string>()), duration, 0.5);

    // The page saw every step once after the reset, the click under the panel included.
    EXPECT_EQ(titleOf(vanto, chromium->pid()),
              "seen load=1 begin=1 name=Ada edit-a=0 edit-b=1 updates=1 checked=yes finish=1 - Chromium");
    std::smatch at;
    ASSERT_TRUE(std::regex_search(run.err, at, std::regex(R"(vanto: clicking AXButton "Begin" at (\d+),(\d+) )")))
        << run.err;
    const int bx = std::stoi(at[1]), by = std::stoi(at[2]);
    EXPECT_TRUE(bx > panelLeft && bx < panelLeft + hudlayout::panelWidth && by > panelTop &&
                by < panelTop + hudlayout::panelHeight)
        << "Begin was clicked at " << bx << "," << by << ", not under the step panel";

    // The service holds the take byte for byte, with its events: every click at a point
    // inside the recorded frame, every event within the take.
    const auto stored = get("/api/video/" + uploadID + "/file");
    EXPECT_EQ(stored.status, 200);
    EXPECT_TRUE(stored.body == readText(movie)) << "the stored take differs from the movie";
    const auto log = getJSON("/api/video/" + uploadID + "/events");
    EXPECT_NEAR(log.value("duration_ms", 0), duration * 1000, 1);
    std::vector<std::string> noted;
    for (const auto& event : log["events"]) {
        noted.push_back(event.value("action", "") + " " + event.value("label", "") + " " + event.value("text", ""));
        EXPECT_GE(event.value("t", -1.0), 0) << event.dump();
        EXPECT_LE(event.value("t", 1e9), duration) << event.dump();
        if (event["action"] != "click") continue;
        ASSERT_TRUE(event.contains("x") && event.contains("y") && event.contains("viewport_w") &&
                    event.contains("viewport_h"))
            << event.dump();
        EXPECT_GE(event["x"].get<double>(), 0) << event.dump();
        EXPECT_LT(event["x"].get<double>(), event["viewport_w"].get<double>()) << event.dump();
        EXPECT_GE(event["y"].get<double>(), 0) << event.dump();
        EXPECT_LT(event["y"].get<double>(), event["viewport_h"].get<double>()) << event.dump();
    }
    EXPECT_EQ(noted, (std::vector<std::string>{"navigate navigate " + page + " " + page, "click click Begin ",
                                               "type Type a name Ada", "click click Edit ",
                                               "click click Send me updates ", "click click Finish "}));

    // As "Begin" was clicked the panel stood over it on the screen, but not in the take:
    // there the panel's place shows the light page, not the dark panel.
    double clickedBegin = 0;
    for (const auto& event : log["events"])
        if (event.value("label", "") == "click Begin") clickedBegin = event.value("t", 0.0);
    ASSERT_GT(clickedBegin, 0.5);
    const auto crop = "crop=" + std::to_string(hudlayout::panelWidth) + ":" + std::to_string(hudlayout::panelHeight) +
                      ":" + std::to_string(panelLeft) + ":" + std::to_string(panelTop) + ",format=gray";
    auto frame = runCommand({"ffmpeg", "-v", "error", "-ss", std::to_string(clickedBegin - 0.2), "-i", movie.string(),
                             "-frames:v", "1", "-vf", crop, "-f", "rawvideo", "-"},
                            30s);
    ASSERT_TRUE(frame && frame->status == exitedWith(0));
    ASSERT_EQ(frame->output.size(), std::size_t(hudlayout::panelWidth * hudlayout::panelHeight));
    double light = 0;
    for (unsigned char level : frame->output) light += level;
    EXPECT_GT(light / static_cast<double>(frame->output.size()), 160) << "the step panel is in the take";

    // The intro now holds the take three seconds in.
    const auto timeline = getJSON("/api/video/" + intro + "/timeline");
    const auto& clips = timeline["clips"];
    auto take = std::find_if(clips.begin(), clips.end(),
                             [&](const Json& clip) { return clip.value("source_video_id", "") == uploadID; });
    ASSERT_NE(take, clips.end()) << timeline.dump();
    EXPECT_EQ((*take)["at_ms"], 3000) << timeline.dump();
    EXPECT_EQ(clips.size(), 3u) << "the intro is split where the take goes: " << timeline.dump();
    EXPECT_NEAR(timeline.value("duration_ms", 0), 10000 + duration * 1000, 2) << timeline.dump();

    // What it said, phase by phase, and the same lines in the run log.
    const auto said = withoutPrefix(run.err);
    EXPECT_TRUE(inOrder(
        said, {"starting", "asking the planner", "planned 6 steps", "  1. navigate url=" + page,
               "  2. click target=\"Begin\" role=button", "  3. type", "  4. click target=\"Edit\" near=\"Beta row\"",
               "  5. click target=\"Send me updates\" role=checkbox", "  6. click target=\"Finish\" role=button",
               "driving Chromium - about:blank - Chromium", "rehearsed; resetting to record",
               "recording the whole display", "focus in the address bar", "saved " + movie.string()}))
        << run.err;
    EXPECT_EQ(runLogLines(), said);
    auto bodies = Json::parse(service.call("GET", "/__plans/requests").body)["requests"];
    EXPECT_EQ(bodies, (Json{{{"prompt", prompt}, {"runner", "native"}, {"continues", true}, {"stage_only", false}}}));
    EXPECT_TRUE(runFiles(runsFolder()).empty()) << "the run did not deregister";
}

TEST_F(PromptRuns, ARunStartedWhileAnotherIsRegisteredWalksAndAKilledRunsFileIsCleanedUp) {
    storePlan("pause a moment", {{{"action", "wait"}, {"ms", 100}, {"label", "a pause"}}});
    auto chromium = startChromium("about:blank", 100, 80, 900, 600);
    {
        VantoSession vanto;
        ASSERT_TRUE(waitForWindowOf(vanto, chromium->pid(), "about:blank")) << "Chromium's window did not come up";
    }

    // The first run's planner answers late, so that it stays registered meanwhile.
    service.inject({{"path", "/api/capture/plan"}, {"delayMs", 20000}});
    Child first({vantoBinary(), "pause a moment"}, {.pipeStdout = true, .silenceStderr = true});
    const auto firstFile = std::to_string(first.pid());
    ASSERT_TRUE(waitFor([&] { return runFiles(runsFolder()) == std::vector<std::string>{firstFile}; }, 20s))
        << "the first run did not register";
    // Its file holds the registration time, in seconds since 1970.
    const double registered = std::stod(readText(runsFolder() / firstFile));
    EXPECT_NEAR(registered, static_cast<double>(std::time(nullptr)), 30);

    // The second run drives the steps without recording, and says so in its report.
    auto second = runToTheEnd("second", {"pause a moment"});
    ASSERT_TRUE(second.result) << "the second run did not end";
    EXPECT_EQ(second.result->status, exitedWith(0)) << second.err;
    EXPECT_EQ(second.result->output,
              R"({"prompt":"pause a moment","steps":["a pause"],"path":"","duration":0.0,"events":0,)"
              R"("warning":"drove the flow without recording: another vanto run holds the camera"})"
              "\n");
    const auto said = withoutPrefix(second.err);
    EXPECT_TRUE(inOrder(said, {"starting", "asking the planner", "planned 1 steps", "  1. wait",
                               "driving Chromium - about:blank - Chromium",
                               "another vanto run is driving; walking the flow without recording"}))
        << second.err;
    // The second process emptied the log at its first line: the first run's lines are gone.
    EXPECT_EQ(runLogLines(), said);
    EXPECT_EQ(runFiles(runsFolder()), std::vector<std::string>{firstFile}) << "only the first run is registered";

    ::kill(first.pid(), SIGKILL);
    ASSERT_TRUE(first.wait(10s));
    EXPECT_EQ(runFiles(runsFolder()), std::vector<std::string>{firstFile}) << "a killed run cannot clean up";

    // The next run records: a dead run holds no camera. Its plan comes from a file, and
    // a take kept on this machine needs no service.
    const auto planFile = folder.path() / "tour.json";
    std::ofstream(planFile) << R"({"steps":[{"action":"open","app":"Chromium"},{"action":"wait","ms":100}]})";
    fs::remove(configFolder() / "config.json");
    const auto movie = folder.path() / "third.mov";
    auto third = runToTheEnd("third", {"narration", "--plan", planFile, "--no-upload", "--output", movie});
    ASSERT_TRUE(third.result) << "the third run did not end";
    EXPECT_EQ(third.result->status, exitedWith(0)) << third.err;
    const auto report = Json::parse(third.result->output, nullptr, false);
    EXPECT_EQ(report.value("path", ""), movie.string()) << third.result->output;
    EXPECT_EQ(report["steps"], (Json{"open", "wait"})) << third.result->output;
    EXPECT_GT(report.value("duration", 0.0), 1.5) << "the still head and tail are in the take";
    EXPECT_FALSE(report.contains("uploadID"));
    EXPECT_TRUE(fs::exists(movie));
    EXPECT_TRUE(inOrder(withoutPrefix(third.err),
                        {"starting", "using tour.json; the prompt is narration only, not the plan", "planned 2 steps",
                         "  1. open app=Chromium", "  2. wait", "saved " + movie.string()}))
        << third.err;
    EXPECT_EQ(third.err.find("walking the flow without recording"), std::string::npos)
        << "a dead run still counted: " << third.err;
    EXPECT_TRUE(runFiles(runsFolder()).empty()) << "the killed run's file is still there";
}

// Runs that end before anything on screen moves: the planner's question, a plan file
// that cannot be read, a video that does not exist, and no link to ask the planner with.
TEST_F(PromptRuns, RunsThatCannotStartSayWhyBeforeAnythingMoves) {
    // The planner's question back is the run's answer, word for word.
    const std::string question = "Which page should the tour start on? Give me its address.";
    service.call("POST", "/__plans", Json{{"prompt", "make a tour"}, {"question", question}}.dump(),
                 {{"Content-Type", "application/json"}});
    auto asked = runToTheEnd("asked", {"make a tour"});
    ASSERT_TRUE(asked.result);
    EXPECT_EQ(asked.result->output, (nlohmann::ordered_json{{"ok", false}, {"error", question}}.dump() + "\n"));
    EXPECT_EQ(asked.result->status, exitedWith(1));

    auto broken = runToTheEnd("broken", {"narration", "--plan", (folder.path() / "missing.json").string()});
    ASSERT_TRUE(broken.result);
    const nlohmann::ordered_json unreadable{
        {"ok", false},
        {"error",
         "could not read the plan at " + (folder.path() / "missing.json").string() + ": No such file or directory"}};
    EXPECT_EQ(broken.result->output, unreadable.dump() + "\n");

    // A video that is not there is found out before the planner is asked.
    auto unknown = runToTheEnd("unknown", {"make a tour", "--into", "vid_0000000000000000", "--at", "3"});
    ASSERT_TRUE(unknown.result);
    EXPECT_EQ(unknown.result->output, R"({"ok":false,"error":"no recording of yours has the id vid_0000000000000000"})"
                                      "\n");
    EXPECT_EQ(unknown.result->status, exitedWith(1));
    EXPECT_EQ(Json::parse(service.call("GET", "/__plans/requests").body)["requests"].size(), 1u)
        << "the planner was asked for a take into no video";

    // Without a link and without a plan file there is nobody to ask.
    fs::remove(configFolder() / "config.json");
    auto unlinked = runToTheEnd("unlinked", {"make a tour"});
    ASSERT_TRUE(unlinked.result);
    EXPECT_EQ(Json::parse(unlinked.result->output).value("error", ""),
              "This computer is not linked to a Vanto account yet, so there is nowhere to send a recording. "
              "Press Connect in the toolbar and sign in.");
    EXPECT_EQ(unlinked.result->status, exitedWith(1));
}

} // namespace
} // namespace vanto::e2e
