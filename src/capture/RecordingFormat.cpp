#include "capture/RecordingFormat.h"

namespace vanto {
namespace {

template <typename Enum, size_t N>
std::optional<Enum> byRawValue(const std::array<std::string_view, N>& raws, std::string_view raw) {
    for (size_t i = 0; i < N; ++i)
        if (raws[i] == raw) return static_cast<Enum>(i);
    return std::nullopt;
}

} // namespace

std::optional<RecordingQuality> recordingQuality(std::string_view raw) {
    return byRawValue<RecordingQuality>(recordingQualities, raw);
}

std::optional<RecordingCodec> recordingCodec(std::string_view raw) {
    return byRawValue<RecordingCodec>(recordingCodecs, raw);
}

std::string rawValue(RecordingQuality quality) {
    return std::string(recordingQualities[static_cast<size_t>(quality)]);
}

std::string rawValue(RecordingCodec codec) {
    return std::string(recordingCodecs[static_cast<size_t>(codec)]);
}

} // namespace vanto
