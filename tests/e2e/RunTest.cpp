// Prompt runs of the real binary against the devservice's planner: what they send and
// log, and two runs on one machine seeing each other through the runs folder, with a
// killed run's file cleaned up by the next.

#include "DevService.h"
#include "Harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>
#include <sys/stat.h>

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

constexpr const char* prompt = "show the welcome page";
constexpr const char* notYet = R"({"ok":false,"error":"performing a plan's steps is not available in this build yet"})";

std::string readText(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::string> runFiles(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A home of its own with this machine linked to a devservice account, and a plan the
// planner answers the prompt with.
class PromptRuns : public testing::Test {
protected:
    PromptRuns() {
        const auto token = service.addAccount("ada@example.test", "Ada Lovelace");
        fs::create_directories(configFolder());
        ::chmod(configFolder().c_str(), 0700);
        std::ofstream(configFolder() / "config.json") << Json{{"token", token}, {"apiBase", service.base()}}.dump();
        ::setenv("HOME", home().c_str(), 1);
        for (const char* name : {"VANTO_CONFIG", "VANTO_API_BASE", "XDG_STATE_HOME", "XDG_CONFIG_HOME"}) ::unsetenv(name);
        const Json plan{{"steps",
                         {{{"action", "navigate"}, {"url", "http://localhost:8000/welcome"}},
                          {{"action", "click"}, {"target", "Start"}, {"role", "button"}},
                          {{"action", "type"}, {"text", "hello"}, {"label", "Greet"}},
                          {{"action", "click"}, {"target", "start"}}}}};
        auto stored = service.call("POST", "/__plans", Json{{"prompt", prompt}, {"plan", plan}}.dump(),
                                   {{"Content-Type", "application/json"}});
        EXPECT_EQ(stored.status, 201) << stored.body;
    }

    fs::path home() const { return folder.path() / "home"; }
    fs::path configFolder() const { return home() / ".config" / "vanto"; }
    fs::path runsFolder() const { return configFolder() / "runs"; }
    fs::path runLog() const { return home() / ".local" / "state" / "vanto" / "run.log"; }

    // One prompt run to its end: its answer on standard output, standard error apart.
    struct Finished {
        std::optional<CommandResult> result;
        std::string err;
    };
    Finished runToTheEnd(const std::string& name) {
        const auto errFile = folder.path() / (name + ".err");
        Finished finished;
        finished.result = runCommand(
            {"bash", "-c", "exec '" + vantoBinary() + "' '" + prompt + "' 2>'" + errFile.string() + "'"}, 60s);
        finished.err = readText(errFile);
        return finished;
    }

    TempDir folder{"vanto-e2e-runs"};
    DevService service;
};

TEST_F(PromptRuns, APlannedRunAsksThePlannerAndListsItsPreparedSteps) {
    auto run = runToTheEnd("one");
    ASSERT_TRUE(run.result) << "vanto did not end";
    EXPECT_EQ(run.result->output, std::string(notYet) + "\n");
    EXPECT_EQ(run.result->status, exitedWith(1));

    const std::string expected = "vanto: starting\n"
                                 "vanto: asking the planner\n"
                                 "vanto: planned 4 steps\n"
                                 "vanto:   1. navigate url=http://localhost:8000/welcome\n"
                                 "vanto:   2. click target=\"Start\" role=button\n"
                                 "vanto:   3. type\n"
                                 "vanto:   4. click target=\"start\"\n";
    EXPECT_EQ(run.err, expected);

    // The same lines in the run log, each after an "HH:mm:ss" stamp.
    std::istringstream log(readText(runLog()));
    std::istringstream err(expected);
    std::string logged, written;
    const std::regex stamp("^[0-2][0-9]:[0-5][0-9]:[0-5][0-9] ");
    int lines = 0;
    while (std::getline(err, written)) {
        ASSERT_TRUE(std::getline(log, logged)) << "the run log ends early";
        EXPECT_TRUE(std::regex_search(logged, stamp)) << logged;
        EXPECT_EQ(logged.substr(9), written.substr(std::string("vanto: ").size()));
        ++lines;
    }
    EXPECT_FALSE(std::getline(log, logged)) << "more in the run log: " << logged;
    EXPECT_EQ(lines, 7);

    auto bodies = Json::parse(service.call("GET", "/__plans/requests").body)["requests"];
    ASSERT_EQ(bodies.size(), 1u);
    EXPECT_EQ(bodies[0], (Json{{"prompt", prompt}, {"runner", "native"}, {"continues", false}, {"stage_only", false}}));
    EXPECT_TRUE(runFiles(runsFolder()).empty()) << "the run did not deregister";
}

TEST_F(PromptRuns, ARunStartedWhileAnotherIsRegisteredWalksAndAKilledRunsFileIsCleanedUp) {
    // The first run's planner answers late, so that it stays registered meanwhile.
    service.inject({{"path", "/api/capture/plan"}, {"delayMs", 20000}});
    Child first({vantoBinary(), prompt}, {.pipeStdout = true, .silenceStderr = true});
    const auto firstFile = std::to_string(first.pid());
    ASSERT_TRUE(waitFor([&] { return runFiles(runsFolder()) == std::vector<std::string>{firstFile}; }, 20s))
        << "the first run did not register";
    // Its file holds the registration time, in seconds since 1970.
    const double registered = std::stod(readText(runsFolder() / firstFile));
    EXPECT_NEAR(registered, static_cast<double>(std::time(nullptr)), 30);

    auto second = runToTheEnd("second");
    ASSERT_TRUE(second.result) << "the second run did not end";
    EXPECT_EQ(second.result->output, std::string(notYet) + "\n");
    EXPECT_NE(second.err.find("vanto: another vanto run is driving; walking the flow without recording\n"),
              std::string::npos)
        << second.err;
    // The second process emptied the log at its first line: the first run's lines are gone.
    const auto log = readText(runLog());
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 8) << log;
    EXPECT_NE(log.find("walking the flow without recording"), std::string::npos) << log;
    EXPECT_EQ(runFiles(runsFolder()), std::vector<std::string>{firstFile}) << "only the first run is registered";

    ::kill(first.pid(), SIGKILL);
    ASSERT_TRUE(first.wait(10s));
    EXPECT_EQ(runFiles(runsFolder()), std::vector<std::string>{firstFile}) << "a killed run cannot clean up";

    auto third = runToTheEnd("third");
    ASSERT_TRUE(third.result) << "the third run did not end";
    EXPECT_EQ(third.result->output, std::string(notYet) + "\n");
    EXPECT_EQ(third.err.find("walking the flow without recording"), std::string::npos)
        << "a dead run still counted: " << third.err;
    EXPECT_TRUE(runFiles(runsFolder()).empty()) << "the killed run's file is still there";
}

TEST_F(PromptRuns, APlanFileNeedsNoServiceAndAQuestionFromThePlannerIsTheAnswer) {
    // The planner's question back is the run's answer, word for word.
    const std::string question = "Which page should the tour start on? Give me its address.";
    service.call("POST", "/__plans", Json{{"prompt", "make a tour"}, {"question", question}}.dump(),
                 {{"Content-Type", "application/json"}});
    auto asked = runCommand({vantoBinary(), "make a tour"}, 60s);
    ASSERT_TRUE(asked);
    EXPECT_EQ(asked->output, (nlohmann::ordered_json{{"ok", false}, {"error", question}}.dump() + "\n"));
    EXPECT_EQ(asked->status, exitedWith(1));

    const auto planFile = folder.path() / "tour.json";
    std::ofstream(planFile) << R"({"steps":[{"action":"open","app":"Chromium"},{"action":"wait","ms":100}]})";
    fs::remove(configFolder() / "config.json");
    auto planned = runCommand({"bash", "-c",
                               "exec '" + vantoBinary() + "' 'narration' --plan '" + planFile.string() + "' 2>'" +
                                   (folder.path() / "plan.err").string() + "'"},
                              60s);
    ASSERT_TRUE(planned);
    EXPECT_EQ(planned->output, std::string(notYet) + "\n");
    EXPECT_EQ(readText(folder.path() / "plan.err"),
              "vanto: starting\n"
              "vanto: using tour.json; the prompt is narration only, not the plan\n"
              "vanto: planned 2 steps\n"
              "vanto:   1. open app=Chromium\n"
              "vanto:   2. wait\n");

    auto broken = runCommand({vantoBinary(), "narration", "--plan", (folder.path() / "missing.json").string()}, 60s);
    ASSERT_TRUE(broken);
    const nlohmann::ordered_json unreadable{{"ok", false},
                          {"error", "could not read the plan at " + (folder.path() / "missing.json").string() +
                                        ": No such file or directory"}};
    EXPECT_EQ(broken->output, unreadable.dump() + "\n");

    // Without a link and without a plan file there is nobody to ask.
    auto unlinked = runCommand({vantoBinary(), prompt}, 60s);
    ASSERT_TRUE(unlinked);
    EXPECT_EQ(Json::parse(unlinked->output).value("error", ""),
              "This computer is not linked to a Vanto account yet, so there is nowhere to send a recording. "
              "Press Connect in the toolbar and sign in.");
    EXPECT_EQ(unlinked->status, exitedWith(1));
}

} // namespace
} // namespace vanto::e2e
