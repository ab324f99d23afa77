#include "platform/linux/AtspiAccessibility.h"

#include "platform/linux/AtspiBus.h"
#include "platform/linux/AtspiRoles.h"
#include "platform/linux/AtspiTree.h"
#include "platform/linux/AtspiWindows.h"

#include <atspi/atspi-constants.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <mutex>

namespace vanto {

using namespace atspi;

struct AtspiAccessibility::Impl {
    Impl(X11Display& display, Permissions& permissions, Processes& processes, Clock& clock)
        : windows(display), permissions(permissions), processes(processes), clock(clock) {}

    WindowManager windows;
    Permissions& permissions;
    Processes& processes;
    Clock& clock;
    std::mutex mutex;
    Bus bus;
    // Unique bus names are never reused while the bus lives: what a name's process is
    // stays true.
    std::map<std::string, std::int32_t> pidOfBus;
    std::map<std::string, bool> answersWhole;

    Reading reading(const std::shared_ptr<App>& app) { return Reading(bus, windows, pidOfBus, answersWhole, app); }

    // Reads, for all the objects at once, the parts an attribute is made of.
    void fetch(Reading& reading, const std::vector<ObjectRef>& refs, const std::string& attribute) {
        if (attribute == ax::children) return reading.fillChildren(refs);
        if (attribute == ax::parent) return reading.fillParents(refs);
        reading.fillBasics(refs);
        auto withRole = [&](bool (*test)(std::uint32_t)) {
            std::vector<ObjectRef> chosen;
            for (const auto& ref : refs)
                if (test(reading.node(ref).role)) chosen.push_back(ref);
            return chosen;
        };
        if (attribute == ax::position || attribute == ax::size) return reading.fillExtents(refs);
        if (attribute == ax::identifier) return reading.fillAttributes(refs);
        if (attribute == ax::placeholderValue) return reading.fillAttributes(withRole(isTextRole));
        if (attribute == ax::servesAsTitleForUIElements) return reading.fillRelations(withRole(canTitle));
        if (attribute == ax::titleUIElements) return reading.fillRelations(withRole(isTextRole));
        if (attribute == ax::url) return reading.fillURI(refs);
        if (attribute == ax::value) {
            reading.fillText(withRole(isTextRole));
            return reading.fillValue(withRole(isRangeRole));
        }
    }

    AXValue answer(Reading& reading, const Element& element, const std::string& attribute) {
        const Node& node = reading.node(element.ref());
        if (attribute == ax::children) return reading.handles(node.children);
        if (attribute == ax::parent) return node.parent ? reading.handle(*node.parent) : AXRef();
        if (!node.basics) return {};
        const auto flags = stateFlags(node.states);
        if (attribute == ax::role) return std::string(roleName(node.role));
        if (attribute == ax::subrole) return std::string(subroleName(node.role));
        if (attribute == ax::title) return node.name;
        if (attribute == ax::description) return node.description;
        if (attribute == ax::enabled) return flags.enabled;
        if (attribute == ax::focused) return flags.focused;
        if (attribute == ax::selected) return flags.selected;
        if (attribute == ax::position) {
            if (!node.extents) return {};
            return Point{node.extents->x, node.extents->y};
        }
        if (attribute == ax::size) {
            if (!node.extents) return {};
            return AXSize{node.extents->width, node.extents->height};
        }
        if (attribute == ax::value) return reading.value(node);
        if (attribute == ax::identifier) return nonEmpty(Reading::attributeNamed(node, {"id"}));
        if (attribute == ax::placeholderValue) return nonEmpty(reading.placeholder(node));
        if (attribute == ax::servesAsTitleForUIElements) {
            if (node.labelFor.empty()) return {};
            return reading.handles(node.labelFor);
        }
        if (attribute == ax::titleUIElements) {
            if (node.labelledBy.empty()) return {};
            return reading.handles(node.labelledBy);
        }
        if (attribute == ax::url) {
            if (!node.uri || node.uri->empty()) return {};
            return AXURL{*node.uri};
        }
        if (attribute == ax::minimized) {
            if (!isWindowRole(node.role)) return {};
            return flags.minimized;
        }
        if (attribute == ax::main) {
            if (!isWindowRole(node.role)) return {};
            return flags.active;
        }
        if (node.role != ATSPI_ROLE_APPLICATION) return {};
        if (attribute == ax::windows) {
            std::vector<ObjectRef> refs;
            for (const auto& window : windowPaths(reading, *element.app)) refs.push_back({element.app->bus, window});
            return reading.handles(refs);
        }
        if (attribute == ax::focusedWindow) {
            auto active = activeWindowPath(reading, *element.app);
            if (!active) return {};
            return reading.handle({element.app->bus, *active});
        }
        if (attribute == ax::focusedUIElement) {
            if (auto focused = focusedElement(reading, *element.app)) return focused;
            return {};
        }
        return {};
    }

    static AXValue nonEmpty(std::string text) {
        if (text.empty()) return {};
        return text;
    }

    std::vector<AXValue> read(const std::vector<const Element*>& elements, const std::string& attribute) {
        std::vector<AXValue> values(elements.size());
        // One application at a time, each one's calls in one pipeline.
        std::map<const App*, std::vector<std::size_t>> byApp;
        for (std::size_t i = 0; i < elements.size(); ++i)
            if (elements[i] && !elements[i]->app->bus.empty()) byApp[elements[i]->app.get()].push_back(i);
        for (auto& [app, indexes] : byApp) {
            Reading now = reading(elements[indexes.front()]->app);
            std::vector<ObjectRef> refs;
            for (std::size_t i : indexes) refs.push_back(elements[i]->ref());
            fetch(now, refs, attribute);
            for (std::size_t i : indexes) values[i] = answer(now, *elements[i], attribute);
        }
        return values;
    }

    std::vector<std::string> windowPaths(Reading& reading, const App& app) {
        const ObjectRef root{app.bus, rootPath};
        reading.fillChildren({root});
        std::vector<ObjectRef> children;
        for (const auto& child : reading.node(root).children)
            if (child.bus == app.bus) children.push_back(child);
        reading.fillBasics(children);
        std::vector<std::string> frames;
        for (const auto& child : children)
            if (isWindowRole(reading.node(child).role)) frames.push_back(child.path);
        return frames;
    }

    std::optional<std::string> activeWindowPath(Reading& reading, const App& app) {
        const auto frames = windowPaths(reading, app);
        for (const auto& path : frames)
            if (stateFlags(reading.node({app.bus, path}).states).active) return path;
        // Some toolkits do not mark the active frame: ask the window manager.
        if (auto active = windows.activeWindow())
            for (const auto& path : frames)
                if (windows.find(app.pid, reading.node({app.bus, path}).name) == active) return path;
        return std::nullopt;
    }

    // The innermost focused object under the active window.
    AXRef focusedElement(Reading& reading, const App& app) {
        auto active = activeWindowPath(reading, app);
        if (!active) return nullptr;
        std::optional<ObjectRef> focused;
        std::vector<ObjectRef> level{{app.bus, *active}};
        for (int depth = 0; depth <= 64 && !level.empty(); ++depth) {
            reading.fillChildren(level);
            std::vector<ObjectRef> next;
            for (const auto& ref : level) {
                const Node& node = reading.node(ref);
                if (stateFlags(node.states).focused) focused = ref;
                for (const auto& child : node.children)
                    if (child.bus == app.bus) next.push_back(child);
            }
            level = std::move(next);
        }
        if (!focused) return nullptr;
        return reading.handle(*focused);
    }

    std::optional<XWindow> windowOf(const Element& element) {
        Reading now = reading(element.app);
        now.fillBasics({element.ref()});
        const Node& node = now.node(element.ref());
        if (!isWindowRole(node.role)) return std::nullopt;
        return windows.find(element.app->pid, node.name);
    }

    // Waits, briefly, until the window manager has done what was asked.
    void settle(XWindow window, const std::function<bool(const Rect&)>& done) {
        for (int i = 0; i < 50; ++i) {
            if (auto frame = windows.geometry(window); frame && done(*frame)) return;
            clock.sleep(0.01);
        }
    }

    std::shared_ptr<App> applicationOf(std::int32_t pid) {
        auto app = std::make_shared<App>();
        app->pid = pid;
        Message reply = bus.call(methodCall("org.a11y.atspi.Registry", rootPath, accessibleInterface, "GetChildren"),
                                 defaultTimeoutMs);
        DBusMessageIter iter;
        if (!firstArgument(reply.get(), iter)) return app;
        const auto apps = refsAt(iter);
        std::vector<std::string> unknown;
        std::vector<Message> requests;
        for (const auto& listed : apps)
            if (!pidOfBus.contains(listed.bus)) {
                unknown.push_back(listed.bus);
                auto request =
                    Message(dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                         "org.freedesktop.DBus", "GetConnectionUnixProcessID"));
                appendStrings(request.get(), {listed.bus.c_str()});
                requests.push_back(std::move(request));
            }
        auto replies = bus.callAll(requests, defaultTimeoutMs);
        for (std::size_t i = 0; i < unknown.size(); ++i)
            if (auto found = replyUint32(replies[i].get())) pidOfBus[unknown[i]] = static_cast<std::int32_t>(*found);
        for (const auto& listed : apps)
            if (auto it = pidOfBus.find(listed.bus); it != pidOfBus.end() && it->second == pid) {
                app->bus = listed.bus;
                break;
            }
        return app;
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
    auto& processes = impl_->processes;
    const auto own = processes.bundleIdentifier();
    const auto executable = processes.executablePath(pid);
    const bool ours =
        executable && !executable->empty() && executable == processes.executablePath(processes.currentPID());
    // A copy of us run from our AppImage answers with the image's identifier rather than
    // its window's class: it needs no window (the control loop has none), and it is the
    // identifier our own process answers with.
    if (ours && own) return own;
    // Any other application is known by its windows' class (WM_CLASS "Chromium",
    // "Gedit"): the same for every window, every profile and every start of the
    // application, where the instance half and the title change.
    auto windowClass = impl_->windows.className(pid);
    // Our own identifier belongs to this program only: a stranger whose class happens to
    // spell it gets none rather than being taken for us.
    if (windowClass && own && *windowClass == *own && !ours) return std::nullopt;
    return windowClass;
}

AXRef AtspiAccessibility::application(std::int32_t pid) {
    std::lock_guard lock(impl_->mutex);
    return std::make_shared<Element>(impl_->applicationOf(pid), rootPath);
}

void AtspiAccessibility::setMessagingTimeout(const AXRef& ref, double seconds) {
    const Element* target = element(ref);
    if (!target || !(seconds > 0)) return;
    std::lock_guard lock(impl_->mutex);
    target->app->timeoutMs = static_cast<int>(std::min(seconds, 600.0) * 1000);
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
    return done;
}

std::vector<AXNodeRecord> AtspiAccessibility::snapshot(const AXRef& root, AXTreeBounds bounds) {
    const Element* top = element(root);
    if (!top || top->app->bus.empty()) return {};
    std::lock_guard lock(impl_->mutex);
    return impl_->reading(top->app).snapshot(top->ref(), bounds);
}

AXRef AtspiAccessibility::copyElementAtPosition(const AXRef& applicationRef, Point at) {
    const Element* app = element(applicationRef);
    if (!app || app->app->bus.empty()) return nullptr;
    std::lock_guard lock(impl_->mutex);
    Impl& impl = *impl_;
    Reading reading = impl.reading(app->app);
    const std::string& bus = app->app->bus;
    auto frames = impl.windowPaths(reading, *app->app);
    std::vector<ObjectRef> refs;
    for (const auto& path : frames) refs.push_back({bus, path});
    reading.fillExtents(refs);
    // The active window first: it is the one in front.
    std::stable_partition(frames.begin(), frames.end(), [&](const std::string& path) {
        return stateFlags(reading.node({bus, path}).states).active;
    });
    const int x = static_cast<int>(at.x), y = static_cast<int>(at.y);
    for (const auto& frame : frames) {
        const Node& node = reading.node({bus, frame});
        if (!node.extents || !stateFlags(node.states).showing) continue;
        const Rect& r = *node.extents;
        if (at.x < r.x || at.y < r.y || at.x >= r.x + r.width || at.y >= r.y + r.height) continue;
        // Some toolkits answer one level at a time: keep asking the answer.
        ObjectRef current{bus, frame};
        for (int depth = 0; depth < 64; ++depth) {
            auto request = methodCall(current.bus, current.path, componentInterface, "GetAccessibleAtPoint");
            appendInts(request.get(), {x, y});
            appendUint32(request.get(), ATSPI_COORD_TYPE_SCREEN);
            Message reply = impl.bus.call(std::move(request), app->app->timeoutMs);
            DBusMessageIter iter;
            if (!firstArgument(reply.get(), iter)) break;
            auto inner = refAt(iter);
            if (!inner || isNull(*inner) || *inner == current) break;
            current = *inner;
        }
        return reading.handle(current);
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
        return window && impl.windows.activate(*window);
    }
    if (action == ax::pressAction) {
        auto request = methodCall(target->app->bus, target->path, actionInterface, "DoAction");
        appendInts(request.get(), {0});
        Message reply = impl.bus.call(std::move(request), target->app->timeoutMs);
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
