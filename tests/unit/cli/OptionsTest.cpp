#include "cli/Options.h"

#include <gtest/gtest.h>

namespace vanto {
namespace {

PromptOptions parse(Arguments arguments) {
    return parsePromptOptions(arguments, [] { return std::filesystem::path("/tmp/default.mov"); });
}

std::string failure(Arguments arguments) {
    try {
        parse(std::move(arguments));
    } catch (const OptionError& error) {
        return error.what();
    }
    return "(no error)";
}

TEST(Options, valueIsTheArgumentAfterTheFirstMatchAndNoneWhenLast) {
    Arguments args{"demo", "--fps", "10", "--fps", "20", "--app"};
    EXPECT_EQ(value("--fps", args), "10");
    EXPECT_EQ(value("--app", args), std::nullopt);
    EXPECT_EQ(value("--output", args), std::nullopt);
    EXPECT_TRUE(hasFlag("--app", args));
}

TEST(Options, defaultsWhenNothingIsGiven) {
    auto options = parse({"a demo"});
    const auto& p = options.params;
    EXPECT_EQ(p.prompt, "a demo");
    EXPECT_EQ(p.output, "/tmp/default.mov");
    EXPECT_EQ(p.fps, 30);
    EXPECT_TRUE(p.upload);
    EXPECT_FALSE(p.planFile);
    EXPECT_FALSE(p.fullScreen);
    EXPECT_FALSE(p.driveOnly);
    EXPECT_FALSE(p.assumeYes);
    EXPECT_EQ(p.quality, RecordingQuality::standard);
    EXPECT_EQ(p.codec, RecordingCodec::h264);
    EXPECT_TRUE(p.applyProjectSettings);
    EXPECT_TRUE(p.rehearse);
    EXPECT_FALSE(p.pageOnly);
    EXPECT_FALSE(p.startURL || p.cloud || p.clientKey || p.driver || p.scene || p.into || p.atSeconds || p.project);
    EXPECT_FALSE(options.charsPerSecond);
}

TEST(Options, everyOptionReachesTheRunParams) {
    auto options = parse({"demo",         "--output",
                          "/x/take.mov",  "--fps",
                          "+24",          "--quality",
                          "HIGH",         "--codec",
                          "Hevc",         "--into",
                          "vid_1",        "--at",
                          "8.5",          "--cps",
                          "15.5",         "--no-upload",
                          "--plan",       "plan.json",
                          "--app",        "Chromium",
                          "--pid",        "-77",
                          "--screen",     "--no-record",
                          "--yes",        "--no-project-settings",
                          "--no-rehearse"});
    const auto& p = options.params;
    EXPECT_EQ(p.output, "/x/take.mov");
    EXPECT_EQ(p.fps, 24);
    EXPECT_EQ(p.quality, RecordingQuality::high);
    EXPECT_EQ(p.codec, RecordingCodec::hevc);
    EXPECT_EQ(p.into, "vid_1");
    EXPECT_EQ(p.atSeconds, 8.5);
    EXPECT_EQ(options.charsPerSecond, 15.5);
    EXPECT_FALSE(p.upload);
    EXPECT_EQ(p.planFile, std::filesystem::path("plan.json"));
    EXPECT_EQ(p.app, "Chromium");
    EXPECT_EQ(p.pid, -77);
    EXPECT_TRUE(p.fullScreen && p.driveOnly && p.assumeYes);
    EXPECT_FALSE(p.applyProjectSettings);
    EXPECT_FALSE(p.rehearse);
    EXPECT_EQ(parse({"demo", "--project", "p1"}).params.project, "p1");
}

TEST(Options, unparsableNumbersFallBackQuietly) {
    EXPECT_EQ(parse({"demo", "--fps", "fast"}).params.fps, 30);
    EXPECT_EQ(parse({"demo", "--fps", ""}).params.fps, 30);
    EXPECT_EQ(parse({"demo", "--fps", " 24"}).params.fps, 30);
    EXPECT_EQ(parse({"demo", "--fps", "24.0"}).params.fps, 30);
    EXPECT_EQ(parse({"demo", "--fps"}).params.fps, 30);
    EXPECT_EQ(parse({"demo", "--fps", "-5"}).params.fps, -5);
    EXPECT_FALSE(parse({"demo", "--cps", "quick"}).charsPerSecond);
    // Infinity and not-a-number are no typing speed.
    EXPECT_FALSE(parse({"demo", "--cps", "inf"}).charsPerSecond);
    EXPECT_FALSE(parse({"demo", "--cps", "nan"}).charsPerSecond);
    // Nor is a speed that would not move: the agent's own speed is used instead.
    EXPECT_FALSE(parse({"demo", "--cps", "0"}).charsPerSecond);
    EXPECT_FALSE(parse({"demo", "--cps", "-12"}).charsPerSecond);
    EXPECT_EQ(parse({"demo", "--cps", "0.5"}).charsPerSecond, 0.5);
    EXPECT_FALSE(parse({"demo", "--pid", "2147483648"}).params.pid);
    EXPECT_FALSE(parse({"demo", "--pid", "12x"}).params.pid);
}

TEST(Options, eachRefusalSaysWhatToDo) {
    EXPECT_EQ(failure({"demo", "--quality", "ultra"}), "--quality must be one of: low, standard, high");
    EXPECT_EQ(failure({"demo", "--quality", ""}), "--quality must be one of: low, standard, high");
    EXPECT_EQ(failure({"demo", "--codec", "av1"}), "--codec must be one of: h264, hevc");
    EXPECT_EQ(failure({"demo", "--at", "8"}), "--at only means something with --into");
    EXPECT_EQ(failure({"demo", "--into", "vid"}), "--into needs --at: say where in that video the take belongs");
    EXPECT_EQ(failure({"demo", "--into", "vid", "--project", "p"}),
              "--into needs --at: say where in that video the take belongs");
    EXPECT_EQ(failure({"demo", "--into", "vid", "--at", "3", "--project", "p"}),
              "--project is for a take that makes a new video; one aimed --into a video is part of it");
    for (auto at : {"-1", " 8", "8 ", "eight", "inf", "nan", "", "1e400"})
        EXPECT_EQ(failure({"demo", "--into", "vid", "--at", at}),
                  "--at must be a number of seconds, like --at 8 or --at 8.5")
            << at;
    // The number is checked before whether it means anything.
    EXPECT_EQ(failure({"demo", "--at", "-2"}), "--at must be a number of seconds, like --at 8 or --at 8.5");
    EXPECT_EQ(parse({"demo", "--into", "vid", "--at", "0"}).params.atSeconds, 0.0);
    EXPECT_EQ(parse({"demo", "--into", "vid", "--at", "+2.25"}).params.atSeconds, 2.25);
}

TEST(Options, quantityChecksComeInOrder) {
    // A bad quality is reported before a bad codec or a misplaced --at.
    EXPECT_EQ(failure({"demo", "--at", "3", "--codec", "x", "--quality", "x"}),
              "--quality must be one of: low, standard, high");
    EXPECT_EQ(failure({"demo", "--at", "3", "--codec", "x"}), "--codec must be one of: h264, hevc");
}

TEST(Options, permissionMessageNamesTheLauncherTwice) {
    EXPECT_EQ(permissionMessage("Terminal"),
              "screen recording and accessibility are granted to the app that launches vanto, not to vanto itself, "
              "and Terminal does not have them. Run it from a terminal that does - or grant Terminal in System "
              "Settings > Privacy & Security and restart it.");
}

TEST(Options, numberReadersTakeTheWholeText) {
    EXPECT_EQ(parseInteger("+7"), 7);
    EXPECT_EQ(parseInteger("-0"), 0);
    EXPECT_FALSE(parseInteger("+-7"));
    EXPECT_FALSE(parseInteger("+"));
    EXPECT_FALSE(parseInteger("99999999999999999999"));
    EXPECT_EQ(parseDecimal("1e2"), 100.0);
    EXPECT_FALSE(parseDecimal("1.5s"));
}

} // namespace
} // namespace vanto
