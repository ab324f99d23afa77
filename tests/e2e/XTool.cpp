// What the end-to-end tests do to the desktop from outside vanto, with plain Xlib:
//   vanto_e2e_xtool warp X Y                  move the pointer
//   vanto_e2e_xtool activate WINDOW           ask the window manager to raise and focus
//   vanto_e2e_xtool window X Y W H TITLE      show a window, print its id, stay until killed

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

struct CloseDisplay {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, CloseDisplay>;

int usage() {
    std::fprintf(stderr, "usage: vanto_e2e_xtool warp X Y | activate WINDOW | window X Y W H TITLE\n");
    return 2;
}

int warp(Display* display, int x, int y) {
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XSync(display, False);
    return 0;
}

int activate(Display* display, Window window) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2; // from a pager: the window manager obeys without focus-stealing checks
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XSync(display, False);
    return 0;
}

int window(Display* display, int x, int y, int width, int height, const char* title) {
    int screen = DefaultScreen(display);
    Window window =
        XCreateSimpleWindow(display, RootWindow(display, screen), x, y, static_cast<unsigned>(width),
                            static_cast<unsigned>(height), 0, BlackPixel(display, screen), WhitePixel(display, screen));
    XSizeHints hints{};
    hints.flags = USPosition | USSize | PMinSize | PMaxSize;
    hints.x = x;
    hints.y = y;
    hints.width = hints.min_width = hints.max_width = width;
    hints.height = hints.min_height = hints.max_height = height;
    XSetWMNormalHints(display, window, &hints);
    XStoreName(display, window, title);
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), utf8, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(title), static_cast<int>(std::strlen(title)));
    long pid = static_cast<long>(getpid());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&pid), 1);
    XMapWindow(display, window);
    XSync(display, False);
    std::printf("0x%lx\n", window);
    std::fflush(stdout);
    for (;;) {
        XEvent event;
        XNextEvent(display, &event);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    DisplayPtr display(XOpenDisplay(nullptr));
    if (!display) {
        std::fprintf(stderr, "vanto_e2e_xtool: cannot open display\n");
        return 1;
    }
    std::string command = argv[1];
    if (command == "warp" && argc == 4) return warp(display.get(), std::atoi(argv[2]), std::atoi(argv[3]));
    if (command == "activate" && argc == 3)
        return activate(display.get(), static_cast<Window>(std::strtoul(argv[2], nullptr, 0)));
    if (command == "window" && argc == 7)
        return window(display.get(), std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5]),
                      argv[6]);
    return usage();
}
