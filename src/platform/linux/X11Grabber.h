#pragma once

#include "platform/Capture.h"
#include "platform/linux/X11Connection.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace vanto {

// What goes wrong while grabbing, as the stream reports it.
namespace capturefailure {
inline constexpr const char* domain = "X11Capture";
CaptureFailure windowClosed();
CaptureFailure noDisplay();
CaptureFailure grabFailed(const std::string& what);
CaptureFailure encoderFailed(const std::string& what);
} // namespace capturefailure

// Grabs the filter's content (a window from its composite pixmap, or a region of the
// screen) as BGRA, with the pointer blended in when asked. One thread at a time.
class X11Grabber {
public:
    X11Grabber(const ContentFilter& filter, std::optional<RectD> sourceRect, bool showsCursor);
    ~X11Grabber();
    X11Grabber(const X11Grabber&) = delete;
    X11Grabber& operator=(const X11Grabber&) = delete;

    // One picture at the source size; throws CaptureError (windowClosed when the window
    // is gone). An unmapped (minimised) window repeats its last picture.
    // The caller may take the pixels (swap them out); after a repeat (see repeated())
    // they are then an earlier picture of the same window, not the last one.
    CapturedImage& grab();
    // Whether the last grab read nothing new and handed back what was there.
    bool repeated() const { return repeated_; }

    // Whether the first grab after redirecting needs the window to repaint first.
    bool freshlyRedirected() const { return freshlyRedirected_; }

private:
    struct ShmImage;
    struct Pixmap;

    void grabWindow();
    void repeat() { repeated_ = true; }
    void grabRegion(unsigned long drawable, int x, int y, int width, int height, int depth, void* visual);
    void hideExcluded(int originX, int originY);
    void blendCursor(int originX, int originY);
    ShmImage& imageFor(int width, int height, int depth, void* visual);

    // A connection of its own, so that grabbing at 30 frames a second never waits for
    // the shared connection's lock, and a composite redirect lives exactly as long as
    // its grabber.
    X11Connection connection_;
    ContentFilter filter_;
    std::optional<RectD> sourceRect_;
    bool showsCursor_;
    bool freshlyRedirected_ = false;
    bool hasXFixes_ = false;
    std::unique_ptr<ShmImage> image_;
    std::unique_ptr<Pixmap> pixmap_;
    CapturedImage frame_;
    bool haveFrame_ = false;
    bool repeated_ = false;
};

} // namespace vanto
