#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace vanto {

// One accepted TCP connection.
class Connection {
public:
    virtual ~Connection() = default;

    // Waits at most idleSeconds for bytes and reads what is there into buffer. Returns
    // the count, 0 at the end of the stream, or none on an error, when nothing arrived
    // in time, or after interrupt().
    virtual std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, double idleSeconds) = 0;

    // Sends all bytes; false when the peer went away or would not take them in time.
    virtual bool send(std::string_view bytes) = 0;

    // Ends the exchange after an answer: nothing more is sent, and what the peer still
    // sends is read and dropped for a moment, so that closing never cuts the answer off.
    virtual void finish() = 0;

    // Wakes a blocked receive from another thread; every later receive ends at once.
    virtual void interrupt() = 0;
};

// A TCP listener on the loopback interface.
class Listener {
public:
    virtual ~Listener() = default;

    virtual std::uint16_t port() = 0;

    // Waits for the next connection; none once cancel() was called or listening failed.
    virtual std::unique_ptr<Connection> accept() = 0;

    // Stops listening and wakes a waiting accept(); safe from any thread.
    virtual void cancel() = 0;
};

class LoopbackNetwork {
public:
    virtual ~LoopbackNetwork() = default;

    // A listener bound to 127.0.0.1 only, on a port the system chooses, already
    // listening. Throws when the system refuses.
    virtual std::unique_ptr<Listener> listen() = 0;
};

} // namespace vanto
