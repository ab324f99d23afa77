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
    // Connections served at once. When all are taken, a newcomer takes the place of
    // the one that has waited longest for its request, so trickling connections cannot
    // keep the page's callback out; only while every one is being answered is a
    // newcomer closed unanswered.
    static constexpr std::size_t maxConnections = 16;
    // What a connection has from its first moment to send its whole request: a page
    // sends a few hundred bytes at once, so a connection still sending after this is
    // answered "408 Request Timeout" and closed.
    static constexpr double requestSeconds = 5;

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

    // A connection reads its request until it either answers or is displaced; whichever
    // comes first wins, so an answer is never cut off by a newcomer. Once the answer is
    // out, the connection only drains what its peer still sends, and may be displaced again.
    enum class Phase { reading, answering, finishing, displaced };

    struct Served {
        std::shared_ptr<Connection> connection;
        std::shared_ptr<std::atomic<bool>> done;
        std::shared_ptr<std::atomic<Phase>> phase;
        std::jthread thread;
    };

    void acceptLoop();
    void serve(Connection& connection, std::atomic<Phase>& phase);
    // Makes room for one more connection; false when every connection is being answered.
    bool admit();
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
