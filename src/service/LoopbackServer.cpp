#include "service/LoopbackServer.h"

#include "service/ConfigStore.h"
#include "service/ConnectError.h"
#include "service/UploadError.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <vector>

namespace vanto {
namespace {

// Compares without stopping at the first difference, so timing tells nothing about the state.
bool sameSecret(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    unsigned char difference = 0;
    for (std::size_t i = 0; i < a.size(); ++i) difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

} // namespace

LoopbackServer::LoopbackServer(LoopbackNetwork& network, Clock& clock, std::string allowedOrigin, std::string state)
    : clock_(clock), allowedOrigin_(std::move(allowedOrigin)), state_(std::move(state)) {
    try {
        listener_ = network.listen();
    } catch (const std::exception&) {
        throw ConnectError::listenFailed();
    }
    if (!listener_) throw ConnectError::listenFailed();
}

LoopbackServer::~LoopbackServer() {
    cancel();
}

std::uint16_t LoopbackServer::start() {
    std::lock_guard guard(connectionsLock_);
    if (cancelled_ || !listener_) throw ConnectError::listenFailed();
    auto port = listener_->port();
    if (port == 0) throw ConnectError::listenFailed();
    if (!acceptThread_.joinable()) acceptThread_ = std::jthread([this] { acceptLoop(); });
    return port;
}

void LoopbackServer::acceptLoop() {
    while (auto accepted = listener_->accept()) {
        std::shared_ptr<Connection> connection(std::move(accepted));
        std::list<Served> finished;
        std::lock_guard guard(connectionsLock_);
        if (cancelled_) return;
        // Threads of connections that ended are collected here, outside the connection list's lock.
        for (auto it = connections_.begin(); it != connections_.end();) {
            auto next = std::next(it);
            if (*it->done) finished.splice(finished.end(), connections_, it);
            it = next;
        }
        if (!admit()) continue; // closed unanswered
        try {
            auto done = std::make_shared<std::atomic<bool>>(false);
            auto phase = std::make_shared<std::atomic<Phase>>(Phase::reading);
            connections_.push_back(Served{connection, done, phase, std::jthread([this, connection, done, phase] {
                                              // Nothing may leave a connection's thread: one
                                              // peer's trouble ends that peer's connection only.
                                              try {
                                                  serve(*connection, *phase);
                                              } catch (...) {
                                              }
                                              *done = true;
                                          })});
        } catch (const std::exception&) {
            // No thread to be had: this connection closes unanswered, the server goes on.
        }
    }
}

bool LoopbackServer::admit() {
    std::size_t busy = 0;
    for (const auto& served : connections_)
        if (*served.phase != Phase::displaced) ++busy;
    if (busy < maxConnections) return true;
    // Oldest first: the list is in the order the connections came. One still sending
    // its request goes before one that was answered and is only being drained.
    for (auto phase : {Phase::reading, Phase::finishing}) {
        for (auto& served : connections_) {
            auto expected = phase;
            if (served.phase->compare_exchange_strong(expected, Phase::displaced)) {
                served.connection->interrupt();
                return true;
            }
        }
    }
    return false;
}

void LoopbackServer::serve(Connection& connection, std::atomic<Phase>& phase) {
    std::string received;
    std::vector<std::uint8_t> chunk(receiveChunkBytes);
    const double deadline = clock_.now() + requestSeconds;
    while (true) {
        std::optional<std::string> token;
        std::optional<std::string> response;
        double left = deadline - clock_.now();
        if (left <= 0) {
            response = reply("408 Request Timeout", R"({"error":"the request took too long"})", nullptr);
        } else {
            auto count = connection.receive(chunk, left);
            if (!count || *count == 0) {
                // Silence until the deadline is answered; an error or the end has nobody to answer.
                if (count || clock_.now() < deadline || phase != Phase::reading) return;
                continue;
            }
            received.append(reinterpret_cast<const char*>(chunk.data()), *count);
            response = answer(received, &token);
            if (!response) continue;
        }
        auto reading = Phase::reading;
        if (!phase.compare_exchange_strong(reading, Phase::answering)) return; // displaced meanwhile
        // The flow ends, and this server with it, only once the page has its answer:
        // a page whose callback fails revokes the token it just sent.
        // An answer that did not get through leaves a token the page revokes, so
        // the flow goes on waiting rather than taking it.
        if (connection.send(*response)) {
            phase = Phase::finishing;
            connection.finish();
            if (token) settle(*token);
        }
        return;
    }
}

std::optional<std::string> LoopbackServer::answer(std::string_view received,
                                                  std::optional<std::string>* acceptedToken) {
    auto reading = HTTPRequest::read(received, maxRequestBytes);
    const auto* request = reading.request ? &*reading.request : nullptr;
    switch (reading.state) {
    case HTTPRequest::State::incomplete:
        return std::nullopt;
    case HTTPRequest::State::tooLarge:
        return reply("413 Content Too Large", R"({"error":"request too large"})", request);
    case HTTPRequest::State::malformed:
        return reply("400 Bad Request", R"({"error":"malformed request"})", request);
    case HTTPRequest::State::complete:
        break;
    }
    return respond(*request, acceptedToken);
}

std::string LoopbackServer::respond(const HTTPRequest& request, std::optional<std::string>* acceptedToken) {
    if (request.method == "OPTIONS") return reply("204 No Content", "", &request);
    if (request.method != "POST" || !request.path.starts_with("/callback"))
        return reply("404 Not Found", R"({"error":"not found"})", &request);
    auto body = nlohmann::json::parse(request.body, nullptr, false);
    auto token = body.is_object() ? body.find("token") : body.end();
    auto state = body.is_object() ? body.find("state") : body.end();
    if (!body.is_object() || token == body.end() || state == body.end() || !token->is_string() || !state->is_string())
        return reply("400 Bad Request", R"({"error":"token and state are required"})", &request);
    if (!sameSecret(state->get<std::string>(), state_))
        return reply("403 Forbidden", R"({"error":"state mismatch"})", &request);
    if (!isSendableToken(token->get<std::string>())) {
        // The page with the right state sent it, so the flow ends here with the reason
        // rather than waiting out its time for a token that cannot be used.
        settle(std::make_exception_ptr(UploadError::unusableToken()));
        return reply("400 Bad Request", R"({"error":"the token is not usable"})", &request);
    }
    auto answer = reply("200 OK", R"({"ok":true})", &request);
    if (acceptedToken)
        *acceptedToken = token->get<std::string>();
    else
        settle(token->get<std::string>());
    return answer;
}

std::string LoopbackServer::reply(const std::string& status, const std::string& body,
                                  const HTTPRequest* request) const {
    std::string out = "HTTP/1.1 " + status + "\r\n";
    out += "Content-Type: application/json\r\n";
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    if (request) {
        if (auto origin = request->header("origin"); origin && *origin == allowedOrigin_) {
            out += "Access-Control-Allow-Origin: " + *origin + "\r\n";
            out += "Access-Control-Allow-Methods: POST, OPTIONS\r\n";
            out += "Access-Control-Allow-Headers: Content-Type\r\n";
            out += "Access-Control-Allow-Private-Network: true\r\n";
            out += "Access-Control-Max-Age: 600\r\n";
        }
    }
    out += "Connection: close\r\n\r\n";
    out += body;
    return out;
}

void LoopbackServer::settle(Outcome outcome) {
    {
        std::lock_guard guard(lock_);
        if (outcome_) return;
        outcome_ = std::move(outcome);
    }
    settled_.notify_all();
}

std::string LoopbackServer::awaitToken(double timeout, std::stop_token stop) {
    std::unique_lock guard(lock_);
    if (!outcome_) {
        if (waiting_) throw ConnectError::alreadyWaiting();
        waiting_ = true;
        guard.unlock();
        {
            double limit = timeout > 0 ? timeout : 0;
            std::jthread timer([this, limit](std::stop_token timerStop) {
                if (clock_.sleep(limit, timerStop)) settle(std::make_exception_ptr(ConnectError::timedOut()));
            });
            std::stop_callback onCancel(stop, [this] { settle(std::make_exception_ptr(Cancelled())); });
            guard.lock();
            settled_.wait(guard, [this] { return outcome_.has_value(); });
            waiting_ = false;
            guard.unlock();
        } // the timer is stopped and joined here, outside the lock
        guard.lock();
    }
    if (auto* error = std::get_if<std::exception_ptr>(&*outcome_)) std::rethrow_exception(*error);
    return std::get<std::string>(*outcome_);
}

void LoopbackServer::cancel() {
    {
        std::lock_guard guard(connectionsLock_);
        cancelled_ = true;
    }
    if (!listener_) return;
    listener_->cancel();
    if (acceptThread_.joinable()) acceptThread_.join();
    // Closed, not just ignored: the port stops taking connections at once.
    listener_.reset();
    std::list<Served> open;
    {
        std::lock_guard guard(connectionsLock_);
        open.swap(connections_);
    }
    for (auto& served : open) served.connection->interrupt();
    // The jthreads join as `open` goes.
}

} // namespace vanto
