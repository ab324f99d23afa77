#include "platform/linux/X11Capture.h"

#include "base/Error.h"
#include "platform/linux/FFmpegMovieWriter.h"
#include "platform/linux/X11Grabber.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

namespace vanto {
namespace {

// Pictures waiting for the encoder; a full queue means the encoder fell behind and the
// newest frame is dropped.
class FrameQueue {
public:
    explicit FrameQueue(std::size_t depth) : depth_(std::max<std::size_t>(depth, 1)) {}

    // Takes the picture's pixels without copying them and leaves a spare buffer of
    // an earlier picture in their place.
    bool tryPush(CapturedImage& picture, std::int64_t pts) {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= depth_) return false;
        CapturedImage taken;
        if (!spare_.empty()) {
            taken = std::move(spare_.back());
            spare_.pop_back();
        }
        std::swap(taken, picture);
        queue_.push_back({std::move(taken), pts});
        ready_.notify_one();
        return true;
    }

    // The next picture, or none once closed and empty.
    bool pop(CapturedImage& picture, std::int64_t& pts) {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [this] { return closed_ || !queue_.empty(); });
        if (queue_.empty()) return false;
        if (!picture.bgra.empty()) spare_.push_back(std::move(picture));
        picture = std::move(queue_.front().first);
        pts = queue_.front().second;
        queue_.pop_front();
        return true;
    }

    void close() {
        std::lock_guard lock(mutex_);
        closed_ = true;
        ready_.notify_all();
    }

private:
    std::size_t depth_;
    std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<std::pair<CapturedImage, std::int64_t>> queue_;
    std::vector<CapturedImage> spare_;
    bool closed_ = false;
};

class X11Stream final : public CaptureStream {
public:
    X11Stream(Clock& clock, ContentFilter filter, StreamConfiguration configuration,
              std::shared_ptr<StreamDelegate> delegate)
        : clock_(clock), filter_(std::move(filter)), configuration_(configuration), delegate_(std::move(delegate)),
          queue_(static_cast<std::size_t>(configuration.queueDepth)) {}

    ~X11Stream() override { halt(); }

    void addRecordingOutput(const RecordingOutputConfiguration& configuration,
                            std::shared_ptr<StreamDelegate> delegate) override {
        output_ = configuration;
        outputDelegate_ = std::move(delegate);
    }

    void startCapture(std::stop_token stop) override {
        if (!output_) throw CaptureError(capturefailure::encoderFailed("no recording output was added"));
        grabber_ = std::make_unique<X11Grabber>(filter_, configuration_.sourceRect, configuration_.showsCursor);
        // A window just redirected paints its off-screen contents first.
        if (grabber_->freshlyRedirected() && !clock_.sleep(0.1, stop)) throw Cancelled();
        first_ = grabber_->grab();
        const int fps = std::max(1, static_cast<int>(std::lround(1.0 / configuration_.minimumFrameInterval)));
        interval_ = 1.0 / fps;
        writer_ = std::make_unique<FFmpegMovieWriter>(output_->outputURL, output_->videoCodecType, configuration_.width,
                                                      configuration_.height, fps);
        if (stop.stop_requested()) throw Cancelled();
        encoder_ = std::thread([this] { encode(); });
        capture_ = std::jthread([this](std::stop_token token) { captureLoop(token); });
    }

    void stopCapture(std::stop_token) override { halt(); }

    void moveRecordingOutput(const std::filesystem::path& to) override {
        if (!writer_) throw CaptureError(capturefailure::encoderFailed("the recording has not started"));
        writer_->moveTo(to);
    }

    StreamStatistics statistics() override {
        // The movie's length is known once the writer has finished it, after halt().
        return {written_.load(), dropped_.load(), writer_ ? writer_->lengthMs() : std::nullopt};
    }

private:
    // Ends capturing and waits until the movie is complete. Idempotent.
    void halt() {
        std::lock_guard lock(haltMutex_);
        if (capture_.joinable()) {
            capture_.request_stop();
            capture_.join();
        }
        if (encoder_.joinable()) { // started, but the capture loop never ran
            queue_.close();
            encoder_.join();
        }
    }

    void captureLoop(std::stop_token stop) {
        std::optional<CaptureFailure> failure;
        const double start = clock_.now();
        std::int64_t slot = 0;
        try {
            CapturedImage* picture = &first_;
            while (!stop.stop_requested() && !encoderFailure()) {
                if (slot > 0) {
                    const double due = start + static_cast<double>(slot) * interval_;
                    if (!clock_.sleep(due - clock_.now(), stop)) break;
                    // Slots that passed while we were late are lost; the movie holds the
                    // picture before them.
                    const double late = clock_.now() - due;
                    if (late >= interval_) {
                        const auto missed = static_cast<std::int64_t>(std::floor(late / interval_));
                        dropped_ += missed;
                        slot += missed;
                    }
                    picture = &grabber_->grab();
                    // Nothing new to read (minimised, or resized between requests): the
                    // movie holds the last picture, as it does over a late slot. The
                    // pixels at hand may be an earlier picture's, handed back as a spare.
                    if (grabber_->repeated()) {
                        ++slot;
                        continue;
                    }
                }
                // A repeat right after the pixels were handed on has none of its own.
                if (picture->width <= 0 || picture->bgra.empty())
                    ++dropped_;
                else if (queue_.tryPush(*picture, slot))
                    ++written_;
                else
                    ++dropped_;
                ++slot;
            }
        } catch (const CaptureError& error) {
            failure = error.failure();
        } catch (const std::exception& error) {
            failure = capturefailure::grabFailed(error.what());
        }
        queue_.close();
        if (encoder_.joinable()) encoder_.join();
        if (!failure) failure = encoderFailure();
        // Reported only now that the movie on disk is complete.
        if (failure && !stop.stop_requested() && delegate_) delegate_->streamDidStopWithError(*failure);
    }

    void encode() {
        CapturedImage picture;
        std::int64_t pts = 0;
        while (queue_.pop(picture, pts)) {
            if (encoderFailure()) continue; // drain so the capture side never blocks
            try {
                writer_->write(picture, pts);
            } catch (const CaptureError& error) {
                failEncoder(error.failure());
            }
        }
        // The writer stays until the stream goes, for a move of its movie; after a
        // failure the movie is still finished as far as it goes.
        try {
            writer_->finish();
        } catch (const CaptureError& error) {
            if (!encoderFailure()) failEncoder(error.failure());
        }
    }

    void failEncoder(const CaptureFailure& failure) {
        {
            std::lock_guard lock(failureMutex_);
            if (!encoderFailure_) encoderFailure_ = failure;
        }
        if (outputDelegate_) outputDelegate_->recordingOutputDidFailWithError(failure);
    }

    std::optional<CaptureFailure> encoderFailure() {
        std::lock_guard lock(failureMutex_);
        return encoderFailure_;
    }

    Clock& clock_;
    ContentFilter filter_;
    StreamConfiguration configuration_;
    std::shared_ptr<StreamDelegate> delegate_;
    std::shared_ptr<StreamDelegate> outputDelegate_;
    std::optional<RecordingOutputConfiguration> output_;
    std::unique_ptr<X11Grabber> grabber_;
    std::unique_ptr<FFmpegMovieWriter> writer_;
    CapturedImage first_;
    double interval_ = 1.0 / 30;
    FrameQueue queue_;
    std::atomic<std::int64_t> written_{0};
    std::atomic<std::int64_t> dropped_{0};
    std::mutex failureMutex_;
    std::optional<CaptureFailure> encoderFailure_;
    std::mutex haltMutex_;
    std::thread encoder_;
    std::jthread capture_;
};

RectD boundsOf(const nlohmann::json& record) {
    const auto& b = record.at(windowkey::bounds);
    return {b.value("x", 0.0), b.value("y", 0.0), b.value("width", 0.0), b.value("height", 0.0)};
}

// The part of a picture inside a rectangle (points = pixels here), clamped to it.
CapturedImage cropped(const CapturedImage& whole, std::optional<RectD> crop) {
    if (!crop) return whole;
    const int x = std::clamp(static_cast<int>(std::lround(crop->x)), 0, whole.width);
    const int y = std::clamp(static_cast<int>(std::lround(crop->y)), 0, whole.height);
    const int w = std::clamp(static_cast<int>(std::lround(crop->width)), 0, whole.width - x);
    const int h = std::clamp(static_cast<int>(std::lround(crop->height)), 0, whole.height - y);
    CapturedImage part{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4)};
    for (int row = 0; row < h; ++row)
        std::copy_n(whole.bgra.begin() + (static_cast<std::ptrdiff_t>(y + row) * whole.width + x) * 4,
                    static_cast<std::ptrdiff_t>(w) * 4, part.bgra.begin() + static_cast<std::ptrdiff_t>(row) * w * 4);
    return part;
}

} // namespace

X11Capture::X11Capture(WindowServer& windows, Clock& clock) : windows_(windows), clock_(clock) {}

X11Capture::~X11Capture() = default;

ShareableContent X11Capture::shareableContent(bool, bool) {
    ShareableContent content;
    try {
        for (const auto& screen : windows_.screens())
            content.displays.push_back({screen.displayID, screen.frame, screen.scale});
        for (const auto& record : windows_.onScreenWindows()) {
            if (!record.contains(windowkey::number) || !record.contains(windowkey::bounds)) continue;
            ShareableWindow window;
            window.windowID = record.at(windowkey::number).get<std::uint32_t>();
            window.frame = boundsOf(record);
            if (auto owner = record.find(windowkey::ownerName); owner != record.end() && owner->is_string())
                window.ownerName = owner->get<std::string>();
            if (auto pid = record.find(windowkey::ownerPID); pid != record.end() && pid->is_number_integer())
                window.ownerPID = pid->get<std::int32_t>();
            if (auto title = record.find(windowkey::name); title != record.end() && title->is_string())
                window.title = title->get<std::string>();
            content.windows.push_back(std::move(window));
        }
    } catch (const nlohmann::json::exception& error) {
        throw CaptureError(capturefailure::grabFailed(error.what()));
    } catch (const std::runtime_error& error) {
        throw CaptureError({error.what(), capturefailure::domain, 2});
    }
    return content;
}

std::shared_ptr<CaptureStream> X11Capture::makeStream(const ContentFilter& filter,
                                                      const StreamConfiguration& configuration,
                                                      std::shared_ptr<StreamDelegate> delegate) {
    return std::make_shared<X11Stream>(clock_, filter, configuration, std::move(delegate));
}

CapturedImage X11Capture::captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) {
    std::lock_guard lock(mutex_);
    if (filter.kind != ContentFilter::Kind::window) {
        X11Grabber grabber(filter, configuration.sourceRect, configuration.showsCursor);
        return scaledPicture(grabber.grab(), configuration.width, configuration.height);
    }
    auto& kept = pictureGrabbers_[filter.windowID];
    kept.lastUse = ++uses_;
    auto& grabber = kept.grabber;
    try {
        if (!grabber) {
            grabber = std::make_unique<X11Grabber>(filter, std::nullopt, false);
            clock_.sleep(0.1);
            if (pictureGrabbers_.size() > keptGrabbers)
                pictureGrabbers_.erase(std::min_element(pictureGrabbers_.begin(), pictureGrabbers_.end(),
                                                        [](const auto& a, const auto& b) {
                                                            return a.second.lastUse < b.second.lastUse;
                                                        }));
        }
        const CapturedImage& whole = grabber->grab();
        return scaledPicture(cropped(whole, configuration.sourceRect), configuration.width, configuration.height);
    } catch (const CaptureError&) {
        pictureGrabbers_.erase(filter.windowID);
        throw;
    }
}

std::size_t X11Capture::keptPictureGrabbers() {
    std::lock_guard lock(mutex_);
    return pictureGrabbers_.size();
}

namespace {

// An advisory lock (flock) on a lock file; the file is removed while still locked, so
// that nobody can lock the name in between.
class LockFileClaim final : public FileClaim {
public:
    LockFileClaim(int fd, std::filesystem::path file) : fd_(fd), file_(std::move(file)) {}
    ~LockFileClaim() override {
        ::unlink(file_.c_str());
        ::close(fd_);
    }
    LockFileClaim(const LockFileClaim&) = delete;
    LockFileClaim& operator=(const LockFileClaim&) = delete;

private:
    int fd_;
    std::filesystem::path file_;
};

bool sameFile(int fd, const std::filesystem::path& file) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 && ::stat(file.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

} // namespace

std::unique_ptr<FileClaim> X11Capture::claimFile(const std::filesystem::path& lockFile) {
    auto failed = [&](int code) {
        return CaptureError(capturefailure::encoderFailed("cannot write in " + lockFile.parent_path().string() + " (" +
                                                          std::strerror(code) + ")"));
    };
    // A claim that ends between our open and our lock has removed the file we then
    // lock; the name is tried again.
    for (int attempt = 0; attempt < 100; ++attempt) {
        const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) throw failed(errno);
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int code = errno;
            ::close(fd);
            if (code == EWOULDBLOCK) return nullptr;
            throw failed(code);
        }
        if (sameFile(fd, lockFile)) return std::make_unique<LockFileClaim>(fd, lockFile);
        ::close(fd);
    }
    return nullptr;
}

std::optional<std::vector<std::uint8_t>> X11Capture::encodePNG(const CapturedImage& image) {
    return pngBytes(image);
}

} // namespace vanto
