#include "platform/linux/AtspiAccessibility.h"

#include "platform/linux/LinuxWindowServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <atspi/atspi-constants.h>
#include <dbus/dbus.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace vanto {
namespace {

// ---- D-Bus, by hand: libdbus costs a fraction of GDBus per message, and a walk sends thousands ----

struct MessageUnref {
    void operator()(DBusMessage* message) const { dbus_message_unref(message); }
};
using Message = std::unique_ptr<DBusMessage, MessageUnref>;

struct ConnectionClose {
    void operator()(DBusConnection* connection) const {
        dbus_connection_close(connection);
        dbus_connection_unref(connection);
    }
};
using Connection = std::unique_ptr<DBusConnection, ConnectionClose>;

class ErrorSlot {
public:
    ErrorSlot() { dbus_error_init(&error_); }
    ~ErrorSlot() { dbus_error_free(&error_); }
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;
    DBusError* get() { return &error_; }

private:
    DBusError error_;
};

constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
constexpr const char* componentInterface = "org.a11y.atspi.Component";
constexpr const char* textInterface = "org.a11y.atspi.Text";
constexpr const char* valueInterface = "org.a11y.atspi.Value";
constexpr const char* documentInterface = "org.a11y.atspi.Document";
constexpr const char* actionInterface = "org.a11y.atspi.Action";
constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
constexpr const char* nullPath = "/org/a11y/atspi/null";
constexpr int defaultTimeoutMs = 2000;
constexpr std::size_t inFlightLimit = 512;
// What was read is reused while reads follow each other closely, so that one walk reads
// each thing once, and forgotten after a pause, so that a walk a quarter second later
// sees the interface as it is then.
constexpr double treePause = 0.1;
constexpr double treeLifetime = 5.0;

struct ObjectRef {
    std::string bus;
    std::string path;
    bool operator==(const ObjectRef&) const = default;
};

// None for a name or path the bus would reject: such a call simply fails.
Message methodCall(const std::string& bus, const std::string& path, const char* interface, const char* member) {
    if (!dbus_validate_bus_name(bus.c_str(), nullptr) || !dbus_validate_path(path.c_str(), nullptr)) return nullptr;
    return Message(dbus_message_new_method_call(bus.c_str(), path.c_str(), interface, member));
}

void appendStrings(DBusMessage* message, std::initializer_list<const char*> strings) {
    if (!message) return;
    DBusMessageIter args;
    dbus_message_iter_init_append(message, &args);
    for (const char* text : strings) dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &text);
}

void appendUint32(DBusMessage* message, dbus_uint32_t value) {
    if (!message) return;
    DBusMessageIter args;
    dbus_message_iter_init_append(message, &args);
    dbus_message_iter_append_basic(&args, DBUS_TYPE_UINT32, &value);
}

void appendInts(DBusMessage* message, std::initializer_list<dbus_int32_t> values) {
    if (!message) return;
    DBusMessageIter args;
    dbus_message_iter_init_append(message, &args);
    for (dbus_int32_t value : values) dbus_message_iter_append_basic(&args, DBUS_TYPE_INT32, &value);
}

// Reply readers: each answers none for a reply of any other shape.
bool firstArgument(DBusMessage* reply, DBusMessageIter& iter) {
    return reply && dbus_message_get_type(reply) == DBUS_MESSAGE_TYPE_METHOD_RETURN &&
           dbus_message_iter_init(reply, &iter);
}

std::optional<std::string> basicString(DBusMessageIter& iter) {
    const int type = dbus_message_iter_get_arg_type(&iter);
    if (type != DBUS_TYPE_STRING && type != DBUS_TYPE_OBJECT_PATH) return std::nullopt;
    const char* text = nullptr;
    dbus_message_iter_get_basic(&iter, &text);
    return std::string(text ? text : "");
}

std::optional<ObjectRef> refAt(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRUCT) return std::nullopt;
    DBusMessageIter fields;
    dbus_message_iter_recurse(&iter, &fields);
    auto bus = basicString(fields);
    if (!bus || !dbus_message_iter_next(&fields)) return std::nullopt;
    auto path = basicString(fields);
    if (!path) return std::nullopt;
    return ObjectRef{*bus, *path};
}

std::vector<ObjectRef> refsAt(DBusMessageIter& iter) {
    std::vector<ObjectRef> refs;
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return refs;
    DBusMessageIter items;
    dbus_message_iter_recurse(&iter, &items);
    while (dbus_message_iter_get_arg_type(&items) == DBUS_TYPE_STRUCT) {
        if (auto ref = refAt(items)) refs.push_back(std::move(*ref));
        dbus_message_iter_next(&items);
    }
    return refs;
}

std::optional<std::string> replyString(DBusMessage* reply) {
    DBusMessageIter iter;
    if (!firstArgument(reply, iter)) return std::nullopt;
    if (dbus_message_iter_get_arg_type(&iter) == DBUS_TYPE_VARIANT) {
        DBusMessageIter inner;
        dbus_message_iter_recurse(&iter, &inner);
        return basicString(inner);
    }
    return basicString(iter);
}

std::optional<dbus_uint32_t> replyUint32(DBusMessage* reply) {
    DBusMessageIter iter;
    if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_UINT32) return std::nullopt;
    dbus_uint32_t value = 0;
    dbus_message_iter_get_basic(&iter, &value);
    return value;
}

std::uint64_t statesAt(DBusMessageIter& iter) {
    std::uint64_t states = 0;
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return 0;
    DBusMessageIter words;
    dbus_message_iter_recurse(&iter, &words);
    for (int word = 0; word < 2 && dbus_message_iter_get_arg_type(&words) == DBUS_TYPE_UINT32; ++word) {
        dbus_uint32_t bits = 0;
        dbus_message_iter_get_basic(&words, &bits);
        states |= static_cast<std::uint64_t>(bits) << (32 * word);
        dbus_message_iter_next(&words);
    }
    return states;
}

std::map<std::string, std::string> dictionaryAt(DBusMessageIter& iter) {
    std::map<std::string, std::string> entries;
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return entries;
    DBusMessageIter items;
    dbus_message_iter_recurse(&iter, &items);
    while (dbus_message_iter_get_arg_type(&items) == DBUS_TYPE_DICT_ENTRY) {
        DBusMessageIter entry;
        dbus_message_iter_recurse(&items, &entry);
        auto key = basicString(entry);
        if (key && dbus_message_iter_next(&entry))
            if (auto value = basicString(entry)) entries[*key] = *value;
        dbus_message_iter_next(&items);
    }
    return entries;
}

std::optional<int> intAt(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_INT32) return std::nullopt;
    dbus_int32_t value = 0;
    dbus_message_iter_get_basic(&iter, &value);
    return value;
}

// The accessibility bus, one private connection, calls pipelined: everything is sent,
// then the answers are collected as they come.
class Bus {
public:
    std::vector<Message> callAll(std::vector<Message>& requests, int timeoutMs) {
        std::vector<Message> replies(requests.size());
        if (!connected()) return replies;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::unordered_map<dbus_uint32_t, std::size_t> pending;
        std::size_t next = 0, answered = 0;
        while (answered < requests.size()) {
            while (next < requests.size() && pending.size() < inFlightLimit) {
                dbus_uint32_t serial = 0;
                if (requests[next] && dbus_connection_send(connection_.get(), requests[next].get(), &serial))
                    pending[serial] = next;
                else
                    ++answered;
                ++next;
            }
            if (pending.empty()) continue;
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) break;
            if (!dbus_connection_read_write(connection_.get(), static_cast<int>(std::min<long>(left.count(), 100))))
                break;
            while (DBusMessage* raw = dbus_connection_pop_message(connection_.get())) {
                Message message(raw);
                auto it = pending.find(dbus_message_get_reply_serial(raw));
                if (it == pending.end()) continue;
                replies[it->second] = std::move(message);
                pending.erase(it);
                ++answered;
            }
        }
        return replies;
    }

    Message call(Message request, int timeoutMs) {
        std::vector<Message> one;
        one.push_back(std::move(request));
        return std::move(callAll(one, timeoutMs).front());
    }

    bool connected() {
        if (connection_ && dbus_connection_get_is_connected(connection_.get())) return true;
        connection_.reset();
        const auto address = busAddress();
        if (!address) return false;
        ErrorSlot error;
        Connection connection(dbus_connection_open_private(address->c_str(), error.get()));
        if (!connection || !dbus_bus_register(connection.get(), error.get())) return false;
        dbus_connection_set_exit_on_disconnect(connection.get(), FALSE);
        connection_ = std::move(connection);
        listenForEvents();
        return true;
    }

private:
    // Toolkits keep their Cache, which answers a whole tree in one call, only while some
    // client listens for events. We never read the events: no match rule, so the bus
    // does not send them to us.
    void listenForEvents() {
        const char* event = "object:children-changed";
        const char* appBus = "";
        Message request(dbus_message_new_method_call("org.a11y.atspi.Registry", "/org/a11y/atspi/registry",
                                                     "org.a11y.atspi.Registry", "RegisterEvent"));
        DBusMessageIter args, properties;
        dbus_message_iter_init_append(request.get(), &args);
        dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &event);
        dbus_message_iter_open_container(&args, DBUS_TYPE_ARRAY, "s", &properties);
        dbus_message_iter_close_container(&args, &properties);
        dbus_message_iter_append_basic(&args, DBUS_TYPE_STRING, &appBus);
        ErrorSlot error;
        Message reply(
            dbus_connection_send_with_reply_and_block(connection_.get(), request.get(), defaultTimeoutMs, error.get()));
        if (reply) return;
        // Registries before 2.46 take the event name alone.
        Message older(dbus_message_new_method_call("org.a11y.atspi.Registry", "/org/a11y/atspi/registry",
                                                   "org.a11y.atspi.Registry", "RegisterEvent"));
        appendStrings(older.get(), {event});
        ErrorSlot again;
        Message(
            dbus_connection_send_with_reply_and_block(connection_.get(), older.get(), defaultTimeoutMs, again.get()));
    }

    // The session bus knows where the accessibility bus is.
    static std::optional<std::string> busAddress() {
        if (const char* direct = std::getenv("AT_SPI_BUS_ADDRESS"); direct && *direct) return std::string(direct);
        ErrorSlot error;
        Connection session(dbus_bus_get_private(DBUS_BUS_SESSION, error.get()));
        if (!session) return std::nullopt;
        dbus_connection_set_exit_on_disconnect(session.get(), FALSE);
        Message request(dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus", "org.a11y.Bus", "GetAddress"));
        Message reply(
            dbus_connection_send_with_reply_and_block(session.get(), request.get(), defaultTimeoutMs, error.get()));
        return replyString(reply.get());
    }

    Connection connection_;
};

// ---- the attribute vocabulary ----

const char* roleName(dbus_uint32_t role) {
    switch (role) {
    case ATSPI_ROLE_PUSH_BUTTON:
        return "AXButton";
    // A button that stays pressed or not (aria-pressed), and a switch (role "switch"),
    // which Chromium and GTK both give this role: their value is their state.
    case ATSPI_ROLE_TOGGLE_BUTTON:
        return "AXSwitch";
    case ATSPI_ROLE_PUSH_BUTTON_MENU:
        return "AXMenuButton";
    case ATSPI_ROLE_LINK:
        return "AXLink";
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_SPIN_BUTTON:
        return "AXTextField";
    case ATSPI_ROLE_TERMINAL:
        return "AXTextArea";
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
        return "AXCheckBox";
    case ATSPI_ROLE_RADIO_BUTTON:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
        return "AXRadioButton";
    case ATSPI_ROLE_COMBO_BOX:
        return "AXComboBox";
    case ATSPI_ROLE_MENU:
        return "AXPopUpButton";
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
        return "AXMenuItem";
    case ATSPI_ROLE_MENU_BAR:
        return "AXMenuBar";
    case ATSPI_ROLE_POPUP_MENU:
        return "AXMenu";
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
        return "AXWebArea";
    case ATSPI_ROLE_HEADING:
        return "AXHeading";
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_ACCELERATOR_LABEL:
        return "AXStaticText";
    case ATSPI_ROLE_SCROLL_PANE:
    case ATSPI_ROLE_VIEWPORT:
        return "AXScrollArea";
    case ATSPI_ROLE_SCROLL_BAR:
        return "AXScrollBar";
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_FILE_CHOOSER:
    case ATSPI_ROLE_ALERT:
        return "AXWindow";
    case ATSPI_ROLE_APPLICATION:
        return "AXApplication";
    case ATSPI_ROLE_IMAGE:
    case ATSPI_ROLE_ICON:
    case ATSPI_ROLE_IMAGE_MAP:
        return "AXImage";
    case ATSPI_ROLE_PAGE_TAB:
        return "AXTab";
    case ATSPI_ROLE_PAGE_TAB_LIST:
        return "AXTabGroup";
    case ATSPI_ROLE_SLIDER:
        return "AXSlider";
    case ATSPI_ROLE_PROGRESS_BAR:
    case ATSPI_ROLE_LEVEL_BAR:
        return "AXProgressIndicator";
    case ATSPI_ROLE_TOOL_BAR:
        return "AXToolbar";
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_LIST_BOX:
    case ATSPI_ROLE_DESCRIPTION_LIST:
        return "AXList";
    case ATSPI_ROLE_LIST_ITEM:
    case ATSPI_ROLE_TREE_ITEM:
        return "AXRow";
    case ATSPI_ROLE_TABLE:
    case ATSPI_ROLE_TREE_TABLE:
    case ATSPI_ROLE_TREE:
        return "AXTable";
    case ATSPI_ROLE_TABLE_ROW:
        return "AXRow";
    case ATSPI_ROLE_TABLE_CELL:
        return "AXCell";
    case ATSPI_ROLE_SEPARATOR:
        return "AXSplitter";
    case ATSPI_ROLE_INVALID:
        return "";
    default:
        return "AXGroup";
    }
}

bool isTextRole(dbus_uint32_t role) {
    return role == ATSPI_ROLE_ENTRY || role == ATSPI_ROLE_PASSWORD_TEXT || role == ATSPI_ROLE_TEXT ||
           role == ATSPI_ROLE_SPIN_BUTTON || role == ATSPI_ROLE_TERMINAL || role == ATSPI_ROLE_COMBO_BOX;
}

bool isToggleRole(dbus_uint32_t role) {
    return role == ATSPI_ROLE_CHECK_BOX || role == ATSPI_ROLE_RADIO_BUTTON || role == ATSPI_ROLE_CHECK_MENU_ITEM ||
           role == ATSPI_ROLE_RADIO_MENU_ITEM || role == ATSPI_ROLE_TOGGLE_BUTTON;
}

bool isRangeRole(dbus_uint32_t role) {
    return role == ATSPI_ROLE_SLIDER || role == ATSPI_ROLE_PROGRESS_BAR || role == ATSPI_ROLE_SCROLL_BAR ||
           role == ATSPI_ROLE_LEVEL_BAR || role == ATSPI_ROLE_DIAL;
}

bool isWindowRole(dbus_uint32_t role) {
    return role == ATSPI_ROLE_FRAME || role == ATSPI_ROLE_WINDOW || role == ATSPI_ROLE_DIALOG ||
           role == ATSPI_ROLE_FILE_CHOOSER || role == ATSPI_ROLE_ALERT;
}

// Only labels say which elements they title; asking every element would double a walk.
bool canTitle(dbus_uint32_t role) {
    return role == ATSPI_ROLE_LABEL || role == ATSPI_ROLE_CAPTION;
}

bool hasState(std::uint64_t states, AtspiStateType state) {
    return (states >> static_cast<unsigned>(state)) & 1u;
}

enum InterfaceBit : std::uint32_t { component = 1, text = 2, value = 4, document = 8, action = 16 };

std::uint32_t interfaceBit(std::string_view name) {
    if (name == componentInterface) return component;
    if (name == textInterface) return text;
    if (name == valueInterface) return value;
    if (name == documentInterface) return document;
    if (name == actionInterface) return action;
    return 0;
}

std::uint32_t interfacesAt(DBusMessageIter& iter) {
    std::uint32_t bits = 0;
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return 0;
    DBusMessageIter names;
    dbus_message_iter_recurse(&iter, &names);
    while (auto name = basicString(names)) {
        bits |= interfaceBit(*name);
        if (!dbus_message_iter_next(&names)) break;
    }
    return bits;
}

// What we know of one object; each part is read once per tree lifetime.
struct Node {
    bool basics = false;
    dbus_uint32_t role = ATSPI_ROLE_INVALID;
    std::string name;
    std::string description;
    std::uint64_t states = 0;
    std::uint32_t interfaces = 0;

    bool childrenKnown = false;
    std::vector<ObjectRef> children;
    bool parentKnown = false;
    std::optional<ObjectRef> parent;

    bool extentsKnown = false;
    std::optional<Rect> extents;
    bool attributesKnown = false;
    std::map<std::string, std::string> attributes;
    bool relationsKnown = false;
    std::vector<ObjectRef> labelFor;
    std::vector<ObjectRef> labelledBy;
    bool textKnown = false;
    std::optional<std::string> text;
    bool valueKnown = false;
    std::optional<double> value;
    bool uriKnown = false;
    std::optional<std::string> uri;
};

// One application's objects as read during one short stretch of time.
struct Tree {
    std::string bus;
    std::int32_t pid = 0;
    int timeoutMs = defaultTimeoutMs;
    double bornAt = -1;
    double usedAt = -1;
    bool cacheTried = false;
    std::unordered_map<std::string, Node> nodes;
};

class Element final : public AXUIElement {
public:
    Element(std::shared_ptr<Tree> tree, std::string path) : tree(std::move(tree)), path(std::move(path)) {}
    std::shared_ptr<Tree> tree;
    std::string path;
    ObjectRef ref() const { return {tree->bus, path}; }
};

const Element* element(const AXRef& ref) {
    return dynamic_cast<const Element*>(ref.get());
}

bool isNull(const ObjectRef& ref) {
    return ref.bus.empty() || ref.path.empty() || ref.path == nullPath;
}

// ---- windows through the window manager ----

thread_local unsigned long xErrors = 0;
int countXError(Display*, XErrorEvent*) {
    ++xErrors;
    return 0;
}

class WindowManager {
public:
    explicit WindowManager(X11Display& display) : display_(display) {}

    std::optional<std::int32_t> activePID() {
        try {
            return display_.use([&](Display* d) -> std::optional<std::int32_t> {
                prepare(d);
                auto active = windowProperty(d, DefaultRootWindow(d), atom(d, "_NET_ACTIVE_WINDOW"));
                if (active.empty() || active.front() == 0) return std::nullopt;
                return pidOf(d, active.front());
            });
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    std::optional<Window> activeWindow() {
        try {
            return display_.use([&](Display* d) -> std::optional<Window> {
                prepare(d);
                auto active = windowProperty(d, DefaultRootWindow(d), atom(d, "_NET_ACTIVE_WINDOW"));
                if (active.empty() || active.front() == 0) return std::nullopt;
                return active.front();
            });
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    // The top-level window of a process with the title, or its only window.
    std::optional<Window> find(std::int32_t pid, const std::string& title) {
        try {
            return display_.use([&](Display* d) -> std::optional<Window> {
                prepare(d);
                std::vector<Window> ofProcess;
                for (Window window : windowProperty(d, DefaultRootWindow(d), atom(d, "_NET_CLIENT_LIST")))
                    if (pidOf(d, window) == pid) {
                        if (nameOf(d, window) == title) return window;
                        ofProcess.push_back(window);
                    }
                if (ofProcess.size() == 1) return ofProcess.front();
                return std::nullopt;
            });
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    // The client area in root coordinates.
    std::optional<Rect> geometry(Window window) {
        try {
            return display_.use([&](Display* d) -> std::optional<Rect> {
                prepare(d);
                const auto before = xErrors;
                XWindowAttributes attributes{};
                if (!XGetWindowAttributes(d, window, &attributes)) return std::nullopt;
                int x = 0, y = 0;
                Window child = 0;
                XTranslateCoordinates(d, window, DefaultRootWindow(d), 0, 0, &x, &y, &child);
                XSync(d, False);
                if (xErrors != before) return std::nullopt;
                return Rect{double(x), double(y), double(attributes.width), double(attributes.height)};
            });
        } catch (const std::exception&) {
            return std::nullopt;
        }
    }

    bool activate(Window window) { return send(window, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0, 0, 0}); }

    // Places the client area exactly: static gravity, only the given fields.
    bool moveResize(Window window, std::optional<Point> at, std::optional<AXSize> size) {
        long flags = StaticGravity | (2L << 12);
        long x = 0, y = 0, width = 0, height = 0;
        if (at) {
            flags |= (1L << 8) | (1L << 9);
            x = static_cast<long>(at->x);
            y = static_cast<long>(at->y);
        }
        if (size) {
            flags |= (1L << 10) | (1L << 11);
            width = static_cast<long>(size->width);
            height = static_cast<long>(size->height);
        }
        return send(window, "_NET_MOVERESIZE_WINDOW", {flags, x, y, width, height});
    }

    bool iconify(Window window) {
        try {
            return display_.use([&](Display* d) {
                prepare(d);
                const bool sent = XIconifyWindow(d, window, DefaultScreen(d)) != 0;
                XSync(d, False);
                return sent;
            });
        } catch (const std::exception&) {
            return false;
        }
    }

private:
    static void prepare(Display*) {
        static std::once_flag once;
        std::call_once(once, [] {
            // Keep whatever non-fatal handler is already there; else ours, so that a window
            // closing under us is a failed call and not the end of the process.
            auto previous = XSetErrorHandler(countXError);
            if (previous) XSetErrorHandler(previous);
        });
    }

    Atom atom(Display* d, const char* name) { return XInternAtom(d, name, False); }

    std::vector<Window> windowProperty(Display* d, Window window, Atom name) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::vector<Window> windows;
        if (XGetWindowProperty(d, window, name, 0, 1 << 16, False, AnyPropertyType, &type, &format, &count, &remaining,
                               &data) == Success &&
            data && format == 32) {
            const auto* values = reinterpret_cast<const unsigned long*>(data);
            windows.assign(values, values + count);
        }
        if (data) XFree(data);
        return windows;
    }

    std::optional<std::int32_t> pidOf(Display* d, Window window) {
        auto values = windowProperty(d, window, atom(d, "_NET_WM_PID"));
        if (values.empty()) return std::nullopt;
        return static_cast<std::int32_t>(values.front());
    }

    std::string nameOf(Display* d, Window window) {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char* data = nullptr;
        std::string name;
        if (XGetWindowProperty(d, window, atom(d, "_NET_WM_NAME"), 0, 1 << 14, False, atom(d, "UTF8_STRING"), &type,
                               &format, &count, &remaining, &data) == Success &&
            data && format == 8)
            name.assign(reinterpret_cast<const char*>(data), count);
        if (data) XFree(data);
        return name;
    }

    bool send(Window window, const char* message, std::array<long, 5> data) {
        try {
            return display_.use([&](Display* d) {
                prepare(d);
                XEvent event{};
                event.xclient.type = ClientMessage;
                event.xclient.window = window;
                event.xclient.message_type = atom(d, message);
                event.xclient.format = 32;
                for (int i = 0; i < 5; ++i) event.xclient.data.l[i] = data[static_cast<std::size_t>(i)];
                const Status sent = XSendEvent(d, DefaultRootWindow(d), False,
                                               SubstructureRedirectMask | SubstructureNotifyMask, &event);
                XSync(d, False);
                return sent != 0;
            });
        } catch (const std::exception&) {
            return false;
        }
    }

    X11Display& display_;
};

} // namespace

// ---- the backend ----

struct AtspiAccessibility::Impl {
    Impl(X11Display& display, Permissions& permissions, Processes& processes, Clock& clock)
        : windows(display), permissions(permissions), processes(processes), clock(clock) {}

    WindowManager windows;
    Permissions& permissions;
    Processes& processes;
    Clock& clock;
    std::mutex mutex;
    Bus bus;
    std::map<std::string, std::int32_t> pidOfBus;

    // Forgets what a tree knew after a pause in its use, or once it is old.
    void refresh(Tree& tree) {
        const double now = clock.now();
        if (tree.bornAt >= 0 && (now - tree.usedAt > treePause || now - tree.bornAt > treeLifetime)) forget(tree);
        if (tree.bornAt < 0) tree.bornAt = now;
        tree.usedAt = now;
    }

    AXRef handle(const std::shared_ptr<Tree>& tree, const ObjectRef& ref) {
        if (isNull(ref)) return nullptr;
        if (ref.bus == tree->bus) return std::make_shared<Element>(tree, ref.path);
        auto other = std::make_shared<Tree>();
        other->bus = ref.bus;
        other->timeoutMs = tree->timeoutMs;
        auto known = pidOfBus.find(ref.bus);
        if (known != pidOfBus.end()) other->pid = known->second;
        return std::make_shared<Element>(other, ref.path);
    }

    // ---- filling nodes ----

    // Everything the application's Cache holds, in one call. Objects it leaves out, or
    // whose children it leaves out, are read one by one later.
    void loadCache(Tree& tree) {
        if (tree.cacheTried) return;
        tree.cacheTried = true;
        Message reply =
            bus.call(methodCall(tree.bus, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache", "GetItems"), tree.timeoutMs);
        DBusMessageIter iter;
        if (!firstArgument(reply.get(), iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return;
        struct Listed {
            std::string path;
            std::string parent;
            int index;
        };
        std::vector<Listed> listed;
        std::unordered_map<std::string, int> childCounts;
        DBusMessageIter items;
        dbus_message_iter_recurse(&iter, &items);
        while (dbus_message_iter_get_arg_type(&items) == DBUS_TYPE_STRUCT) {
            DBusMessageIter field;
            dbus_message_iter_recurse(&items, &field);
            auto self = refAt(field);
            dbus_message_iter_next(&field); // application
            dbus_message_iter_next(&field);
            auto parent = refAt(field);
            dbus_message_iter_next(&field);
            auto index = intAt(field);
            dbus_message_iter_next(&field);
            auto childCount = intAt(field);
            dbus_message_iter_next(&field);
            const auto interfaces = interfacesAt(field);
            dbus_message_iter_next(&field);
            auto name = basicString(field);
            dbus_message_iter_next(&field);
            std::optional<dbus_uint32_t> role;
            if (dbus_message_iter_get_arg_type(&field) == DBUS_TYPE_UINT32) {
                dbus_uint32_t value = 0;
                dbus_message_iter_get_basic(&field, &value);
                role = value;
            }
            dbus_message_iter_next(&field);
            auto description = basicString(field);
            dbus_message_iter_next(&field);
            const auto states = statesAt(field);
            if (self && self->bus == tree.bus && parent && name && role && description) {
                Node& node = tree.nodes[self->path];
                node.basics = true;
                node.role = *role;
                node.name = *name;
                node.description = *description;
                node.states = states;
                node.interfaces = interfaces;
                node.parentKnown = true;
                node.parent = isNull(*parent) ? std::nullopt : std::optional<ObjectRef>(*parent);
                if (!isNull(*parent) && parent->bus == tree.bus)
                    listed.push_back({self->path, parent->path, index.value_or(0)});
                childCounts[self->path] = childCount.value_or(-1);
            }
            dbus_message_iter_next(&items);
        }
        std::stable_sort(listed.begin(), listed.end(), [](const Listed& a, const Listed& b) {
            return a.parent != b.parent ? a.parent < b.parent : a.index < b.index;
        });
        std::unordered_map<std::string, std::vector<ObjectRef>> children;
        for (const auto& entry : listed) children[entry.parent].push_back({tree.bus, entry.path});
        for (auto& [path, kids] : children) {
            Node& node = tree.nodes[path];
            auto count = childCounts.find(path);
            // The application itself is not listed: its windows are all there is.
            const bool complete =
                count == childCounts.end() ? path == rootPath : count->second == static_cast<int>(kids.size());
            if (!complete) continue;
            node.childrenKnown = true;
            node.children = std::move(kids);
        }
        for (const auto& [path, count] : childCounts)
            if (count == 0) {
                Node& node = tree.nodes[path];
                node.childrenKnown = true;
                node.children.clear();
            }
    }

    template <class Need, class Build, class Take>
    void fill(Tree& tree, const std::vector<std::string>& paths, Need need, Build build, Take take) {
        std::vector<std::string> wanted;
        std::unordered_set<std::string> seen;
        std::vector<Message> requests;
        for (const auto& path : paths) {
            Node& node = tree.nodes[path];
            if (!need(node) || !seen.insert(path).second) continue;
            wanted.push_back(path);
            requests.push_back(build(path, node));
        }
        if (requests.empty()) return;
        auto replies = bus.callAll(requests, tree.timeoutMs);
        for (std::size_t i = 0; i < wanted.size(); ++i) take(tree.nodes[wanted[i]], replies[i].get());
    }

    void fillBasics(Tree& tree, const std::vector<std::string>& paths) {
        // Many objects at once: the Cache may answer them all in one call.
        if (paths.size() > 8) loadCache(tree);
        auto need = [](const Node& node) { return !node.basics; };
        fill(
            tree, paths, need,
            [&](const std::string& path, Node&) { return methodCall(tree.bus, path, accessibleInterface, "GetRole"); },
            [](Node& node, DBusMessage* reply) { node.role = replyUint32(reply).value_or(ATSPI_ROLE_INVALID); });
        fill(
            tree, paths, need,
            [&](const std::string& path, Node&) { return methodCall(tree.bus, path, accessibleInterface, "GetState"); },
            [](Node& node, DBusMessage* reply) {
                DBusMessageIter iter;
                if (firstArgument(reply, iter)) node.states = statesAt(iter);
            });
        // Name, description, parent and the number of children in one answer.
        fill(
            tree, paths, need,
            [&](const std::string& path, Node&) {
                auto request = methodCall(tree.bus, path, propertiesInterface, "GetAll");
                appendStrings(request.get(), {accessibleInterface});
                return request;
            },
            [&](Node& node, DBusMessage* reply) {
                node.basics = true;
                // Without an interface list, every interface is worth one try.
                node.interfaces = component | text | value | document | action;
                DBusMessageIter iter, entries;
                if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return;
                dbus_message_iter_recurse(&iter, &entries);
                while (dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY) {
                    DBusMessageIter entry, boxed;
                    dbus_message_iter_recurse(&entries, &entry);
                    const auto key = basicString(entry).value_or("");
                    dbus_message_iter_next(&entry);
                    if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_VARIANT) {
                        dbus_message_iter_recurse(&entry, &boxed);
                        if (key == "Name") node.name = basicString(boxed).value_or("");
                        if (key == "Description") node.description = basicString(boxed).value_or("");
                        if (key == "Parent") {
                            node.parentKnown = true;
                            if (auto parent = refAt(boxed); parent && !isNull(*parent)) node.parent = *parent;
                        }
                        if (key == "ChildCount" && intAt(boxed) == 0 && !node.childrenKnown) {
                            node.childrenKnown = true;
                            node.children.clear();
                        }
                    }
                    dbus_message_iter_next(&entries);
                }
            });
    }

    void fillChildren(Tree& tree, const std::vector<std::string>& paths) {
        // Leaves say so in their properties, which are read anyway.
        fillBasics(tree, paths);
        fill(
            tree, paths, [](const Node& node) { return !node.childrenKnown; },
            [&](const std::string& path, Node&) {
                return methodCall(tree.bus, path, accessibleInterface, "GetChildren");
            },
            [](Node& node, DBusMessage* reply) {
                DBusMessageIter iter;
                node.childrenKnown = true;
                if (firstArgument(reply, iter)) node.children = refsAt(iter);
            });
    }

    void fillParents(Tree& tree, const std::vector<std::string>& paths) {
        fill(
            tree, paths, [](const Node& node) { return !node.parentKnown; },
            [&](const std::string& path, Node&) {
                auto request = methodCall(tree.bus, path, propertiesInterface, "Get");
                appendStrings(request.get(), {accessibleInterface, "Parent"});
                return request;
            },
            [](Node& node, DBusMessage* reply) {
                node.parentKnown = true;
                DBusMessageIter iter, inner;
                if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) return;
                dbus_message_iter_recurse(&iter, &inner);
                if (auto parent = refAt(inner); parent && !isNull(*parent)) node.parent = *parent;
            });
    }

    void fillExtents(Tree& tree, const std::vector<std::string>& paths) {
        fillBasics(tree, paths);
        std::vector<std::string> rest;
        for (const auto& path : paths) {
            Node& node = tree.nodes[path];
            if (node.extentsKnown) continue;
            // A top-level window is where the window manager says it is.
            if (isWindowRole(node.role))
                if (auto window = windows.find(tree.pid, node.name)) {
                    node.extentsKnown = true;
                    node.extents = windows.geometry(*window);
                    continue;
                }
            rest.push_back(path);
        }
        fill(
            tree, rest, [](const Node& node) { return !node.extentsKnown; },
            [&](const std::string& path, Node&) {
                auto request = methodCall(tree.bus, path, componentInterface, "GetExtents");
                appendUint32(request.get(), ATSPI_COORD_TYPE_SCREEN);
                return request;
            },
            [](Node& node, DBusMessage* reply) {
                node.extentsKnown = true;
                DBusMessageIter iter, fields;
                if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_STRUCT) return;
                dbus_message_iter_recurse(&iter, &fields);
                int values[4] = {0, 0, 0, 0};
                for (int i = 0; i < 4; ++i) {
                    auto value = intAt(fields);
                    if (!value) return;
                    values[i] = *value;
                    dbus_message_iter_next(&fields);
                }
                // Scrolled out of a list: GTK says INT_MIN, meaning nowhere on screen.
                if (values[0] == INT_MIN || values[1] == INT_MIN) return;
                node.extents = Rect{double(values[0]), double(values[1]), double(values[2]), double(values[3])};
            });
    }

    void fillAttributes(Tree& tree, const std::vector<std::string>& paths) {
        fill(
            tree, paths, [](const Node& node) { return !node.attributesKnown; },
            [&](const std::string& path, Node&) {
                return methodCall(tree.bus, path, accessibleInterface, "GetAttributes");
            },
            [](Node& node, DBusMessage* reply) {
                node.attributesKnown = true;
                DBusMessageIter iter;
                if (firstArgument(reply, iter)) node.attributes = dictionaryAt(iter);
            });
    }

    void fillRelations(Tree& tree, const std::vector<std::string>& paths) {
        fill(
            tree, paths, [](const Node& node) { return !node.relationsKnown; },
            [&](const std::string& path, Node&) {
                return methodCall(tree.bus, path, accessibleInterface, "GetRelationSet");
            },
            [](Node& node, DBusMessage* reply) {
                node.relationsKnown = true;
                DBusMessageIter iter, relations;
                if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return;
                dbus_message_iter_recurse(&iter, &relations);
                while (dbus_message_iter_get_arg_type(&relations) == DBUS_TYPE_STRUCT) {
                    DBusMessageIter relation;
                    dbus_message_iter_recurse(&relations, &relation);
                    dbus_uint32_t type = 0;
                    if (dbus_message_iter_get_arg_type(&relation) == DBUS_TYPE_UINT32) {
                        dbus_message_iter_get_basic(&relation, &type);
                        dbus_message_iter_next(&relation);
                        auto targets = refsAt(relation);
                        if (type == ATSPI_RELATION_LABEL_FOR) node.labelFor = std::move(targets);
                        if (type == ATSPI_RELATION_LABELLED_BY) node.labelledBy = std::move(targets);
                    }
                    dbus_message_iter_next(&relations);
                }
            });
    }

    void fillText(Tree& tree, const std::vector<std::string>& paths) {
        fill(
            tree, paths, [](const Node& node) { return !node.textKnown && (node.interfaces & text); },
            [&](const std::string& path, Node&) {
                auto request = methodCall(tree.bus, path, textInterface, "GetText");
                appendInts(request.get(), {0, -1});
                return request;
            },
            [](Node& node, DBusMessage* reply) {
                node.textKnown = true;
                node.text = replyString(reply);
            });
    }

    void fillValue(Tree& tree, const std::vector<std::string>& paths) {
        fill(
            tree, paths, [](const Node& node) { return !node.valueKnown && (node.interfaces & value); },
            [&](const std::string& path, Node&) {
                auto request = methodCall(tree.bus, path, propertiesInterface, "Get");
                appendStrings(request.get(), {valueInterface, "CurrentValue"});
                return request;
            },
            [](Node& node, DBusMessage* reply) {
                node.valueKnown = true;
                DBusMessageIter iter, inner;
                if (!firstArgument(reply, iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_VARIANT) return;
                dbus_message_iter_recurse(&iter, &inner);
                if (dbus_message_iter_get_arg_type(&inner) != DBUS_TYPE_DOUBLE) return;
                double current = 0;
                dbus_message_iter_get_basic(&inner, &current);
                node.value = current;
            });
    }

    void fillURI(Tree& tree, const std::vector<std::string>& paths) {
        fill(
            tree, paths, [](const Node& node) { return !node.uriKnown && (node.interfaces & document); },
            [&](const std::string& path, Node&) {
                auto request = methodCall(tree.bus, path, documentInterface, "GetAttributeValue");
                appendStrings(request.get(), {"URI"});
                return request;
            },
            [](Node& node, DBusMessage* reply) {
                node.uriKnown = true;
                node.uri = replyString(reply);
            });
    }

    // ---- answering ----

    std::vector<AXRef> handles(const std::shared_ptr<Tree>& tree, const std::vector<ObjectRef>& refs) {
        std::vector<AXRef> result;
        for (const auto& ref : refs)
            if (auto made = handle(tree, ref)) result.push_back(std::move(made));
        return result;
    }

    std::vector<std::string> windowPaths(Tree& tree) {
        fillChildren(tree, {rootPath});
        std::vector<std::string> paths;
        for (const auto& child : tree.nodes[rootPath].children)
            if (child.bus == tree.bus) paths.push_back(child.path);
        fillBasics(tree, paths);
        std::vector<std::string> frames;
        for (const auto& path : paths)
            if (isWindowRole(tree.nodes[path].role)) frames.push_back(path);
        return frames;
    }

    std::optional<std::string> activeWindowPath(Tree& tree) {
        const auto frames = windowPaths(tree);
        for (const auto& path : frames)
            if (hasState(tree.nodes[path].states, ATSPI_STATE_ACTIVE)) return path;
        // Some toolkits do not mark the active frame: ask the window manager.
        if (auto active = windows.activeWindow())
            for (const auto& path : frames)
                if (windows.find(tree.pid, tree.nodes[path].name) == active) return path;
        return std::nullopt;
    }

    // The innermost focused object under the active window.
    AXRef focusedElement(const std::shared_ptr<Tree>& tree) {
        auto active = activeWindowPath(*tree);
        if (!active) return nullptr;
        std::optional<std::string> focused;
        std::vector<std::string> level{*active};
        for (int depth = 0; depth <= 64 && !level.empty(); ++depth) {
            fillChildren(*tree, level);
            fillBasics(*tree, level);
            std::vector<std::string> next;
            for (const auto& path : level) {
                const Node& node = tree->nodes[path];
                if (hasState(node.states, ATSPI_STATE_FOCUSED)) focused = path;
                for (const auto& child : node.children)
                    if (child.bus == tree->bus) next.push_back(child.path);
            }
            level = std::move(next);
        }
        if (!focused) return nullptr;
        return std::make_shared<Element>(tree, *focused);
    }

    std::optional<std::string> title(Tree& tree, const std::string& path) {
        Node& node = tree.nodes[path];
        if (!node.name.empty() || !isTextRole(node.role)) return node.name;
        // A GTK field has no name of its own: its label says it through a relation.
        fillRelations(tree, {path});
        for (const auto& label : tree.nodes[path].labelledBy) {
            if (label.bus != tree.bus) continue;
            fillBasics(tree, {label.path});
            if (!tree.nodes[label.path].name.empty()) return tree.nodes[label.path].name;
        }
        return node.name;
    }

    std::vector<AXValue> read(const std::vector<const Element*>& elements, const std::string& attribute) {
        std::vector<AXValue> values(elements.size());
        // One tree at a time, each attribute's calls for that tree in one pipeline.
        std::map<Tree*, std::vector<std::size_t>> byTree;
        for (std::size_t i = 0; i < elements.size(); ++i)
            if (elements[i] && !elements[i]->tree->bus.empty()) byTree[elements[i]->tree.get()].push_back(i);
        for (auto& [treePointer, indexes] : byTree) {
            const std::shared_ptr<Tree> tree = elements[indexes.front()]->tree;
            refresh(*tree);
            std::vector<std::string> paths;
            for (std::size_t i : indexes) paths.push_back(elements[i]->path);
            prefetch(*tree, paths, attribute);
            for (std::size_t i : indexes) values[i] = answer(tree, elements[i]->path, attribute);
            tree->usedAt = clock.now();
        }
        return values;
    }

    void prefetch(Tree& tree, const std::vector<std::string>& paths, const std::string& attribute) {
        if (attribute == ax::children) return fillChildren(tree, paths);
        if (attribute == ax::parent) return fillParents(tree, paths);
        fillBasics(tree, paths);
        if (attribute == ax::position || attribute == ax::size) return fillExtents(tree, paths);
        if (attribute == ax::identifier) return fillAttributes(tree, paths);
        if (attribute == ax::placeholderValue) {
            // A placeholder belongs to a text field.
            std::vector<std::string> fields;
            for (const auto& path : paths)
                if (isTextRole(tree.nodes[path].role)) fields.push_back(path);
            return fillAttributes(tree, fields);
        }
        if (attribute == ax::servesAsTitleForUIElements) {
            std::vector<std::string> labels;
            for (const auto& path : paths)
                if (canTitle(tree.nodes[path].role)) labels.push_back(path);
            return fillRelations(tree, labels);
        }
        if (attribute == ax::value) {
            std::vector<std::string> texts, ranges;
            for (const auto& path : paths) {
                const auto role = tree.nodes[path].role;
                if (isTextRole(role)) texts.push_back(path);
                if (isRangeRole(role)) ranges.push_back(path);
            }
            fillText(tree, texts);
            return fillValue(tree, ranges);
        }
        if (attribute == ax::url) return fillURI(tree, paths);
        if (attribute == ax::title) {
            // Nameless fields are named by their labels: read those relations together.
            std::vector<std::string> fields;
            for (const auto& path : paths)
                if (tree.nodes[path].name.empty() && isTextRole(tree.nodes[path].role)) fields.push_back(path);
            fillRelations(tree, fields);
            std::vector<std::string> labels;
            for (const auto& path : fields)
                for (const auto& label : tree.nodes[path].labelledBy)
                    if (label.bus == tree.bus) labels.push_back(label.path);
            fillBasics(tree, labels);
        }
    }

    AXValue answer(const std::shared_ptr<Tree>& tree, const std::string& path, const std::string& attribute) {
        Node& node = tree->nodes[path];
        if (attribute == ax::children) return handles(tree, node.children);
        if (attribute == ax::parent) {
            if (!node.parent) return {};
            return handle(tree, *node.parent);
        }
        if (!node.basics) return {};
        if (attribute == ax::role) return std::string(roleName(node.role));
        if (attribute == ax::title) return title(*tree, path).value_or("");
        if (attribute == ax::description) return node.description;
        if (attribute == ax::enabled)
            return hasState(node.states, ATSPI_STATE_ENABLED) || hasState(node.states, ATSPI_STATE_SENSITIVE);
        if (attribute == ax::position) {
            if (!node.extents) return {};
            return Point{node.extents->x, node.extents->y};
        }
        if (attribute == ax::size) {
            if (!node.extents) return {};
            return AXSize{node.extents->width, node.extents->height};
        }
        if (attribute == ax::value) {
            // A pressed toggle button says "pressed"; switches and check boxes "checked".
            if (isToggleRole(node.role))
                return hasState(node.states, ATSPI_STATE_CHECKED) || hasState(node.states, ATSPI_STATE_PRESSED) ? 1.0
                                                                                                                : 0.0;
            if (isTextRole(node.role) && node.text) return *node.text;
            if (isRangeRole(node.role) && node.value) return *node.value;
            return {};
        }
        if (attribute == ax::identifier) return attributeNamed(node, {"id"});
        if (attribute == ax::placeholderValue) {
            if (!isTextRole(node.role)) return {};
            return attributeNamed(node, {"placeholder-text", "placeholder"});
        }
        if (attribute == ax::servesAsTitleForUIElements) {
            if (!node.relationsKnown || node.labelFor.empty()) return {};
            return handles(tree, node.labelFor);
        }
        if (attribute == ax::url) {
            if (!node.uri || node.uri->empty()) return {};
            return AXURL{*node.uri};
        }
        if (attribute == ax::minimized) {
            if (!isWindowRole(node.role)) return {};
            return hasState(node.states, ATSPI_STATE_ICONIFIED);
        }
        if (attribute == ax::main) {
            if (!isWindowRole(node.role)) return {};
            return hasState(node.states, ATSPI_STATE_ACTIVE);
        }
        if (attribute == ax::windows) {
            if (node.role != ATSPI_ROLE_APPLICATION) return {};
            std::vector<ObjectRef> refs;
            for (const auto& window : windowPaths(*tree)) refs.push_back({tree->bus, window});
            return handles(tree, refs);
        }
        if (attribute == ax::focusedWindow) {
            if (node.role != ATSPI_ROLE_APPLICATION) return {};
            auto active = activeWindowPath(*tree);
            if (!active) return {};
            return AXRef(std::make_shared<Element>(tree, *active));
        }
        if (attribute == ax::focusedUIElement) {
            if (node.role != ATSPI_ROLE_APPLICATION) return {};
            if (auto focused = focusedElement(tree)) return focused;
            return {};
        }
        return {};
    }

    static AXValue attributeNamed(const Node& node, std::initializer_list<const char*> names) {
        for (const char* name : names)
            if (auto it = node.attributes.find(name); it != node.attributes.end() && !it->second.empty())
                return it->second;
        return {};
    }

    std::optional<Window> windowOf(const Element& element) {
        Tree& tree = *element.tree;
        refresh(tree);
        fillBasics(tree, {element.path});
        const Node& node = tree.nodes[element.path];
        if (!isWindowRole(node.role)) return std::nullopt;
        return windows.find(tree.pid, node.name);
    }

    // Waits, briefly, until the window manager has done what was asked.
    void settle(Window window, const std::function<bool(const Rect&)>& done) {
        for (int i = 0; i < 50; ++i) {
            if (auto frame = windows.geometry(window); frame && done(*frame)) return;
            clock.sleep(0.01);
        }
    }

    void forget(Tree& tree) {
        tree.nodes.clear();
        tree.cacheTried = false;
        tree.bornAt = -1;
    }

    std::shared_ptr<Tree> applicationTree(std::int32_t pid) {
        auto tree = std::make_shared<Tree>();
        tree->pid = pid;
        Message reply = bus.call(methodCall("org.a11y.atspi.Registry", rootPath, accessibleInterface, "GetChildren"),
                                 defaultTimeoutMs);
        DBusMessageIter iter;
        if (!firstArgument(reply.get(), iter)) return tree;
        const auto apps = refsAt(iter);
        std::vector<std::string> unknown;
        std::vector<Message> requests;
        for (const auto& app : apps)
            if (!pidOfBus.contains(app.bus)) {
                unknown.push_back(app.bus);
                auto request =
                    Message(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                         "org.freedesktop.DBus", "GetConnectionUnixProcessID"));
                appendStrings(request.get(), {app.bus.c_str()});
                requests.push_back(std::move(request));
            }
        auto replies = bus.callAll(requests, defaultTimeoutMs);
        for (std::size_t i = 0; i < unknown.size(); ++i)
            if (auto found = replyUint32(replies[i].get())) pidOfBus[unknown[i]] = static_cast<std::int32_t>(*found);
        for (const auto& app : apps)
            if (auto it = pidOfBus.find(app.bus); it != pidOfBus.end() && it->second == pid) {
                tree->bus = app.bus;
                break;
            }
        return tree;
    }
};

AtspiAccessibility::AtspiAccessibility(X11Display& display, Permissions& permissions, Processes& processes,
                                       Clock& clock)
    : impl_(std::make_unique<Impl>(display, permissions, processes, clock)) {}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isProcessTrusted() {
    return impl_->permissions.accessibilityTrusted(false);
}

std::optional<std::int32_t> AtspiAccessibility::frontmostApplicationPID() {
    return impl_->windows.activePID();
}

std::optional<std::string> AtspiAccessibility::bundleIdentifier(std::int32_t pid) {
    // Linux has no bundles: a process running our own executable is another copy of us.
    auto& processes = impl_->processes;
    const auto own = processes.bundleIdentifier();
    if (!own) return std::nullopt;
    const auto theirs = processes.executablePath(pid);
    if (!theirs || theirs != processes.executablePath(processes.currentPID())) return std::nullopt;
    return own;
}

AXRef AtspiAccessibility::application(std::int32_t pid) {
    std::lock_guard lock(impl_->mutex);
    return std::make_shared<Element>(impl_->applicationTree(pid), rootPath);
}

void AtspiAccessibility::setMessagingTimeout(const AXRef& ref, double seconds) {
    const Element* target = element(ref);
    if (!target || !(seconds > 0)) return;
    std::lock_guard lock(impl_->mutex);
    target->tree->timeoutMs = static_cast<int>(std::min(seconds, 600.0) * 1000);
}

AXValue AtspiAccessibility::copyAttributeValue(const AXRef& ref, const std::string& attribute) {
    std::lock_guard lock(impl_->mutex);
    return impl_->read({element(ref)}, attribute).front();
}

std::vector<AXValue> AtspiAccessibility::copyAttributeValues(std::span<const AXRef> refs,
                                                             const std::string& attribute) {
    std::vector<const Element*> elements;
    elements.reserve(refs.size());
    for (const auto& ref : refs) elements.push_back(element(ref));
    std::lock_guard lock(impl_->mutex);
    return impl_->read(elements, attribute);
}

bool AtspiAccessibility::setAttributeValue(const AXRef& ref, const std::string& attribute, const AXValue& value) {
    const Element* target = element(ref);
    if (!target) return false;
    std::lock_guard lock(impl_->mutex);
    Impl& impl = *impl_;
    if (attribute == ax::focusedWindow) {
        const Element* window = element(std::get_if<AXRef>(&value) ? std::get<AXRef>(value) : nullptr);
        if (!window) return false;
        auto x = impl.windowOf(*window);
        return x && impl.windows.activate(*x);
    }
    auto window = impl.windowOf(*target);
    if (!window) return false;
    bool done = false;
    if (attribute == ax::position) {
        const auto* at = std::get_if<Point>(&value);
        if (!at) return false;
        done = impl.windows.moveResize(*window, *at, std::nullopt);
        if (done)
            impl.settle(*window, [&](const Rect& frame) {
                return std::abs(frame.x - at->x) <= 1 && std::abs(frame.y - at->y) <= 1;
            });
    } else if (attribute == ax::size) {
        const auto* size = std::get_if<AXSize>(&value);
        if (!size) return false;
        done = impl.windows.moveResize(*window, std::nullopt, *size);
        if (done)
            impl.settle(*window, [&](const Rect& frame) {
                return std::abs(frame.width - size->width) <= 1 && std::abs(frame.height - size->height) <= 1;
            });
    } else if (attribute == ax::minimized) {
        const auto* minimized = std::get_if<bool>(&value);
        if (!minimized) return false;
        done = *minimized ? impl.windows.iconify(*window) : impl.windows.activate(*window);
    } else if (attribute == ax::main) {
        const auto* main = std::get_if<bool>(&value);
        done = main && *main && impl.windows.activate(*window);
    }
    // What was read about the window is out of date now.
    if (done) impl.forget(*target->tree);
    return done;
}

AXRef AtspiAccessibility::copyElementAtPosition(const AXRef& applicationRef, Point at) {
    const Element* app = element(applicationRef);
    if (!app || app->tree->bus.empty()) return nullptr;
    std::lock_guard lock(impl_->mutex);
    Impl& impl = *impl_;
    const auto tree = app->tree;
    impl.refresh(*tree);
    auto frames = impl.windowPaths(*tree);
    impl.fillExtents(*tree, frames);
    // The active window first: it is the one in front.
    std::stable_partition(frames.begin(), frames.end(), [&](const std::string& path) {
        return hasState(tree->nodes[path].states, ATSPI_STATE_ACTIVE);
    });
    const int x = static_cast<int>(at.x), y = static_cast<int>(at.y);
    for (const auto& frame : frames) {
        const Node& node = tree->nodes[frame];
        if (!node.extents || !hasState(node.states, ATSPI_STATE_SHOWING)) continue;
        const Rect& r = *node.extents;
        if (at.x < r.x || at.y < r.y || at.x >= r.x + r.width || at.y >= r.y + r.height) continue;
        // Some toolkits answer one level at a time: keep asking the answer.
        ObjectRef current{tree->bus, frame};
        for (int depth = 0; depth < 64; ++depth) {
            auto request = methodCall(current.bus, current.path, componentInterface, "GetAccessibleAtPoint");
            appendInts(request.get(), {x, y});
            appendUint32(request.get(), ATSPI_COORD_TYPE_SCREEN);
            Message reply = impl.bus.call(std::move(request), tree->timeoutMs);
            DBusMessageIter iter;
            if (!firstArgument(reply.get(), iter)) break;
            auto inner = refAt(iter);
            if (!inner || isNull(*inner) || *inner == current) break;
            current = *inner;
        }
        return impl.handle(tree, current);
    }
    return nullptr;
}

bool AtspiAccessibility::performAction(const AXRef& ref, const std::string& action) {
    const Element* target = element(ref);
    if (!target) return false;
    std::lock_guard lock(impl_->mutex);
    Impl& impl = *impl_;
    if (action == ax::raiseAction) {
        auto window = impl.windowOf(*target);
        const bool done = window && impl.windows.activate(*window);
        if (done) impl.forget(*target->tree);
        return done;
    }
    if (action == ax::pressAction) {
        auto request = methodCall(target->tree->bus, target->path, actionInterface, "DoAction");
        appendInts(request.get(), {0});
        Message reply = impl.bus.call(std::move(request), target->tree->timeoutMs);
        DBusMessageIter iter;
        if (!firstArgument(reply.get(), iter) || dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_BOOLEAN)
            return false;
        dbus_bool_t ok = FALSE;
        dbus_message_iter_get_basic(&iter, &ok);
        return ok;
    }
    return false;
}

} // namespace vanto
