#pragma once

#include "capture/EventLog.h"
#include "capture/RecorderTypes.h"
#include "capture/RecordingFormat.h"
#include "capture/RecordingIndicator.h"
#include "capture/StepHUD.h"
#include "platform/Capture.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vanto {

// Hears from the capture service's threads; only the first failure is kept.
class RecordingDelegate final : public StreamDelegate {
public:
    void streamDidStopWithError(const CaptureFailure& failure) override;
    void recordingOutputDidFailWithError(const CaptureFailure& failure) override;

    std::optional<CaptureFailure> failure();
    bool stopped();

private:
    std::mutex lock_;
    std::optional<CaptureFailure> failure_;
    bool stopped_ = false;
};

// Records one window, a display or a rectangle of it into a QuickTime movie and keeps
// the log of what was done on screen meanwhile. One recording at a time; every public
// operation is serialised.
class Recorder {
public:
    struct StartParams {
        Target target;
        std::int64_t fps = 30;
        std::filesystem::path output;
        bool showsCursor = true;
        RecordingQuality quality = RecordingQuality::standard;
        RecordingCodec codec = RecordingCodec::h264;
    };

    struct FilterChoice {
        ContentFilter filter;
        std::optional<Rect> onDesktop; // the display's frame for a display target
    };

    Recorder(ScreenCapture& capture, Clock& clock, MainThread& mainThread, RecordingIndicator& indicator, StepHUD& hud);
    ~Recorder();
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    void start(const StartParams& params);
    StopResult stop();
    StatusResult status();
    void note(const std::string& action, const std::optional<std::string>& label, const std::string& text,
              std::optional<Point> at);
    std::pair<StopResult, std::vector<CaptureEvent>> take();

    // Whether the log has a start time: a recording is running.
    bool logging();
    std::vector<CaptureEvent> events();

    static StreamConfiguration makeConfiguration(const ContentFilter& filter, const StartParams& params);
    static std::string earlyStopWarning(const CaptureFailure& failure);
    // A sentence about lost frames, none when every frame was kept.
    static std::optional<std::string> droppedFramesSentence(const StreamStatistics& statistics);

private:
    FilterChoice makeFilter(const Target& target);

    ScreenCapture& capture_;
    Clock& clock_;
    MainThread& mainThread_;
    RecordingIndicator& indicator_;
    StepHUD& hud_;

    std::mutex mutex_;
    std::shared_ptr<CaptureStream> stream_;
    std::unique_ptr<FileClaim> claim_; // the output's lock, held while recording
    std::optional<RecordingOutputConfiguration> recordingOutput_;
    std::shared_ptr<RecordingDelegate> delegate_;
    std::optional<std::filesystem::path> outputURL_;
    std::optional<double> startedAt_;
    EventLog log_;
    std::optional<StopResult> lastTake_;
};

} // namespace vanto
