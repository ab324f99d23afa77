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
    // How many windows' picture grabbers are kept; at most keptGrabbers.
    std::size_t keptPictureGrabbers();
    static constexpr std::size_t keptGrabbers = 4;
    std::unique_ptr<FileClaim> claimFile(const std::filesystem::path& lockFile) override;
    std::optional<std::vector<std::uint8_t>> encodePNG(const CapturedImage& image) override;

private:
    WindowServer& windows_;
    Clock& clock_;
    std::mutex mutex_;
    // Redirected once and kept: a window's first picture needs it to repaint. Each holds
    // a connection and a window-sized buffer, so only the most recently pictured windows
    // keep theirs: windows come and go take after take.
    struct KeptGrabber {
        std::unique_ptr<X11Grabber> grabber;
        std::uint64_t lastUse = 0;
    };
    std::map<std::uint32_t, KeptGrabber> pictureGrabbers_;
    std::uint64_t uses_ = 0;
};

} // namespace vanto
