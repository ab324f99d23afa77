#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// How a take is encoded; both lists are in the order people are shown them, and
// only these raw values decode.
enum class RecordingQuality { low, standard, high };
enum class RecordingCodec { h264, hevc };

inline constexpr std::array<std::string_view, 3> recordingQualities{"low", "standard", "high"};
inline constexpr std::array<std::string_view, 2> recordingCodecs{"h264", "hevc"};

std::optional<RecordingQuality> recordingQuality(std::string_view raw);
std::optional<RecordingCodec> recordingCodec(std::string_view raw);
std::string rawValue(RecordingQuality quality);
std::string rawValue(RecordingCodec codec);

} // namespace vanto
