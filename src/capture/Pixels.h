#pragma once

#include "platform/Capture.h"
#include "platform/Clock.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <vector>

namespace vanto {

// Still pictures of one window: a 24 × 24 grey fingerprint for telling whether an
// action changed anything, and PNG pictures for drivers that look at the screen.
// Nothing here throws; a window that cannot be pictured gives none. Serialised.
class Pixels {
public:
    static constexpr int side = 24;
    static constexpr std::size_t fingerprintSize = side * side;
    static constexpr double cacheSeconds = 3;
    static constexpr double serviceDeadline = 2;

    Pixels(ScreenCapture& capture, Clock& clock) : capture_(capture), clock_(clock) {}

    std::optional<std::vector<std::uint8_t>> fingerprint(std::uint32_t windowID);
    std::optional<std::vector<std::uint8_t>> png(std::uint32_t windowID, std::optional<RectD> crop, int width);

    static bool differ(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b);

    // The picture drawn into a zero-filled side × side linear-grey bitmap, nearest
    // pixel (low interpolation).
    static std::vector<std::uint8_t> linearGrey(const CapturedImage& image);

private:
    struct Cached {
        std::uint32_t id = 0;
        ShareableWindow window;
        double at = 0;
    };

    std::optional<ShareableWindow> resolve(std::uint32_t windowID);
    std::optional<CapturedImage> capture(const ContentFilter& filter, const StreamConfiguration& configuration);

    ScreenCapture& capture_;
    Clock& clock_;
    std::mutex mutex_;
    std::optional<Cached> cached_;
};

} // namespace vanto
