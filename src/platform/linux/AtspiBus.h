#pragma once

#include <dbus/dbus.h>

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The AT-SPI bus by hand, with libdbus: it costs a fraction of GDBus per message, and a
// snapshot sends thousands. Messages, one private connection that pipelines calls, and
// readers for the shapes of reply AT-SPI sends.
namespace vanto::atspi {

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

inline constexpr const char* accessibleInterface = "org.a11y.atspi.Accessible";
inline constexpr const char* componentInterface = "org.a11y.atspi.Component";
inline constexpr const char* textInterface = "org.a11y.atspi.Text";
inline constexpr const char* valueInterface = "org.a11y.atspi.Value";
inline constexpr const char* documentInterface = "org.a11y.atspi.Document";
inline constexpr const char* actionInterface = "org.a11y.atspi.Action";
inline constexpr const char* applicationInterface = "org.a11y.atspi.Application";
inline constexpr const char* propertiesInterface = "org.freedesktop.DBus.Properties";
inline constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
inline constexpr const char* nullPath = "/org/a11y/atspi/null";
inline constexpr int defaultTimeoutMs = 2000;

// An object on the bus: the application's connection and the object's path there.
struct ObjectRef {
    std::string bus;
    std::string path;
    bool operator==(const ObjectRef&) const = default;
};

bool isNull(const ObjectRef& ref);

// None for a name or path the bus would reject: such a call simply fails.
Message methodCall(const std::string& bus, const std::string& path, const char* interface, const char* member);
void appendStrings(DBusMessage* message, std::initializer_list<const char*> strings);
void appendUint32(DBusMessage* message, dbus_uint32_t value);
void appendInts(DBusMessage* message, std::initializer_list<dbus_int32_t> values);

// Reply readers: each answers none (or nothing) for a reply of any other shape.
bool firstArgument(DBusMessage* reply, DBusMessageIter& iter);
std::optional<std::string> basicString(DBusMessageIter& iter);
std::optional<int> intAt(DBusMessageIter& iter);
std::optional<dbus_uint32_t> uint32At(DBusMessageIter& iter);
std::optional<ObjectRef> refAt(DBusMessageIter& iter);
std::vector<ObjectRef> refsAt(DBusMessageIter& iter);
std::uint64_t statesAt(DBusMessageIter& iter);
std::map<std::string, std::string> dictionaryAt(DBusMessageIter& iter);
std::vector<std::string> stringsAt(DBusMessageIter& iter);
// The first argument, seen through a variant when it is one.
std::optional<std::string> replyString(DBusMessage* reply);
std::optional<dbus_uint32_t> replyUint32(DBusMessage* reply);

// The accessibility bus, one private connection, calls pipelined: everything is sent,
// then the answers are collected as they come. A reply that does not come in time is
// none, like a failed call.
class Bus {
public:
    std::vector<Message> callAll(std::vector<Message>& requests, int timeoutMs);
    // However well a batch is answered, it ends after this many time-outs.
    static constexpr int batchPatienceFactor = 10;
    Message call(Message request, int timeoutMs);
    bool connected();

private:
    void listenForEvents();
    static std::optional<std::string> busAddress();

    Connection connection_;
};

} // namespace vanto::atspi
