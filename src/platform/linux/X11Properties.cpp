#include "platform/linux/X11Properties.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/shape.h>

#include <memory>

namespace vanto::x11 {
namespace {

struct XFreer {
    void operator()(void* memory) const {
        if (memory) XFree(memory);
    }
};

struct Property {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    std::unique_ptr<unsigned char, XFreer> data;
};

std::optional<Property> read(Display* display, Window window, Atom name) {
    X11ErrorTrap trap(display);
    Property property;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    // 1 MiB of property data is far beyond any list or title we read.
    const long maxLongs = 1 << 18;
    const int status = XGetWindowProperty(display, window, name, 0, maxLongs, False, AnyPropertyType, &property.type,
                                          &property.format, &property.count, &remaining, &data);
    property.data.reset(data);
    if (status != Success || trap.failed() || property.type == None) return std::nullopt;
    return property;
}

// A list of 32-bit values of one type; Xlib hands format 32 out as longs.
std::optional<std::vector<unsigned long>> longs(Display* display, Window window, Atom name, Atom type) {
    auto property = read(display, window, name);
    if (!property || property->type != type || property->format != 32) return std::nullopt;
    const auto* values = reinterpret_cast<const unsigned long*>(property->data.get());
    return std::vector<unsigned long>(values, values + property->count);
}

std::optional<std::string> compoundText(Display* display, const Property& property) {
    XTextProperty text{property.data.get(), property.type, property.format, property.count};
    char** list = nullptr;
    int count = 0;
    if (Xutf8TextPropertyToTextList(display, &text, &list, &count) < Success || !list) return std::nullopt;
    std::string joined;
    for (int i = 0; i < count; ++i) joined += list[i];
    XFreeStringList(list);
    return validUTF8(joined.data(), joined.size());
}

} // namespace

std::optional<std::vector<XWindowID>> windows(_XDisplay* display, XWindowID window, XAtomID property) {
    return longs(display, window, property, XA_WINDOW);
}

std::optional<std::vector<unsigned long>> cardinals(_XDisplay* display, XWindowID window, XAtomID property) {
    return longs(display, window, property, XA_CARDINAL);
}

std::optional<std::vector<XAtomID>> atoms(_XDisplay* display, XWindowID window, XAtomID property) {
    return longs(display, window, property, XA_ATOM);
}

std::optional<std::string> utf8Text(_XDisplay* display, XWindowID window, XAtomID name, const X11Atoms& atoms) {
    auto property = read(display, window, name);
    if (!property || property->type != atoms[X11Atom::utf8String] || property->format != 8) return std::nullopt;
    return validUTF8(reinterpret_cast<const char*>(property->data.get()), property->count);
}

std::optional<std::vector<std::string>> texts(_XDisplay* display, XWindowID window, XAtomID name,
                                              const X11Atoms& atoms) {
    auto property = read(display, window, name);
    if (!property || property->format != 8) return std::nullopt;
    const bool latin1 = property->type == XA_STRING;
    if (!latin1 && property->type != atoms[X11Atom::utf8String]) return std::nullopt;
    // The strings are separated by NULs, and the last one may end with one.
    std::vector<std::string> list;
    const auto* bytes = property->data.get();
    std::size_t start = 0;
    for (std::size_t i = 0; i <= property->count; ++i) {
        if (i < property->count && bytes[i] != 0) continue;
        if (i < property->count || start < i) {
            const auto* piece = bytes + start;
            list.push_back(latin1 ? latin1ToUTF8(piece, i - start)
                                  : validUTF8(reinterpret_cast<const char*>(piece), i - start));
        }
        start = i + 1;
    }
    return list;
}

std::optional<std::string> title(_XDisplay* display, XWindowID window, const X11Atoms& atoms) {
    if (auto name = utf8Text(display, window, atoms[X11Atom::netWmName], atoms)) return name;
    auto property = read(display, window, XA_WM_NAME);
    if (!property || property->format != 8) return std::nullopt;
    const unsigned char* bytes = property->data.get();
    if (property->type == XA_STRING) return latin1ToUTF8(bytes, property->count);
    if (property->type == atoms[X11Atom::utf8String])
        return validUTF8(reinterpret_cast<const char*>(bytes), property->count);
    return compoundText(display, *property);
}

// WM_CLASS holds the instance and then the class; a list with the instance alone has
// an empty class, as Xlib's own reader gives it.
std::optional<std::string> className(_XDisplay* display, XWindowID window, const X11Atoms& atoms) {
    auto list = texts(display, window, XA_WM_CLASS, atoms);
    if (!list) return std::nullopt;
    return list->size() >= 2 ? (*list)[1] : std::string();
}

std::optional<X11Geometry> geometry(_XDisplay* display, XWindowID window) {
    X11ErrorTrap trap(display);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) return std::nullopt;
    X11Geometry place;
    Window child = None;
    if (!XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &place.x, &place.y, &child) ||
        trap.failed())
        return std::nullopt;
    place.width = attributes.width;
    place.height = attributes.height;
    place.viewable = attributes.map_state == IsViewable;
    return place;
}

bool sendToWindowManager(_XDisplay* display, XWindowID window, XAtomID message, const std::array<long, 5>& data) {
    X11ErrorTrap trap(display);
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = message;
    event.xclient.format = 32;
    for (std::size_t i = 0; i < data.size(); ++i) event.xclient.data.l[i] = data[i];
    const Status sent = XSendEvent(display, DefaultRootWindow(display), False,
                                   SubstructureRedirectMask | SubstructureNotifyMask, &event);
    return sent != 0 && !trap.failed();
}

bool passClicksThrough(_XDisplay* display, XWindowID window) {
    X11ErrorTrap trap(display);
    XShapeCombineRectangles(display, window, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
    return !trap.failed();
}

std::string latin1ToUTF8(const unsigned char* text, std::size_t length) {
    std::string utf8;
    utf8.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const unsigned char c = text[i];
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8;
}

std::string validUTF8(const char* text, std::size_t length) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    std::string result;
    result.reserve(length);
    std::size_t i = 0;
    while (i < length) {
        const unsigned char lead = bytes[i];
        std::size_t size = 0;
        char32_t code = 0;
        char32_t least = 0;
        if (lead < 0x80) {
            size = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            size = 2;
            code = lead & 0x1F;
            least = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            size = 3;
            code = lead & 0x0F;
            least = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            size = 4;
            code = lead & 0x07;
            least = 0x10000;
        }
        bool valid = size > 0 && i + size <= length;
        for (std::size_t k = 1; valid && k < size; ++k) {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            code = (code << 6) | (bytes[i + k] & 0x3F);
        }
        valid = valid && code >= least && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        if (valid) {
            result.append(text + i, size);
            i += size;
        } else {
            result += "\xEF\xBF\xBD";
            ++i;
        }
    }
    return result;
}

} // namespace vanto::x11
