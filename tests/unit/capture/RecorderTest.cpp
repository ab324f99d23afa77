#include "capture/Recorder.h"
#include "capture/OneShot.h"
#include "capture/RecorderError.h"
#include "platform/RunLoop.h"
#include "platform/fake/FakeCapture.h"
#include "platform/fake/FakePlatform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace vanto {
namespace {

namespace fs = std::filesystem;

class RecorderTest : public testing::Test {
protected:
    RecorderTest() {
        clock.setAutoAdvance(false); // limits pass only when a test advances the clock
        folder = fs::temp_directory_path() /
                 ("vanto-recorder-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  std::to_string(reinterpret_cast<std::uintptr_t>(this)));
        fs::create_directories(folder);
        capture.addWindow(7, {100, 50, 641, 481});
    }
    ~RecorderTest() override { fs::remove_all(folder); }

    Recorder::StartParams windowParams(std::uint32_t id = 7) {
        Recorder::StartParams params;
        params.target.kind = Target::Kind::window;
        params.target.windowID = id;
        params.output = folder / "take.mov";
        return params;
    }

    Recorder::StartParams displayParams(std::optional<Rect> rect = std::nullopt) {
        Recorder::StartParams params;
        params.target.kind = Target::Kind::display;
        params.target.rect = rect;
        params.output = folder / "display.mov";
        return params;
    }

    template <class F> std::string errorOf(F&& f) {
        try {
            f();
        } catch (const std::exception& error) {
            return error.what();
        }
        return "(no error)";
    }

    // Once the n-th call that never answers has begun, lets the limit of the one
    // withDeadline then waiting pass. Waiting for the call first matters: an earlier
    // step of the same operation (the content lookup before startCapture) sleeps on
    // the clock with a limit of its own.
    std::jthread passLimit(double seconds, int hungCall) {
        return std::jthread([this, seconds, hungCall] {
            capture.gate().waitForEntries(hungCall);
            clock.waitForSleepers(1);
            clock.advance(seconds);
        });
    }

    fake::VirtualClock clock;
    RunLoop mainThread;
    fake::FakeScreenCapture capture;
    fake::FakeUi ui;
    RecordingIndicator indicator{ui};
    StepHUD hud{ui};
    Recorder recorder{capture, clock, mainThread, indicator, hud};
    fs::path folder;
};

TEST_F(RecorderTest, sizesFollowScaleQualityAndEvenness) {
    capture.content.displays = {{3, {0, 0, 1440, 900}, 2}};
    auto params = displayParams(Rect{10, 20, 101, 51});
    params.quality = RecordingQuality::low;
    recorder.start(params);
    auto stream = capture.lastStream();
    EXPECT_EQ(stream->configuration.width, 100);
    EXPECT_EQ(stream->configuration.height, 50);
    EXPECT_EQ(stream->configuration.sourceRect, (Rect{10, 20, 101, 51}));
    EXPECT_EQ(stream->configuration.captureResolution, CaptureResolution::nominal);
    recorder.stop();

    params.quality = RecordingQuality::standard;
    recorder.start(params);
    EXPECT_EQ(capture.lastStream()->configuration.width, 202);
    EXPECT_EQ(capture.lastStream()->configuration.height, 102);
    EXPECT_EQ(capture.lastStream()->configuration.captureResolution, CaptureResolution::automatic);
    recorder.stop();

    // A window of 641 × 481 points on a 1× display: the odd last pixel goes.
    capture.content.displays = {{3, {0, 0, 1440, 900}, 1}};
    auto window = windowParams();
    window.quality = RecordingQuality::high;
    recorder.start(window);
    EXPECT_EQ(capture.lastStream()->configuration.width, 640);
    EXPECT_EQ(capture.lastStream()->configuration.height, 480);
    EXPECT_FALSE(capture.lastStream()->configuration.sourceRect);
    EXPECT_EQ(capture.lastStream()->configuration.captureResolution, CaptureResolution::best);
    EXPECT_EQ(capture.lastStream()->filter.kind, ContentFilter::Kind::window);
    EXPECT_EQ(capture.lastStream()->filter.windowID, 7u);
    recorder.stop();

    // On a 2× display the window's points become twice the pixels.
    capture.content.displays = {{3, {0, 0, 1440, 900}, 2}};
    recorder.start(windowParams());
    EXPECT_EQ(capture.lastStream()->configuration.width, 1282);
    EXPECT_EQ(capture.lastStream()->configuration.height, 962);
}

TEST_F(RecorderTest, framesPerSecondAreKeptWithinOneTo240) {
    ContentFilter filter;
    filter.contentRect = {0, 0, 800, 600};
    auto params = windowParams();
    params.fps = 0;
    EXPECT_DOUBLE_EQ(Recorder::makeConfiguration(filter, params).minimumFrameInterval, 1.0);
    params.fps = 1000;
    EXPECT_DOUBLE_EQ(Recorder::makeConfiguration(filter, params).minimumFrameInterval, 1.0 / 240);
    params.fps = 30;
    params.showsCursor = false;
    auto configuration = Recorder::makeConfiguration(filter, params);
    EXPECT_DOUBLE_EQ(configuration.minimumFrameInterval, 1.0 / 30);
    EXPECT_FALSE(configuration.showsCursor);
    EXPECT_FALSE(configuration.capturesAudio);
    EXPECT_EQ(configuration.queueDepth, 6);
    // A rectangle too small to encode still gets a picture of two pixels.
    filter.contentRect = {0, 0, 1, 1};
    EXPECT_EQ(Recorder::makeConfiguration(filter, params).width, 2);
}

TEST_F(RecorderTest, aSecondStartFailsAndLeavesTheFirstRecording) {
    recorder.start(windowParams());
    auto first = capture.lastStream();
    auto second = windowParams();
    second.output = folder / "other.mov";
    EXPECT_EQ(errorOf([&] { recorder.start(second); }), "a recording is already in progress");
    EXPECT_EQ(capture.streamsMade(), 1);
    EXPECT_FALSE(first->stopped);
    auto status = recorder.status();
    EXPECT_TRUE(status.recording);
    EXPECT_EQ(status.path, (folder / "take.mov").string());
    EXPECT_EQ(recorder.stop().path, (folder / "take.mov").string());
    EXPECT_TRUE(first->stopped);
}

TEST_F(RecorderTest, targetsThatCannotBeRecordedLeaveTheRecorderIdle) {
    auto noNumber = windowParams();
    noNumber.target.windowID.reset();
    EXPECT_EQ(errorOf([&] { recorder.start(noNumber); }), "missing required field: target.windowID");
    EXPECT_EQ(errorOf([&] { recorder.start(windowParams(99)); }), "window 99 not found; call list-windows again");
    auto display = displayParams();
    display.target.displayID = 42;
    EXPECT_EQ(errorOf([&] { recorder.start(display); }), "display not found");
    capture.outputFailure = CaptureFailure{"the disk is full", "Output", 28};
    EXPECT_EQ(errorOf([&] { recorder.start(windowParams()); }), "the disk is full");
    EXPECT_FALSE(recorder.status().recording);
    EXPECT_FALSE(recorder.logging());
    EXPECT_EQ(errorOf([&] { recorder.stop(); }), "no recording in progress");
    EXPECT_FALSE(ui.indicator);
}

TEST_F(RecorderTest, notesNeedALabelAndARunningRecording) {
    recorder.note("click", "Save", "", Point{1, 1});
    recorder.start(displayParams());
    recorder.note("click", std::nullopt, "", Point{1, 1});
    recorder.note("click", "", "", Point{1, 1});
    clock.advance(1.5);
    recorder.note("type", "Name field", "Ada", std::nullopt);
    auto events = recorder.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0], (CaptureEvent{1.5, "type", "Name field", "Ada", std::nullopt, std::nullopt}));
    clock.advance(1);
    auto result = recorder.stop();
    EXPECT_EQ(result.events, 1);
    EXPECT_DOUBLE_EQ(result.duration, 2.5);
    recorder.note("click", "After", "", std::nullopt);
    EXPECT_EQ(recorder.events().size(), 1u); // the last take's events stay until the next start
    recorder.start(windowParams());
    EXPECT_TRUE(recorder.events().empty());
}

TEST_F(RecorderTest, clicksArePlacedRelativeToTheRecordedArea) {
    capture.content.displays = {{1, {0, 0, 1440, 900}, 1}, {2, {1440, 0, 1280, 800}, 1}};
    auto params = displayParams(Rect{100, 50, 400, 300});
    params.target.displayID = 2;
    recorder.start(params);
    recorder.note("click", "Inside", "", Point{1540, 60});
    recorder.note("click", "Right edge", "", Point{1940, 60}); // x − minX = 400: outside
    recorder.note("click", "Left of it", "", Point{1539, 60});
    auto events = recorder.events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].at, (Point{0, 10}));
    EXPECT_EQ(events[0].area, (Size{400, 300}));
    EXPECT_FALSE(events[1].at);
    EXPECT_FALSE(events[1].area);
    EXPECT_FALSE(events[2].at);
    recorder.stop();

    // A window recording has no area, so its clicks carry no position.
    recorder.start(windowParams());
    recorder.note("click", "Save", "", Point{120, 60});
    ASSERT_EQ(recorder.events().size(), 1u);
    EXPECT_FALSE(recorder.events()[0].at);
}

TEST_F(RecorderTest, aStreamThatDiedAfterFramesGivesThePathAndAWarning) {
    recorder.start(windowParams());
    auto stream = capture.lastStream();
    stream->writeFrames(10);
    stream->die({"the window being recorded was closed", "X11Capture", 1});
    stream->failOutput({"later failure", "Output", 9});
    clock.advance(4);
    auto result = recorder.stop();
    EXPECT_EQ(result.path, (folder / "take.mov").string());
    EXPECT_DOUBLE_EQ(result.duration, 4);
    EXPECT_EQ(result.warning, "the recording stopped early: the window being recorded was closed [X11Capture 1]");
    EXPECT_EQ(stream->stopCalls, 0); // it had stopped by itself

    auto status = recorder.status();
    EXPECT_FALSE(status.recording);
    EXPECT_EQ(status.path, result.path);
    EXPECT_EQ(status.elapsed, 4.0);
    auto [take, events] = recorder.take();
    EXPECT_EQ(take.path, result.path);
    EXPECT_EQ(take.warning, result.warning);
}

TEST_F(RecorderTest, aStreamThatDiedBeforeWritingAnythingThrowsItsError) {
    capture.framesOnStart = 0;
    recorder.start(windowParams());
    capture.lastStream()->die({"the capture was refused", "X11Capture", 2});
    EXPECT_EQ(errorOf([&] { recorder.stop(); }), "the capture was refused");
    EXPECT_FALSE(recorder.status().recording);
    EXPECT_FALSE(recorder.status().path);
    EXPECT_EQ(errorOf([&] { recorder.take(); }), "no recording to upload; record one first or pass an explicit path");
}

TEST_F(RecorderTest, anOutputFailureIsKeptAndTheStreamIsStillStopped) {
    recorder.start(windowParams());
    auto stream = capture.lastStream();
    stream->failOutput({"could not write a frame", "FFmpeg", -5});
    auto result = recorder.stop();
    EXPECT_EQ(stream->stopCalls, 1); // it did not stop by itself, so stop asked it to
    EXPECT_EQ(result.warning, "the recording stopped early: could not write a frame [FFmpeg -5]");
}

TEST_F(RecorderTest, aMissingMovieIsNotReportedAsATake) {
    recorder.start(windowParams());
    fs::remove(folder / "take.mov");
    EXPECT_EQ(errorOf([&] { recorder.stop(); }), "the recording left no movie at " + (folder / "take.mov").string());
    EXPECT_FALSE(recorder.status().recording);
}

TEST_F(RecorderTest, droppedFramesJoinTheWarning) {
    recorder.start(windowParams());
    capture.lastStream()->writeFrames(146);
    capture.lastStream()->dropFrames(3);
    EXPECT_EQ(recorder.stop().warning,
              "3 of 150 frames were dropped because the screen could not be captured fast enough");

    recorder.start(windowParams());
    capture.lastStream()->writeFrames(8);
    capture.lastStream()->dropFrames(1);
    capture.lastStream()->die({"the window being recorded was closed", "X11Capture", 1});
    EXPECT_EQ(recorder.stop().warning,
              "the recording stopped early: the window being recorded was closed [X11Capture 1]; 1 of 10 frames was "
              "dropped because the screen could not be captured fast enough");

    recorder.start(windowParams());
    EXPECT_FALSE(recorder.stop().warning);
}

TEST_F(RecorderTest, aSilentServiceIsCutOffWithTheLabelledDeadline) {
    capture.hangContent = true;
    {
        const int before = capture.contentQueries();
        auto advancer = passLimit(10, 1);
        EXPECT_EQ(errorOf([&] { recorder.start(windowParams()); }), "SCShareableContent did not answer within 10s");
        // The abandoned call runs on; it must have reached the fake before the flag
        // changes (on a busy machine its thread starts late).
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (capture.contentQueries() == before && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    capture.hangContent = false;

    capture.hangStart = true;
    {
        auto advancer = passLimit(15, 2);
        EXPECT_EQ(errorOf([&] { recorder.start(windowParams()); }), "startCapture did not answer within 15s");
    }
    EXPECT_FALSE(recorder.status().recording);
    EXPECT_FALSE(ui.indicator);
    capture.hangStart = false;

    recorder.start(windowParams());
    recorder.note("click", "Save", "", std::nullopt);
    capture.hangStop = true;
    {
        auto advancer = passLimit(15, 3);
        EXPECT_EQ(errorOf([&] { recorder.stop(); }), "stopCapture did not answer within 15s");
    }
    auto status = recorder.status();
    EXPECT_FALSE(status.recording);
    EXPECT_FALSE(status.path);
    EXPECT_EQ(status.events, 1);
    EXPECT_THROW(recorder.take(), RecorderError);
    capture.hangStop = false;
}

TEST_F(RecorderTest, theTakeIsTimedFromItsFirstPictureNotFromWhenTheIndicatorShowed) {
    int shown = 0;
    ui.onShowIndicator = [&] {
        if (++shown == 1) clock.advance(0.7); // a busy desktop draws the indicator late
    };
    recorder.start(windowParams());
    recorder.note("click", "Save", "", std::nullopt);
    clock.advance(1);
    auto result = recorder.stop();
    EXPECT_NEAR(result.duration, 1.7, 1e-9);
    EXPECT_NEAR(recorder.events().at(0).t, 0.7, 1e-9);
}

TEST_F(RecorderTest, startReplacesAnOldFileAndUsesTheCodecAsked) {
    {
        std::ofstream old(folder / "take.mov");
        old << "an older take that is much longer than one frame of the fake, surely";
    }
    auto params = windowParams();
    params.codec = RecordingCodec::hevc;
    recorder.start(params);
    EXPECT_EQ(fs::file_size(folder / "take.mov"), std::string("frame 0\n").size());
    ASSERT_TRUE(capture.lastStream()->output);
    EXPECT_EQ(capture.lastStream()->output->videoCodecType, VideoCodec::hevc);
    EXPECT_EQ(capture.lastStream()->output->outputFileType, MovieFileType::quickTimeMovie);
    EXPECT_EQ(capture.lastStream()->output->outputURL, folder / "take.mov");
}

TEST_F(RecorderTest, aMovieBeingRecordedIsRefusedToEveryOtherRecording) {
    const auto take = folder / "take.mov";
    recorder.start(windowParams());
    capture.lastStream()->writeFrames(2);

    // Another recorder of this process, and one of another process (its own capture
    // service on the same files).
    fake::FakeScreenCapture otherCapture;
    otherCapture.addWindow(7, {100, 50, 641, 481});
    Recorder sameProcess{capture, clock, mainThread, indicator, hud};
    Recorder otherProcess{otherCapture, clock, mainThread, indicator, hud};
    EXPECT_EQ(errorOf([&] { sameProcess.start(windowParams()); }),
              "another recording is already writing to " + take.string());
    EXPECT_EQ(errorOf([&] { otherProcess.start(windowParams()); }),
              "another recording is already writing to " + take.string());
    EXPECT_EQ(otherCapture.streamsMade(), 0);
    EXPECT_EQ(fs::file_size(take), std::string("frame 0\nframe 1\nframe 2\n").size());

    // Another file is free, and so is this one once its recording stopped.
    auto elsewhere = windowParams();
    elsewhere.output = folder / "other.mov";
    sameProcess.start(elsewhere);
    EXPECT_EQ(recorder.stop().path, take.string());
    otherProcess.start(windowParams());
    EXPECT_EQ(otherProcess.stop().path, take.string());
    sameProcess.stop();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 2) << "files were left behind";
}

TEST_F(RecorderTest, onlyAMovieFileIsReplacedAndOnlyOnceTheRecordingRuns) {
    const auto take = folder / "take.mov";
    fs::create_directory(take);
    EXPECT_EQ(errorOf([&] { recorder.start(windowParams()); }),
              "cannot record to " + take.string() + ": it is a folder; name a movie file in it");
    EXPECT_TRUE(fs::is_directory(take));
    fs::remove(take);
    fs::create_symlink(folder / "elsewhere.mov", take);
    EXPECT_EQ(errorOf([&] { recorder.start(windowParams()); }),
              "cannot record to " + take.string() + ": it is not a regular file, and a recording replaces only a file");
    EXPECT_TRUE(fs::is_symlink(take));
    fs::remove(take);
    auto lost = windowParams();
    lost.output = folder / "missing" / "take.mov";
    EXPECT_EQ(errorOf([&] { recorder.start(lost); }), "cannot record to " + lost.output.string() + ": the folder " +
                                                          (folder / "missing").string() + " does not exist");
    EXPECT_EQ(capture.streamsMade(), 0);

    // A start that fails leaves the old take whole, and nothing beside it.
    const std::string old = "an older take";
    std::ofstream(take) << old;
    capture.startFailure = CaptureFailure{"cannot open the encoder", "X11Capture", 4};
    EXPECT_EQ(errorOf([&] { recorder.start(windowParams()); }), "cannot open the encoder");
    EXPECT_EQ(fs::file_size(take), old.size());
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);

    // The old take is replaced once the new recording runs.
    capture.startFailure.reset();
    recorder.start(windowParams());
    EXPECT_EQ(fs::file_size(take), std::string("frame 0\n").size());
    EXPECT_EQ(recorder.status().path, take.string());
    recorder.stop();
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(RecorderTest, theIndicatorFollowsAndDisplayRecordingsLeaveThePanelsOut) {
    capture.addWindow(500, {1076, 798, 340, 78}, "vanto");
    ui.windowIDs = {500, 501}; // 501 is not on screen yet, and must stay out once it is
    recorder.start(displayParams());
    EXPECT_EQ(capture.lastStream()->filter.kind, ContentFilter::Kind::display);
    EXPECT_EQ(capture.lastStream()->filter.excludedWindows, (std::vector<std::uint32_t>{500, 501}));
    ASSERT_TRUE(ui.indicator);
    EXPECT_EQ(ui.indicator->title, "● REC");
    recorder.stop();
    EXPECT_EQ(ui.indicator->title, "◼ Saving");
    EXPECT_EQ(ui.indicatorTitles, (std::vector<std::string>{"● REC", "◼ Saving"}));

    recorder.start(windowParams());
    EXPECT_TRUE(capture.lastStream()->filter.excludedWindows.empty());
}

TEST_F(RecorderTest, statusWhileRecordingCountsFromTheStart) {
    auto idle = recorder.status();
    EXPECT_FALSE(idle.recording);
    EXPECT_FALSE(idle.path);
    EXPECT_FALSE(idle.elapsed);
    recorder.start(windowParams());
    clock.advance(2.25);
    recorder.note("key", "Save shortcut", "cmd+s", std::nullopt);
    auto running = recorder.status();
    EXPECT_TRUE(running.recording);
    EXPECT_EQ(running.elapsed, 2.25);
    EXPECT_EQ(running.events, 1);
    EXPECT_TRUE(recorder.logging());
    recorder.stop();
    EXPECT_FALSE(recorder.logging());
}

} // namespace
} // namespace vanto
