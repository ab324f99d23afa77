#pragma once

#include "platform/Clock.h"
#include "platform/Listener.h"
#include "service/HTTPRequest.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <variant>

namespace vanto {

// The one-shot HTTP server on 127.0.0.1 that the connect page posts the token to.
// The first outcome (a token with the right state, the time-out or a cancellation)
// settles it; later callbacks still get their answers but change nothing.
class LoopbackServer {
public:
    // What one connection may send before it is answered "413 Content Too Large":
    // a callback is a few hundred bytes, so this is generous and still bounded.
    static constexpr std::size_t maxRequestBytes = 64 * 1024;
    static constexpr std::size_t receiveChunkBytes = 65536;
    // Connections served at once; more are closed unanswered until one ends.
    static constexpr std::size_t maxConnections = 16;
    // A connection that sends nothing for this long is closed.
    static constexpr double idleSeconds = 30;

    // Creates the listener; ConnectError::listenFailed when the system refuses.
    LoopbackServer(LoopbackNetwork& network, Clock& clock, std::string allowedOrigin, std::string state);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // Starts accepting and returns the port.
    std::uint16_t start();

    // Waits for the outcome: the token, or ConnectError::timedOut after max(timeout, 0)
    // seconds, or Cancelled when stop is triggered. An outcome already there comes at
    // once; a second waiter meanwhile gets ConnectError::alreadyWaiting.
    std::string awaitToken(double timeout, std::stop_token stop = {});

    // Stops listening, ends open connections and waits for their threads.
    void cancel();

    // The bytes to send back for what one connection has sent so far, once there is
    // an answer: a complete request, or too many bytes. None: wait for more.
    // With acceptedToken, a valid callback's token is put there for the caller to
    // settle once the answer is delivered; without it, the outcome is settled at once.
    std::optional<std::string> answer(std::string_view received, std::optional<std::string>* acceptedToken = nullptr);

    // The answer to one complete request; a valid callback settles the outcome (or
    // hands its token over, as above).
    std::string respond(const HTTPRequest& request, std::optional<std::string>* acceptedToken = nullptr);

private:
    using Outcome = std::variant<std::string, std::exception_ptr>;

    struct Served {
        std::shared_ptr<Connection> connection;
        std::shared_ptr<std::atomic<bool>> done;
        std::jthread thread;
    };

    void acceptLoop();
    void serve(Connection& connection);
    void settle(Outcome outcome);
    std::string reply(const std::string& status, const std::string& body, const HTTPRequest* request) const;

    std::unique_ptr<Listener> listener_;
    Clock& clock_;
    const std::string allowedOrigin_;
    const std::string state_;

    std::mutex lock_;
    std::condition_variable settled_;
    bool waiting_ = false;
    std::optional<Outcome> outcome_;

    std::mutex connectionsLock_;
    std::list<Served> connections_;
    bool cancelled_ = false;
    std::jthread acceptThread_;
};

} // namespace vanto
