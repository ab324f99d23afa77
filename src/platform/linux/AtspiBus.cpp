#include "platform/linux/AtspiBus.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <unordered_map>

namespace vanto::atspi {
namespace {

constexpr std::size_t inFlightLimit = 512;

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

} // namespace

bool isNull(const ObjectRef& ref) {
    return ref.bus.empty() || ref.path.empty() || ref.path == nullPath;
}

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
std::optional<dbus_uint32_t> uint32At(DBusMessageIter& iter) {
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_UINT32) return std::nullopt;
    dbus_uint32_t value = 0;
    dbus_message_iter_get_basic(&iter, &value);
    return value;
}

std::vector<std::string> stringsAt(DBusMessageIter& iter) {
    std::vector<std::string> strings;
    if (dbus_message_iter_get_arg_type(&iter) != DBUS_TYPE_ARRAY) return strings;
    DBusMessageIter items;
    dbus_message_iter_recurse(&iter, &items);
    while (auto text = basicString(items)) {
        strings.push_back(std::move(*text));
        if (!dbus_message_iter_next(&items)) break;
    }
    return strings;
}

std::vector<Message> Bus::callAll(std::vector<Message>& requests, int timeoutMs) {
    std::vector<Message> replies(requests.size());
    if (!connected()) return replies;
    // The time-out is each call's: it runs from the last answer, so a large batch that
    // keeps being answered is not cut short, while a stalled application still is, and a
    // batch trickling in is bounded all the same.
    const auto patience = std::chrono::milliseconds(timeoutMs);
    const auto latest = std::chrono::steady_clock::now() + patience * batchPatienceFactor;
    auto deadline = std::chrono::steady_clock::now() + patience;
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
        if (!dbus_connection_read_write(connection_.get(), static_cast<int>(std::min<long>(left.count(), 100)))) break;
        while (DBusMessage* raw = dbus_connection_pop_message(connection_.get())) {
            Message message(raw);
            auto it = pending.find(dbus_message_get_reply_serial(raw));
            if (it == pending.end()) continue;
            replies[it->second] = std::move(message);
            pending.erase(it);
            ++answered;
            deadline = std::min(latest, std::chrono::steady_clock::now() + patience);
        }
    }
    return replies;
}

Message Bus::call(Message request, int timeoutMs) {
    std::vector<Message> one;
    one.push_back(std::move(request));
    return std::move(callAll(one, timeoutMs).front());
}

bool Bus::connected() {
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

// Toolkits keep their Cache, which answers a whole tree in one call, only while some
// client listens for events. We never read the events: no match rule, so the bus
// does not send them to us.
void Bus::listenForEvents() {
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
    Message(dbus_connection_send_with_reply_and_block(connection_.get(), older.get(), defaultTimeoutMs, again.get()));
}

// The session bus knows where the accessibility bus is.
std::optional<std::string> Bus::busAddress() {
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

} // namespace vanto::atspi
