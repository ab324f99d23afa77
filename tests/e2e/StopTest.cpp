// Calling a prompt run off from its terminal, through the real binary on the headless
// desktop: Ctrl-C (SIGINT) while the take is recorded keeps a movie that plays and a
// report that says the take stopped part-way; a second Ctrl-C ends the process at
// once with status 130, the movie finished first.

#include "Harness.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <signal.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace vanto::e2e {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& file) {
    std::ifstream in(file);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// How long ffprobe says the movie lasts; none when it cannot read it.
std::optional<double> probedDuration(const fs::path& movie) {
    auto probed = runCommand(
        {"ffprobe", "-v", "error", "-show_entries", "format=duration", "-of", "default=nw=1:nk=1", movie.string()},
        30s);
    if (!probed || probed->status != exitedWith(0) || probed->output.empty()) return std::nullopt;
    return std::stod(probed->output);
}

// The types of the movie file's top-level boxes, in order.
std::vector<std::string> topLevelBoxes(const fs::path& movie) {
    std::vector<std::string> types;
    std::ifstream in(movie, std::ios::binary);
    for (;;) {
        unsigned char header[16];
        if (!in.read(reinterpret_cast<char*>(header), 8)) break;
        std::uint64_t size = (std::uint64_t(header[0]) << 24) | (header[1] << 16) | (header[2] << 8) | header[3];
        types.emplace_back(reinterpret_cast<char*>(header + 4), 4);
        std::uint64_t headerSize = 8;
        if (size == 1) { // a 64-bit size follows
            if (!in.read(reinterpret_cast<char*>(header + 8), 8)) break;
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | header[i];
            headerSize = 16;
        }
        if (size < headerSize) break; // 0: to the end of the file
        in.seekg(static_cast<std::streamoff>(size - headerSize), std::ios::cur);
    }
    return types;
}

// A page in Chromium and a plan that holds still on it for twenty seconds, in a home
// of its own.
class StopByInterrupt : public testing::Test {
protected:
    StopByInterrupt() {
        fs::create_directories(home());
        ::setenv("HOME", home().c_str(), 1);
        for (const char* name : {"VANTO_CONFIG", "VANTO_API_BASE", "XDG_STATE_HOME", "XDG_CONFIG_HOME"})
            ::unsetenv(name);
        std::ofstream(planFile()) << R"({"steps":[{"action":"wait","ms":10000},{"action":"wait","ms":10000}]})";
        chromium = startChromium(writePage(folder.path(), "Hold still", "<h1>Hold still</h1>"), 80, 60, 900, 640);
        VantoSession lister;
        EXPECT_NE(waitForWindow(lister, "Hold still"), 0u) << "Chromium's window did not come";
    }

    fs::path home() const { return folder.path() / "home"; }
    fs::path planFile() const { return folder.path() / "plan.json"; }
    fs::path movie() const { return folder.path() / "take.mov"; }
    fs::path errFile() const { return folder.path() / "vanto.err"; }

    // The run, its progress going to errFile; interrupted by count SIGINTs once its
    // first step is being recorded.
    std::unique_ptr<Child> interruptedRun(int count) {
        auto run = std::make_unique<Child>(
            std::vector<std::string>{"bash", "-c",
                                     "exec '" + vantoBinary() + "' 'hold still' --plan '" + planFile().string() +
                                         "' --app Chromium --no-upload --yes --no-rehearse --output '" +
                                         movie().string() + "' 2>'" + errFile().string() + "'"},
            ChildOptions{.pipeStdout = true});
        EXPECT_TRUE(waitFor(
            [&] { return readText(errFile()).find("recording without a rehearsal") != std::string::npos; }, 30s))
            << readText(errFile());
        // Framing, starting and the still opening take about two seconds; the first step
        // then waits ten.
        std::this_thread::sleep_for(4s);
        for (int i = 0; i < count; ++i) {
            if (i > 0) std::this_thread::sleep_for(20ms); // a quick second press, not one merged with the first
            ::kill(run->pid(), SIGINT);
        }
        return run;
    }

    TempDir folder{"vanto-e2e-stop"};
    std::unique_ptr<Chromium> chromium;
};

TEST_F(StopByInterrupt, CtrlCWhileRecordingKeepsAPlayableTakeAndSaysItStoppedPartWay) {
    auto run = interruptedRun(1);
    const auto output = run->readAll(60s);
    ASSERT_TRUE(output) << "vanto did not end after Ctrl-C";
    EXPECT_EQ(run->wait(10s), std::optional(exitedWith(0))) << readText(errFile());
    ASSERT_EQ(std::count(output->begin(), output->end(), '\n'), 1) << *output;
    const auto report = nlohmann::json::parse(*output, nullptr, false);
    ASSERT_TRUE(report.is_object()) << *output;
    EXPECT_EQ(report.value("path", ""), movie().string());
    // A loaded machine may also drop frames, which the warning then adds after this.
    EXPECT_TRUE(report.value("warning", "")
                    .starts_with("stopped part-way through the flow; the take is what was recorded up to then"))
        << report.value("warning", "");
    EXPECT_EQ(report["steps"], nlohmann::json::array()) << "the interrupted wait counted as done";
    EXPECT_NE(readText(errFile()).find("vanto: stopped during step 1; keeping what has been recorded\n"),
              std::string::npos)
        << readText(errFile());

    const auto duration = probedDuration(movie());
    ASSERT_TRUE(duration) << "ffprobe cannot read the movie";
    EXPECT_NEAR(*duration, report.value("duration", -1.0), 0.5);
    EXPECT_LT(*duration, 10) << "the take went on after Ctrl-C";
}

TEST_F(StopByInterrupt, ASecondCtrlCEndsTheRunAtOnceWithTheMovieFinished) {
    auto run = interruptedRun(2);
    EXPECT_EQ(run->wait(60s), std::optional(exitedWith(130))) << readText(errFile());
    EXPECT_NE(readText(errFile()).find("vanto: stopped at once; the take is kept at " + movie().string() + "\n"),
              std::string::npos)
        << readText(errFile());
    const auto duration = probedDuration(movie());
    ASSERT_TRUE(duration) << "ffprobe cannot read the movie";
    EXPECT_GT(*duration, 1);
    // While it is written the movie is a chain of fragments, which plays but is no
    // finished movie; finishing makes it one whole.
    const auto boxes = topLevelBoxes(movie());
    EXPECT_NE(std::find(boxes.begin(), boxes.end(), "moov"), boxes.end());
    EXPECT_EQ(std::find(boxes.begin(), boxes.end(), "moof"), boxes.end()) << "the movie was left as it was written";
    EXPECT_FALSE(fs::exists(movie().string() + ".final.mov")) << "the movie was left half made";
}

} // namespace
} // namespace vanto::e2e
