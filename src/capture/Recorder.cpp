#include "capture/Recorder.h"

#include "capture/OneShot.h"
#include "capture/RecorderError.h"

#include <algorithm>
#include <cmath>
#include <system_error>

namespace vanto {

void RecordingDelegate::streamDidStopWithError(const CaptureFailure& failure) {
    std::lock_guard lock(lock_);
    stopped_ = true;
    if (!failure_) failure_ = failure;
}

void RecordingDelegate::recordingOutputDidFailWithError(const CaptureFailure& failure) {
    std::lock_guard lock(lock_);
    if (!failure_) failure_ = failure;
}

std::optional<CaptureFailure> RecordingDelegate::failure() {
    std::lock_guard lock(lock_);
    return failure_;
}

bool RecordingDelegate::stopped() {
    std::lock_guard lock(lock_);
    return stopped_;
}

namespace {

constexpr double contentDeadline = 10;
constexpr double startDeadline = 15;
constexpr double stopDeadline = 15;

// An encoder needs even sizes: an odd last pixel is dropped. Below two pixels there is
// no picture to encode at all, so two is the least.
int evenPixels(double pixels) {
    auto whole = static_cast<long long>(std::round(pixels));
    whole -= whole % 2;
    return static_cast<int>(std::clamp<long long>(whole, 2, 1 << 16));
}

double qualityFactor(RecordingQuality quality) {
    return quality == RecordingQuality::low ? 0.5 : 1.0;
}

CaptureResolution resolutionFor(RecordingQuality quality) {
    switch (quality) {
    case RecordingQuality::low:
        return CaptureResolution::nominal;
    case RecordingQuality::high:
        return CaptureResolution::best;
    case RecordingQuality::standard:
        break;
    }
    return CaptureResolution::automatic;
}

// The scale of the display a window is on: the one holding its centre, else the first.
double scaleFor(const ShareableWindow& window, const std::vector<ShareableDisplay>& displays) {
    const double cx = window.frame.x + window.frame.width / 2;
    const double cy = window.frame.y + window.frame.height / 2;
    for (const auto& display : displays) {
        const auto& f = display.frame;
        if (cx >= f.x && cx < f.x + f.width && cy >= f.y && cy < f.y + f.height) return display.pointPixelScale;
    }
    return displays.empty() ? 1.0 : displays.front().pointPixelScale;
}

// A file beside the output, hidden, named after it.
std::filesystem::path besideOutput(const std::filesystem::path& output, const char* suffix) {
    return output.parent_path() / ("." + output.filename().string() + suffix);
}

// A recording replaces a movie file and nothing else: a folder, a device or a link at
// the output is not ours to delete.
void checkOutput(const std::filesystem::path& output) {
    namespace fs = std::filesystem;
    std::error_code error;
    const auto type = fs::symlink_status(output, error).type();
    if (type != fs::file_type::not_found && type != fs::file_type::regular && type != fs::file_type::none)
        throw RecorderError::outputNotAFile(output.string(), type == fs::file_type::directory);
    const auto folder = output.has_parent_path() ? output.parent_path() : fs::path(".");
    if (fs::symlink_status(folder, error).type() == fs::file_type::not_found)
        throw RecorderError::outputFolderMissing(output.string(), folder.string());
    // Anything else that is wrong (no permission, a file for a folder) is told by the
    // system when the files are made.
}

std::uintmax_t fileSize(const std::filesystem::path& path) {
    std::error_code error;
    auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

} // namespace

Recorder::Recorder(ScreenCapture& capture, Clock& clock, MainThread& mainThread, RecordingIndicator& indicator,
                   StepHUD& hud)
    : capture_(capture), clock_(clock), mainThread_(mainThread), indicator_(indicator), hud_(hud) {}

Recorder::~Recorder() {
    // A recording still running when its owner goes away is finished, so that the
    // movie is complete rather than left as it was while being written.
    std::unique_ptr<FileClaim> claim; // outlives the stream, which completes the movie
    std::shared_ptr<CaptureStream> stream;
    std::shared_ptr<RecordingDelegate> delegate;
    {
        std::lock_guard lock(mutex_);
        claim = std::move(claim_);
        stream = std::move(stream_);
        delegate = std::move(delegate_);
    }
    if (!stream || (delegate && delegate->stopped())) return;
    try {
        withDeadline<bool>(clock_, stopDeadline, "stopCapture", [stream](std::stop_token stop) {
            stream->stopCapture(stop);
            return true;
        });
    } catch (const std::exception&) {
        // Nobody is left to tell; the file written so far stays playable.
    }
}

Recorder::FilterChoice Recorder::makeFilter(const Target& target) {
    auto content = withDeadline<ShareableContent>(
        clock_, contentDeadline, "SCShareableContent",
        [&capture = capture_](std::stop_token) { return capture.shareableContent(true, true); });
    FilterChoice choice;
    if (target.kind == Target::Kind::window) {
        if (!target.windowID) throw RecorderError::missingField("target.windowID");
        auto window = std::find_if(content.windows.begin(), content.windows.end(), [&](const ShareableWindow& w) {
            return w.windowID == *target.windowID && w.onScreen;
        });
        if (window == content.windows.end()) throw RecorderError::windowNotFound(*target.windowID);
        choice.filter.kind = ContentFilter::Kind::window;
        choice.filter.windowID = window->windowID;
        choice.filter.contentRect = {0, 0, window->frame.width, window->frame.height};
        choice.filter.pointPixelScale = scaleFor(*window, content.displays);
        choice.filter.frame = window->frame;
        return choice;
    }

    const ShareableDisplay* display = nullptr;
    for (const auto& candidate : content.displays)
        if (!target.displayID || candidate.displayID == *target.displayID) {
            display = &candidate;
            break;
        }
    if (!display) throw RecorderError::displayNotFound();

    std::vector<std::uint32_t> panels;
    mainThread_.run([&] { panels = hud_.windowIDs(); });
    choice.filter.kind = ContentFilter::Kind::display;
    choice.filter.displayID = display->displayID;
    // Every panel window is left out, listed or not: one that is shown only after the
    // recording started would otherwise appear in the take.
    choice.filter.excludedWindows = panels;
    choice.filter.contentRect = {0, 0, display->frame.width, display->frame.height};
    choice.filter.pointPixelScale = display->pointPixelScale;
    choice.filter.frame = display->frame;
    choice.onDesktop = display->frame;
    return choice;
}

StreamConfiguration Recorder::makeConfiguration(const ContentFilter& filter, const StartParams& params) {
    const double scale = filter.pointPixelScale;
    double baseWidth = std::round(scale * filter.contentRect.width);
    double baseHeight = std::round(scale * filter.contentRect.height);
    StreamConfiguration configuration;
    if (params.target.rect) {
        configuration.sourceRect = *params.target.rect;
        baseWidth = std::round(scale * params.target.rect->width);
        baseHeight = std::round(scale * params.target.rect->height);
    }
    const double factor = qualityFactor(params.quality);
    configuration.width = evenPixels(factor * baseWidth);
    configuration.height = evenPixels(factor * baseHeight);
    configuration.captureResolution = resolutionFor(params.quality);
    configuration.minimumFrameInterval = 1.0 / static_cast<double>(std::clamp<std::int64_t>(params.fps, 1, 240));
    configuration.showsCursor = params.showsCursor;
    configuration.capturesAudio = false;
    configuration.queueDepth = 6;
    return configuration;
}

void Recorder::start(const StartParams& params) {
    std::lock_guard lock(mutex_);
    if (stream_) throw RecorderError::alreadyRecording();

    auto choice = makeFilter(params.target);
    auto configuration = makeConfiguration(choice.filter, params);

    // One recording per movie file, among all processes: two writing one file would
    // leave it holding a cut of one of them.
    checkOutput(params.output);
    auto claim = capture_.claimFile(besideOutput(params.output, ".vanto-lock"));
    if (!claim) throw RecorderError::outputInUse(params.output.string());

    // The movie is begun under a name of its own and replaces what is at the output
    // only once it has really started: a start that fails leaves the old file as it was.
    const auto partial = besideOutput(params.output, ".vanto-partial");
    RecordingOutputConfiguration output;
    output.outputURL = partial;
    output.outputFileType = MovieFileType::quickTimeMovie;
    output.videoCodecType = params.codec == RecordingCodec::hevc ? VideoCodec::hevc : VideoCodec::h264;

    auto delegate = std::make_shared<RecordingDelegate>();
    std::shared_ptr<CaptureStream> stream;
    bool started = false;
    double now = 0;
    try {
        stream = capture_.makeStream(choice.filter, configuration, delegate);
        stream->addRecordingOutput(output, delegate);
        withDeadline<bool>(clock_, startDeadline, "startCapture", [stream](std::stop_token stop) {
            stream->startCapture(stop);
            return true;
        });
        started = true;
        // The movie starts now: showing the indicator may take a while on a busy
        // desktop, and the events and the duration must not lag behind the pictures.
        now = clock_.now();
        checkOutput(params.output); // something else may have been put there meanwhile
        stream->moveRecordingOutput(params.output);
    } catch (...) {
        if (started) {
            try {
                withDeadline<bool>(clock_, stopDeadline, "stopCapture", [stream](std::stop_token stop) {
                    stream->stopCapture(stop);
                    return true;
                });
            } catch (const std::exception&) {
                // The start's own failure is the one to tell.
            }
        }
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        throw;
    }
    output.outputURL = params.output;

    mainThread_.run([this] { indicator_.show(RecordingIndicator::Phase::recording); });

    stream_ = std::move(stream);
    claim_ = std::move(claim);
    recordingOutput_ = output;
    delegate_ = std::move(delegate);
    outputURL_ = params.output;
    startedAt_ = now;
    lastTake_.reset();

    log_.events.clear();
    log_.startedAt = now;
    log_.area.reset();
    if (choice.onDesktop) {
        log_.area = *choice.onDesktop;
        if (params.target.rect) {
            const auto& r = *params.target.rect;
            log_.area = Rect{choice.onDesktop->x + r.x, choice.onDesktop->y + r.y, r.width, r.height};
        }
    }
}

StopResult Recorder::stop() {
    std::lock_guard lock(mutex_);
    if (!stream_ || !outputURL_ || !startedAt_) throw RecorderError::notRecording();

    mainThread_.run([this] { indicator_.show(RecordingIndicator::Phase::saving); });

    const double duration = clock_.now() - *startedAt_;
    // Released once the movie is complete, whatever stop answers.
    auto claim = std::move(claim_);
    auto stream = std::move(stream_);
    auto delegate = std::move(delegate_);
    recordingOutput_.reset();
    const auto path = *outputURL_;
    outputURL_.reset();
    startedAt_.reset();
    log_.startedAt.reset();
    log_.area.reset();

    if (!delegate->stopped()) {
        withDeadline<bool>(clock_, stopDeadline, "stopCapture", [stream](std::stop_token stop) {
            stream->stopCapture(stop);
            return true;
        });
    }

    std::optional<std::string> warning;
    if (auto failure = delegate->failure()) {
        if (fileSize(path) < 1) throw CaptureError(*failure);
        warning = earlyStopWarning(*failure);
    } else if (fileSize(path) < 1) {
        // Nothing failed, yet there is no movie: answering with its path would report
        // a take that does not exist.
        throw CaptureError({"the recording left no movie at " + path.string(), "vanto.recorder", 1});
    }
    const auto statistics = stream->statistics();
    if (auto dropped = droppedFramesSentence(statistics)) warning = warning ? *warning + "; " + *dropped : *dropped;

    // The movie's own length where the stream knows it: it runs a frame or two past the
    // stop, and a take placed after this one must start where the movie really ends.
    const double length = statistics.movieMs ? static_cast<double>(*statistics.movieMs) / 1000 : duration;
    StopResult result{path.string(), length, static_cast<std::int64_t>(log_.events.size()), warning};
    lastTake_ = result;
    return result;
}

StatusResult Recorder::status() {
    std::lock_guard lock(mutex_);
    StatusResult result;
    result.events = static_cast<std::int64_t>(log_.events.size());
    if (stream_ && outputURL_ && startedAt_) {
        result.recording = true;
        result.path = outputURL_->string();
        result.elapsed = clock_.now() - *startedAt_;
    } else if (lastTake_) {
        result.path = lastTake_->path;
        result.elapsed = lastTake_->duration;
    }
    return result;
}

void Recorder::note(const std::string& action, const std::optional<std::string>& label, const std::string& text,
                    std::optional<Point> at) {
    std::lock_guard lock(mutex_);
    log_.note(clock_.now(), action, label, text, at);
}

std::pair<StopResult, std::vector<CaptureEvent>> Recorder::take() {
    std::lock_guard lock(mutex_);
    if (!lastTake_) throw RecorderError::nothingRecorded();
    return {*lastTake_, log_.events};
}

bool Recorder::logging() {
    std::lock_guard lock(mutex_);
    return log_.startedAt.has_value();
}

std::vector<CaptureEvent> Recorder::events() {
    std::lock_guard lock(mutex_);
    return log_.events;
}

std::string Recorder::earlyStopWarning(const CaptureFailure& failure) {
    return "the recording stopped early: " + failure.description + " [" + failure.domain + " " +
           std::to_string(failure.code) + "]";
}

std::optional<std::string> Recorder::droppedFramesSentence(const StreamStatistics& statistics) {
    if (statistics.framesDropped <= 0) return std::nullopt;
    const auto total = statistics.framesWritten + statistics.framesDropped;
    const bool one = statistics.framesDropped == 1;
    return std::to_string(statistics.framesDropped) + " of " + std::to_string(total) +
           (one ? " frames was" : " frames were") + " dropped because the screen could not be captured fast enough";
}

} // namespace vanto
