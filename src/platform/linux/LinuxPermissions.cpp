#include "platform/linux/LinuxPermissions.h"

#include "platform/linux/X11Connection.h"

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>

namespace vanto {
namespace {

constexpr const char* a11yBusName = "org.a11y.Bus";
constexpr const char* a11yBusPath = "/org/a11y/bus";
constexpr int callTimeoutMs = 2000;
constexpr std::chrono::milliseconds connectTimeout{2000};

struct ErrorFree {
    void operator()(GError* error) const { g_error_free(error); }
};
struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct ConnectionClose {
    void operator()(GDBusConnection* bus) const {
        g_dbus_connection_close_sync(bus, nullptr, nullptr);
        g_object_unref(bus);
    }
};
struct GFree {
    void operator()(gchar* text) const { g_free(text); }
};

using ErrorPtr = std::unique_ptr<GError, ErrorFree>;
using VariantPtr = std::unique_ptr<GVariant, VariantUnref>;
using BusPtr = std::unique_ptr<GDBusConnection, ConnectionClose>;

// The session bus's address, found the way D-Bus clients find it, but without
// autolaunching a fresh bus just to answer a question.
std::optional<std::string> sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return std::string(address);
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime) return std::nullopt;
    const std::filesystem::path socket = std::filesystem::path(runtime) / "bus";
    std::error_code error;
    if (!std::filesystem::is_socket(socket, error)) return std::nullopt;
    std::unique_ptr<gchar, GFree> escaped(g_dbus_address_escape_value(socket.c_str()));
    return "unix:path=" + std::string(escaped.get());
}

// Cancels a blocking GIO operation that has no time-out of its own once the limit passes.
class Watchdog {
public:
    Watchdog(GCancellable* cancellable, std::chrono::milliseconds limit)
        : thread_([cancellable, limit](std::stop_token stop) {
              std::mutex mutex;
              std::condition_variable_any wake;
              std::unique_lock lock(mutex);
              wake.wait_for(lock, stop, limit, [] { return false; });
              if (!stop.stop_requested()) g_cancellable_cancel(cancellable);
          }) {}

private:
    std::jthread thread_;
};

BusPtr connectSessionBus() {
    const auto address = sessionBusAddress();
    if (!address) return nullptr;
    std::unique_ptr<GCancellable, ObjectUnref> cancellable(g_cancellable_new());
    GError* raw = nullptr;
    GDBusConnection* bus = nullptr;
    {
        // Connecting and authenticating wait for the bus without a time-out of their own.
        Watchdog watchdog(cancellable.get(), connectTimeout);
        bus = g_dbus_connection_new_for_address_sync(
            address->c_str(),
            static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                              G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
            nullptr, cancellable.get(), &raw);
    }
    ErrorPtr error(raw);
    return BusPtr(bus);
}

// Calls a method of the accessibility bus's object; parameters, when floating, are taken.
VariantPtr callA11yBus(GDBusConnection* bus, const char* interface, const char* method, GVariant* parameters,
                       const GVariantType* replyType, GDBusCallFlags flags) {
    GError* raw = nullptr;
    VariantPtr reply(g_dbus_connection_call_sync(bus, a11yBusName, a11yBusPath, interface, method, parameters,
                                                 replyType, flags, callTimeoutMs, nullptr, &raw));
    ErrorPtr error(raw);
    return reply;
}

} // namespace

bool LinuxPermissions::accessibilityTrusted(bool prompt) {
    const BusPtr bus = connectSessionBus();
    if (!bus) return false;
    // A plain question must not start the accessibility bus; asking with a prompt may,
    // as the desktop would when a person turns assistive technologies on.
    const GDBusCallFlags flags = prompt ? G_DBUS_CALL_FLAGS_NONE : G_DBUS_CALL_FLAGS_NO_AUTO_START;
    if (prompt) {
        // Linux has no consent dialog for this: turning the accessibility switch on is
        // what granting amounts to.
        callA11yBus(bus.get(), "org.freedesktop.DBus.Properties", "Set",
                    g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)), nullptr,
                    flags);
    }
    if (!callA11yBus(bus.get(), "org.a11y.Bus", "GetAddress", nullptr, G_VARIANT_TYPE("(s)"), flags)) return false;
    const VariantPtr enabled =
        callA11yBus(bus.get(), "org.freedesktop.DBus.Properties", "Get",
                    g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"), flags);
    if (!enabled) return false;
    GVariant* boxed = nullptr;
    g_variant_get(enabled.get(), "(v)", &boxed);
    const VariantPtr value(boxed);
    return g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value.get());
}

bool LinuxPermissions::screenCapturePreflight() {
    return display_.available();
}

// X11 lets any client of the display read the screen, so there is nothing to ask.
bool LinuxPermissions::requestScreenCapture() {
    return screenCapturePreflight();
}

} // namespace vanto
