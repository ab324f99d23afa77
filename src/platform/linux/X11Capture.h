#pragma once

#include "platform/Capture.h"
#include "platform/Clock.h"
#include "platform/WindowServer.h"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

namespace vanto {

class X11Grabber;

// The capture service on X11: windows and displays from the window server, streams
// that grab on one thread and encode on another, and single pictures from the same
// grabs. Each grabber holds a connection of its own (X11Grabber.h).
class X11Capture final : public ScreenCapture {
public:
    X11Capture(WindowServer& windows, Clock& clock);
    ~X11Capture() override;

    ShareableContent shareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly) override;
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                              std::shared_ptr<StreamDelegate> delegate) override;
    CapturedImage captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) override;
    std::unique_ptr<FileClaim> claimFile(const std::filesystem::path& lockFile) override;
    std::optional<std::vector<std::uint8_t>> encodePNG(const CapturedImage& image) override;

private:
    WindowServer& windows_;
    Clock& clock_;
    std::mutex mutex_;
    // Redirected once and kept: a window's first picture needs it to repaint.
    std::map<std::uint32_t, std::unique_ptr<X11Grabber>> pictureGrabbers_;
};

} // namespace vanto
