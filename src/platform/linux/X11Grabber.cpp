#include "platform/linux/X11Grabber.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xcomposite.h>
#include <X11/extensions/Xfixes.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

namespace vanto {
namespace {

RectD clampedRegion(std::optional<RectD> source, int width, int height) {
    if (!source) return {0, 0, static_cast<double>(width), static_cast<double>(height)};
    const double x = std::clamp(std::round(source->x), 0.0, static_cast<double>(width));
    const double y = std::clamp(std::round(source->y), 0.0, static_cast<double>(height));
    const double w = std::clamp(std::round(source->width), 0.0, width - x);
    const double h = std::clamp(std::round(source->height), 0.0, height - y);
    return {x, y, w, h};
}

X11Connection openConnection() {
    try {
        return X11Connection();
    } catch (const std::runtime_error&) {
        throw CaptureError(capturefailure::noDisplay());
    }
}

} // namespace

namespace capturefailure {
CaptureFailure windowClosed() {
    return {"the window being recorded was closed", domain, 1};
}
CaptureFailure noDisplay() {
    return {"cannot open the X display to capture the screen", domain, 2};
}
CaptureFailure grabFailed(const std::string& what) {
    return {"the screen could not be captured: " + what, domain, 3};
}
CaptureFailure encoderFailed(const std::string& what) {
    return {"the movie could not be written: " + what, domain, 4};
}
} // namespace capturefailure

// A shared-memory image the server copies pixels into.
struct X11Grabber::ShmImage {
    Display* display;
    XImage* image = nullptr;
    XShmSegmentInfo info{};
    bool attached = false;
    int width = 0, height = 0, depth = 0;

    ShmImage(Display* d, Visual* visual, int depth, int width, int height)
        : display(d), width(width), height(height), depth(depth) {
        info.shmid = -1;
        info.shmaddr = reinterpret_cast<char*>(-1);
        try {
            image = XShmCreateImage(d, visual, static_cast<unsigned>(depth), ZPixmap, nullptr, &info,
                                    static_cast<unsigned>(width), static_cast<unsigned>(height));
            if (!image) throw CaptureError(capturefailure::grabFailed("no shared-memory image"));
            info.shmid =
                shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(height),
                       IPC_CREAT | 0600);
            if (info.shmid < 0) throw CaptureError(capturefailure::grabFailed("no shared memory"));
            info.shmaddr = image->data = static_cast<char*>(shmat(info.shmid, nullptr, 0));
            if (info.shmaddr == reinterpret_cast<char*>(-1)) throw CaptureError(capturefailure::grabFailed("shmat"));
            info.readOnly = False;
            X11ErrorTrap trap(d);
            XShmAttach(d, &info);
            const bool failed = trap.failed();
            // Marked for removal now: the segment goes when both sides have let go.
            shmctl(info.shmid, IPC_RMID, nullptr);
            info.shmid = -1;
            if (failed) throw CaptureError(capturefailure::grabFailed("the X server refused shared memory"));
            attached = true;
        } catch (...) {
            release();
            throw;
        }
    }
    ~ShmImage() { release(); }
    ShmImage(const ShmImage&) = delete;
    ShmImage& operator=(const ShmImage&) = delete;

    void release() {
        if (attached) {
            XShmDetach(display, &info);
            XSync(display, False);
            attached = false;
        }
        if (image) {
            image->data = nullptr; // the segment is not Xlib's to free
            XDestroyImage(image);
            image = nullptr;
        }
        if (info.shmaddr != reinterpret_cast<char*>(-1)) {
            shmdt(info.shmaddr);
            info.shmaddr = reinterpret_cast<char*>(-1);
        }
        if (info.shmid >= 0) {
            shmctl(info.shmid, IPC_RMID, nullptr);
            info.shmid = -1;
        }
    }
};

// The window's off-screen contents; invalid once the window is resized or unmapped.
struct X11Grabber::Pixmap {
    Display* display;
    ::Pixmap pixmap;
    int width, height;
    Pixmap(Display* d, ::Pixmap p, int w, int h) : display(d), pixmap(p), width(w), height(h) {}
    Pixmap(const Pixmap&) = delete;
    Pixmap& operator=(const Pixmap&) = delete;
    ~Pixmap() {
        // The window may be gone, and its pixmap with it.
        X11ErrorTrap trap(display);
        XFreePixmap(display, pixmap);
    }
};

X11Grabber::X11Grabber(const ContentFilter& filter, std::optional<RectD> sourceRect, bool showsCursor)
    : connection_(openConnection()), filter_(filter), sourceRect_(sourceRect), showsCursor_(showsCursor) {
    Display* d = connection_.get();
    int major = 0, minor = 0;
    Bool pixmaps = False;
    if (!XShmQueryVersion(d, &major, &minor, &pixmaps))
        throw CaptureError(capturefailure::grabFailed("the X server has no MIT-SHM"));
    int event = 0, error = 0;
    hasXFixes_ = XFixesQueryExtension(d, &event, &error);

    const bool needsComposite = filter.kind == ContentFilter::Kind::window || !filter.excludedWindows.empty();
    if (needsComposite) {
        major = 0;
        minor = 2;
        if (!XCompositeQueryExtension(d, &event, &error) || !XCompositeQueryVersion(d, &major, &minor) ||
            (major == 0 && minor < 2))
            throw CaptureError(capturefailure::grabFailed("the X server has no Composite 0.2"));
    }
    X11ErrorTrap trap(d);
    if (filter.kind == ContentFilter::Kind::window) {
        XCompositeRedirectWindow(d, filter.windowID, CompositeRedirectAutomatic);
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(d, filter.windowID, &attributes) || trap.failed())
            throw CaptureError(capturefailure::windowClosed());
    } else if (!filter.excludedWindows.empty()) {
        // The windows under a left-out one are painted from their own contents.
        XCompositeRedirectSubwindows(d, DefaultRootWindow(d), CompositeRedirectAutomatic);
        trap.failed();
    }
    freshlyRedirected_ = needsComposite;
}

X11Grabber::~X11Grabber() = default;

X11Grabber::ShmImage& X11Grabber::imageFor(int width, int height, int depth, void* visual) {
    if (!image_ || image_->width != width || image_->height != height || image_->depth != depth) {
        image_.reset();
        image_ = std::make_unique<ShmImage>(connection_.get(), static_cast<Visual*>(visual), depth, width, height);
    }
    return *image_;
}

void X11Grabber::grabRegion(unsigned long drawable, int x, int y, int width, int height, int depth, void* visual) {
    if (depth != 24 && depth != 32) throw CaptureError(capturefailure::grabFailed("unsupported colour depth"));
    if (width <= 0 || height <= 0) {
        frame_.width = width;
        frame_.height = height;
        frame_.bgra.clear();
        return;
    }
    auto& shm = imageFor(width, height, depth, visual);
    Display* d = connection_.get();
    X11ErrorTrap trap(d);
    const bool ok = XShmGetImage(d, drawable, shm.image, x, y, AllPlanes);
    if (auto error = trap.error())
        throw CaptureError(capturefailure::grabFailed("the picture could not be read (" + error->describe() + ")"));
    if (!ok) throw CaptureError(capturefailure::grabFailed("the picture could not be read"));
    // Sized only once read: a failed read leaves the last picture whole.
    frame_.width = width;
    frame_.height = height;
    frame_.bgra.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    const auto row = static_cast<std::size_t>(width) * 4;
    for (int line = 0; line < height; ++line) {
        auto* out = frame_.bgra.data() + static_cast<std::size_t>(line) * row;
        std::memcpy(out, shm.image->data + static_cast<std::ptrdiff_t>(line) * shm.image->bytes_per_line, row);
    }
    // Without a compositor what shows is opaque: the fourth byte is left as the server
    // wrote it, and everything downstream reads the pictures as BGR0.
}

void X11Grabber::grabWindow() {
    Display* d = connection_.get();
    const Window window = filter_.windowID;
    XWindowAttributes attributes{};
    {
        X11ErrorTrap trap(d);
        const bool ok = XGetWindowAttributes(d, window, &attributes);
        if (!ok || trap.failed()) throw CaptureError(capturefailure::windowClosed());
    }
    if (attributes.map_state != IsViewable) {
        // Minimised: nothing to read, so the movie holds the last picture.
        pixmap_.reset();
        if (haveFrame_) return repeat();
        throw CaptureError(capturefailure::grabFailed("the window is not shown"));
    }
    if (!pixmap_ || pixmap_->width != attributes.width || pixmap_->height != attributes.height) {
        pixmap_.reset();
        X11ErrorTrap trap(d);
        ::Pixmap named = XCompositeNameWindowPixmap(d, window);
        if (trap.failed()) {
            if (haveFrame_) return repeat();
            throw CaptureError(capturefailure::grabFailed("the window has no contents yet"));
        }
        pixmap_ = std::make_unique<Pixmap>(d, named, attributes.width, attributes.height);
    }
    const RectD region = clampedRegion(sourceRect_, attributes.width, attributes.height);
    try {
        grabRegion(pixmap_->pixmap, static_cast<int>(region.x), static_cast<int>(region.y),
                   static_cast<int>(region.width), static_cast<int>(region.height), attributes.depth,
                   attributes.visual);
    } catch (const CaptureError&) {
        // Resized between the two requests: the next frame names the new pixmap.
        pixmap_.reset();
        if (haveFrame_) return repeat();
        throw;
    }
    if (!showsCursor_) return;
    int rootX = 0, rootY = 0;
    Window child = 0;
    X11ErrorTrap trap(d);
    // Closed just now: this picture goes without the pointer, the next grab tells.
    if (!XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &rootX, &rootY, &child) || trap.failed()) return;
    blendCursor(rootX + static_cast<int>(region.x), rootY + static_cast<int>(region.y));
}

CapturedImage& X11Grabber::grab() {
    Display* d = connection_.get();
    repeated_ = false;
    if (filter_.kind == ContentFilter::Kind::window) {
        grabWindow();
    } else {
        const int screen = DefaultScreen(d);
        const int rootWidth = DisplayWidth(d, screen);
        const int rootHeight = DisplayHeight(d, screen);
        RectD area{filter_.frame.x, filter_.frame.y, filter_.frame.width, filter_.frame.height};
        if (sourceRect_)
            area = {area.x + sourceRect_->x, area.y + sourceRect_->y, sourceRect_->width, sourceRect_->height};
        const RectD region = clampedRegion(area, rootWidth, rootHeight);
        grabRegion(DefaultRootWindow(d), static_cast<int>(region.x), static_cast<int>(region.y),
                   static_cast<int>(region.width), static_cast<int>(region.height), DefaultDepth(d, screen),
                   DefaultVisual(d, screen));
        if (!filter_.excludedWindows.empty()) hideExcluded(static_cast<int>(region.x), static_cast<int>(region.y));
        if (showsCursor_) blendCursor(static_cast<int>(region.x), static_cast<int>(region.y));
    }
    haveFrame_ = true;
    return frame_;
}

namespace {

struct XFreeDeleter {
    void operator()(void* p) const {
        if (p) XFree(p);
    }
};

// The child of the root that holds the window: its window-manager frame.
Window topLevelOf(Display* d, Window window, Window root) {
    for (int depth = 0; depth < 16; ++depth) {
        Window rootReturn = 0, parent = 0;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(d, window, &rootReturn, &parent, &children, &count)) return 0;
        std::unique_ptr<Window, XFreeDeleter> owned(children);
        if (parent == root || parent == 0) return window;
        window = parent;
    }
    return 0;
}

} // namespace

// A left-out window's rectangle is painted again from the windows' own contents, in
// stacking order, without the left-out ones: what lies beneath shows, and whatever
// covers it still covers it.
void X11Grabber::hideExcluded(int originX, int originY) {
    Display* d = connection_.get();
    const Window root = DefaultRootWindow(d);
    X11ErrorTrap trap(d);
    Window rootReturn = 0, parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (!XQueryTree(d, root, &rootReturn, &parent, &children, &count)) return;
    std::unique_ptr<Window, XFreeDeleter> owned(children);
    const std::vector<Window> stack(children, children + count); // bottom to top

    std::vector<Window> hidden;
    for (std::uint32_t excluded : filter_.excludedWindows)
        if (Window top = topLevelOf(d, excluded, root)) hidden.push_back(top);

    for (Window top : hidden) {
        XWindowAttributes attributes{};
        if (!XGetWindowAttributes(d, top, &attributes) || attributes.map_state != IsViewable) continue;
        const int outerWidth = attributes.width + 2 * attributes.border_width;
        const int outerHeight = attributes.height + 2 * attributes.border_width;
        const int x0 = std::max(attributes.x, originX), y0 = std::max(attributes.y, originY);
        const int x1 = std::min(attributes.x + outerWidth, originX + frame_.width);
        const int y1 = std::min(attributes.y + outerHeight, originY + frame_.height);
        if (x0 >= x1 || y0 >= y1) continue;
        for (int y = y0; y < y1; ++y)
            std::memset(frame_.bgra.data() +
                            (static_cast<std::size_t>(y - originY) * static_cast<std::size_t>(frame_.width) +
                             static_cast<std::size_t>(x0 - originX)) *
                                4,
                        0, static_cast<std::size_t>(x1 - x0) * 4);
        for (Window window : stack) {
            if (std::find(hidden.begin(), hidden.end(), window) != hidden.end()) continue;
            XWindowAttributes under{};
            if (!XGetWindowAttributes(d, window, &under) || under.map_state != IsViewable ||
                under.c_class != InputOutput || (under.depth != 24 && under.depth != 32))
                continue;
            // A window's pixmap holds its border too, so its origin is the outer corner.
            const int outer = 2 * under.border_width;
            const int ux0 = std::max(x0, under.x), uy0 = std::max(y0, under.y);
            const int ux1 = std::min(x1, under.x + under.width + outer);
            const int uy1 = std::min(y1, under.y + under.height + outer);
            if (ux0 >= ux1 || uy0 >= uy1) continue;
            X11ErrorTrap one(d);
            ::Pixmap contents = XCompositeNameWindowPixmap(d, window);
            XImage* image = XGetImage(d, contents, ux0 - under.x, uy0 - under.y, static_cast<unsigned>(ux1 - ux0),
                                      static_cast<unsigned>(uy1 - uy0), AllPlanes, ZPixmap);
            if (image && image->bits_per_pixel == 32) {
                for (int y = uy0; y < uy1; ++y) {
                    auto* out = frame_.bgra.data() +
                                (static_cast<std::size_t>(y - originY) * static_cast<std::size_t>(frame_.width) +
                                 static_cast<std::size_t>(ux0 - originX)) *
                                    4;
                    std::memcpy(out, image->data + static_cast<std::ptrdiff_t>(y - uy0) * image->bytes_per_line,
                                static_cast<std::size_t>(ux1 - ux0) * 4);
                    for (int i = 0; i < ux1 - ux0; ++i) out[i * 4 + 3] = 255;
                }
            }
            if (image) XDestroyImage(image);
            XFreePixmap(d, contents);
            one.failed();
        }
    }
    trap.failed();
}

void X11Grabber::blendCursor(int originX, int originY) {
    if (!hasXFixes_) return;
    Display* d = connection_.get();
    std::unique_ptr<XFixesCursorImage, XFreeDeleter> cursor(XFixesGetCursorImage(d));
    if (!cursor) return;
    const int left = cursor->x - cursor->xhot - originX;
    const int top = cursor->y - cursor->yhot - originY;
    for (int cy = 0; cy < cursor->height; ++cy) {
        const int y = top + cy;
        if (y < 0 || y >= frame_.height) continue;
        for (int cx = 0; cx < cursor->width; ++cx) {
            const int x = left + cx;
            if (x < 0 || x >= frame_.width) continue;
            // Premultiplied ARGB in the low 32 bits of each long.
            const auto argb = static_cast<std::uint32_t>(cursor->pixels[cy * cursor->width + cx]);
            const std::uint32_t alpha = argb >> 24;
            if (alpha == 0) continue;
            auto* p = frame_.bgra.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(frame_.width) +
                                            static_cast<std::size_t>(x)) *
                                               4;
            const std::uint32_t keep = 255 - alpha;
            p[0] = static_cast<std::uint8_t>(std::min<std::uint32_t>(255, (argb & 0xFF) + p[0] * keep / 255));
            p[1] = static_cast<std::uint8_t>(std::min<std::uint32_t>(255, ((argb >> 8) & 0xFF) + p[1] * keep / 255));
            p[2] = static_cast<std::uint8_t>(std::min<std::uint32_t>(255, ((argb >> 16) & 0xFF) + p[2] * keep / 255));
        }
    }
}

} // namespace vanto
