#include "capture/Pixels.h"

#include "capture/OneShot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace vanto {
namespace {

// sRGB byte to linear light, once per value.
const std::array<double, 256>& linearTable() {
    static const std::array<double, 256> table = [] {
        std::array<double, 256> t{};
        for (int i = 0; i < 256; ++i) {
            const double c = i / 255.0;
            t[static_cast<std::size_t>(i)] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        }
        return t;
    }();
    return table;
}

ContentFilter windowAlone(const ShareableWindow& window) {
    ContentFilter filter;
    filter.kind = ContentFilter::Kind::window;
    filter.windowID = window.windowID;
    filter.contentRect = {0, 0, window.frame.width, window.frame.height};
    filter.frame = window.frame;
    return filter;
}

} // namespace

std::optional<ShareableWindow> Pixels::resolve(std::uint32_t windowID) {
    const double now = clock_.now();
    if (cached_ && cached_->id == windowID && now - cached_->at < cacheSeconds) return cached_->window;
    ShareableContent content;
    try {
        content = withDeadline<ShareableContent>(
            clock_, serviceDeadline, "shareableContent",
            [&capture = capture_](std::stop_token) { return capture.shareableContent(true, true); });
    } catch (const std::exception&) {
        return std::nullopt;
    }
    for (const auto& window : content.windows)
        if (window.windowID == windowID && window.onScreen) {
            cached_ = Cached{windowID, window, clock_.now()};
            return window;
        }
    return std::nullopt;
}

std::optional<CapturedImage> Pixels::capture(const ContentFilter& filter, const StreamConfiguration& configuration) {
    try {
        return withDeadline<CapturedImage>(clock_, serviceDeadline, "captureImage",
                                           [&capture = capture_, filter, configuration](std::stop_token) {
                                               return capture.captureImage(filter, configuration);
                                           });
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::vector<std::uint8_t> Pixels::linearGrey(const CapturedImage& image) {
    std::vector<std::uint8_t> grey(fingerprintSize, 0);
    if (image.width <= 0 || image.height <= 0 ||
        image.bgra.size() < static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4)
        return grey;
    const auto& linear = linearTable();
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            const int sx = std::min(image.width - 1, x * image.width / side);
            const int sy = std::min(image.height - 1, y * image.height / side);
            const auto* p = &image.bgra[(static_cast<std::size_t>(sy) * static_cast<std::size_t>(image.width) +
                                         static_cast<std::size_t>(sx)) *
                                        4];
            const double luminance = 0.2126 * linear[p[2]] + 0.7152 * linear[p[1]] + 0.0722 * linear[p[0]];
            grey[static_cast<std::size_t>(y * side + x)] =
                static_cast<std::uint8_t>(std::clamp(std::lround(luminance * 255), 0L, 255L));
        }
    return grey;
}

std::optional<std::vector<std::uint8_t>> Pixels::fingerprint(std::uint32_t windowID) {
    std::lock_guard lock(mutex_);
    auto window = resolve(windowID);
    if (!window) return std::nullopt;
    StreamConfiguration configuration;
    configuration.width = side;
    configuration.height = side;
    configuration.showsCursor = false;
    auto image = capture(windowAlone(*window), configuration);
    if (!image) return std::nullopt;
    return linearGrey(*image);
}

std::optional<std::vector<std::uint8_t>> Pixels::png(std::uint32_t windowID, std::optional<RectD> crop, int width) {
    std::lock_guard lock(mutex_);
    auto window = resolve(windowID);
    if (!window) return std::nullopt;
    const RectD region = crop ? *crop : RectD{0, 0, window->frame.width, window->frame.height};
    const double scale = std::min(static_cast<double>(width) / std::max(region.width, 1.0), 1.0);
    StreamConfiguration configuration;
    configuration.sourceRect = region;
    configuration.width = static_cast<int>(std::trunc(scale * region.width));
    configuration.height = static_cast<int>(std::trunc(scale * region.height));
    configuration.showsCursor = false;
    // A picture with no pixels cannot be encoded.
    if (configuration.width < 1 || configuration.height < 1) return std::nullopt;
    auto image = capture(windowAlone(*window), configuration);
    if (!image) return std::nullopt;
    try {
        return capture_.encodePNG(*image);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool Pixels::differ(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
    if (a.empty() || a.size() != b.size()) return false;
    std::size_t changed = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::abs(static_cast<int>(a[i]) - static_cast<int>(b[i])) >= 3) ++changed;
    return static_cast<double>(changed) / static_cast<double>(a.size()) > 0.004;
}

} // namespace vanto
