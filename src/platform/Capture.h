#pragma once

#include "platform/Geometry.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace vanto {

// What the capture service can record: on-screen windows and the displays.
struct ShareableWindow {
    std::uint32_t windowID = 0;
    RectD frame; // global points
    std::string ownerName;
    std::int32_t ownerPID = 0;
    std::string title;
    bool onScreen = true;
};

struct ShareableDisplay {
    std::uint32_t displayID = 0;
    RectD frame;                // global points
    double pointPixelScale = 1; // pixels per point
};

struct ShareableContent {
    std::vector<ShareableWindow> windows; // front to back
    std::vector<ShareableDisplay> displays;
};

// One window on its own (covering windows never show), or a whole display without
// some windows.
struct ContentFilter {
    enum class Kind { window, display };
    Kind kind = Kind::window;
    std::uint32_t windowID = 0;
    std::uint32_t displayID = 0;
    std::vector<std::uint32_t> excludedWindows;
    // The captured content in points: origin (0, 0) and the window's or display's size.
    RectD contentRect;
    double pointPixelScale = 1;
    // Where the content is on the desktop, in global points.
    RectD frame;
};

enum class CaptureResolution { automatic, best, nominal };

struct StreamConfiguration {
    std::optional<RectD> sourceRect; // points, relative to the content's top-left
    int width = 0;                   // output pixels
    int height = 0;
    CaptureResolution captureResolution = CaptureResolution::automatic;
    double minimumFrameInterval = 1.0 / 60; // seconds
    bool showsCursor = true;
    bool capturesAudio = false;
    int queueDepth = 6;
};

enum class VideoCodec { h264, hevc };
enum class MovieFileType { quickTimeMovie };

struct RecordingOutputConfiguration {
    std::filesystem::path outputURL;
    MovieFileType outputFileType = MovieFileType::quickTimeMovie;
    VideoCodec videoCodecType = VideoCodec::h264;
};

// An error the capture service reports, with the domain and code people quote.
struct CaptureFailure {
    std::string description;
    std::string domain;
    std::int64_t code = 0;
};

// Throwing form of a capture failure, for calls that fail synchronously.
class CaptureError : public std::exception {
public:
    explicit CaptureError(CaptureFailure failure) : failure_(std::move(failure)) {}
    const char* what() const noexcept override { return failure_.description.c_str(); }
    const CaptureFailure& failure() const noexcept { return failure_; }

private:
    CaptureFailure failure_;
};

// Called back on the capture service's own threads.
class StreamDelegate {
public:
    virtual ~StreamDelegate() = default;
    // The stream stopped by itself (the window went away, the capture failed). Called
    // once the movie on disk is complete.
    virtual void streamDidStopWithError(const CaptureFailure& failure) = 0;
    virtual void recordingOutputDidFailWithError(const CaptureFailure& failure) = 0;
};

// How many frame slots of the constant frame rate were filled and how many were lost
// because capture or encoding fell behind.
struct StreamStatistics {
    std::int64_t framesWritten = 0;
    std::int64_t framesDropped = 0;
    // How long the finished movie plays, in whole milliseconds, when the stream knows:
    // it ends on a frame slot, which may lie a frame or two past the moment stop was asked.
    std::optional<std::int64_t> movieMs;
};

class CaptureStream {
public:
    virtual ~CaptureStream() = default;
    // Throws CaptureError.
    virtual void addRecordingOutput(const RecordingOutputConfiguration& configuration,
                                    std::shared_ptr<StreamDelegate> delegate) = 0;
    // Both throw CaptureError; they end early with Cancelled when stop is requested.
    virtual void startCapture(std::stop_token stop) = 0;
    // Returns once the movie file is complete.
    virtual void stopCapture(std::stop_token stop) = 0;
    // The movie being written moves to `to` in the same folder, replacing what is there,
    // and is written on there. Throws CaptureError.
    virtual void moveRecordingOutput(const std::filesystem::path& to) = 0;
    virtual StreamStatistics statistics() = 0;
};

// A still picture: 8-bit blue, green, red and a fourth byte that carries nothing
// (screens are opaque), rows of width × 4 bytes without gaps.
struct CapturedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> bgra;
};

// A file held for one owner among all processes of the machine (an advisory lock),
// until this is destroyed.
class FileClaim {
public:
    virtual ~FileClaim() = default;
};

// The screen-capture service.
class ScreenCapture {
public:
    virtual ~ScreenCapture() = default;

    // Throws CaptureError when the content cannot be listed.
    virtual ShareableContent shareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly) = 0;

    virtual std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter,
                                                      const StreamConfiguration& configuration,
                                                      std::shared_ptr<StreamDelegate> delegate) = 0;

    // One picture of the filter's content at the configuration's output size; throws
    // CaptureError when it cannot be taken.
    virtual CapturedImage captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) = 0;

    // Claims a lock file, made when missing and removed when the claim ends; none while
    // another claim, of this process or another, holds it. Throws CaptureError when the
    // file cannot be made.
    virtual std::unique_ptr<FileClaim> claimFile(const std::filesystem::path& lockFile) = 0;

    // The picture as a PNG file's bytes; none when the encoder fails.
    virtual std::optional<std::vector<std::uint8_t>> encodePNG(const CapturedImage& image) = 0;
};

} // namespace vanto
