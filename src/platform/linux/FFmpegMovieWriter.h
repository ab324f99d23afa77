#pragma once

#include "platform/Capture.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

namespace vanto {

// Encodes BGRA pictures into a QuickTime movie: yuv420p, H.264 (libx264) or HEVC
// (libx265, tagged hvc1). While it is written the movie is fragmented, so that a killed
// process leaves a playable file; finish() turns it into a normal movie by a stream
// copy. Every failure throws CaptureError.
class FFmpegMovieWriter {
public:
    FFmpegMovieWriter(const std::filesystem::path& path, VideoCodec codec, int width, int height, int fps);
    ~FFmpegMovieWriter();
    FFmpegMovieWriter(const FFmpegMovieWriter&) = delete;
    FFmpegMovieWriter& operator=(const FFmpegMovieWriter&) = delete;

    // The picture at frame slot pts (in 1/fps); pictures of another size are scaled.
    void write(const CapturedImage& picture, std::int64_t pts);
    // Flushes the encoder and finalises the movie. Safe to call twice.
    void finish();
    // Renames the movie, finished or not, and goes on writing it there. Any thread.
    void moveTo(const std::filesystem::path& to);
    // How long the finished movie plays as its header says, in whole milliseconds (what
    // a reader of the file, a service among them, takes for its length); none until
    // finish() has made the normal movie. Any thread.
    std::optional<std::int64_t> lengthMs() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Copies the packets of a (fragmented) movie into a normal one at `to`.
void remuxMovie(const std::filesystem::path& from, const std::filesystem::path& to);

// Scales a BGRA picture to another size (bilinear).
CapturedImage scaledPicture(const CapturedImage& picture, int width, int height);

// The picture as a PNG file (8-bit RGB), or none when libpng fails.
std::optional<std::vector<std::uint8_t>> pngBytes(const CapturedImage& picture, int compressionLevel = 1);

} // namespace vanto
