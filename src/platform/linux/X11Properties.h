#pragma once

#include "platform/linux/X11Connection.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace vanto::x11 {

// Typed reads of window properties. Each sets its own error trap: a window that is
// gone, a property that is not set and one of another type or format all read as
// nothing (and an outer trap still learns of the failure).
std::optional<std::vector<XWindowID>> windows(_XDisplay* display, XWindowID window, XAtomID property); // WINDOW
std::optional<std::vector<unsigned long>> cardinals(_XDisplay* display, XWindowID window, XAtomID property);
std::optional<std::vector<XAtomID>> atoms(_XDisplay* display, XWindowID window, XAtomID property); // ATOM
// A UTF8_STRING property as valid UTF-8.
std::optional<std::string> utf8Text(_XDisplay* display, XWindowID window, XAtomID property, const X11Atoms& atoms);
// A list of strings (STRING, which is Latin-1, or UTF8_STRING), each as valid UTF-8.
std::optional<std::vector<std::string>> texts(_XDisplay* display, XWindowID window, XAtomID property,
                                              const X11Atoms& atoms);
// _NET_WM_NAME, else WM_NAME (STRING, UTF8_STRING or COMPOUND_TEXT).
std::optional<std::string> title(_XDisplay* display, XWindowID window, const X11Atoms& atoms);
// The class half of WM_CLASS ("Chromium", "Gedit").
std::optional<std::string> className(_XDisplay* display, XWindowID window, const X11Atoms& atoms);

// A window's client area in root coordinates, and whether it is shown.
struct X11Geometry {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool viewable = false;
};
std::optional<X11Geometry> geometry(_XDisplay* display, XWindowID window);

// Sends an EWMH client message about the window to the root, where the window manager
// listens; false when it could not be sent (the connection's error trap said so).
bool sendToWindowManager(_XDisplay* display, XWindowID window, XAtomID message, const std::array<long, 5>& data);

// Gives the window an empty input shape, so clicks go to whatever lies beneath. The
// window manager copies the shape to its frame only once the window is managed, so
// call this after the window is shown. False when the server refused it.
bool passClicksThrough(_XDisplay* display, XWindowID window);

// Text from other programs may carry broken UTF-8; each bad byte becomes U+FFFD so
// that a record is always valid text.
std::string validUTF8(const char* text, std::size_t length);
std::string latin1ToUTF8(const unsigned char* text, std::size_t length);

} // namespace vanto::x11
