#include "Faults.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace vanto::devservice {
namespace {

bool isControlPath(const std::string& path) {
    return path.starts_with("/__");
}

int port(const sockaddr_storage& address) {
    if (address.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(address).sin_port);
    if (address.ss_family == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6&>(address).sin6_port);
    return -1;
}

// httplib hands handlers no socket, so the connection is found among this process's
// descriptors by its two ports, and shut down: the client gets no answer at all.
bool dropConnection(const httplib::Request& request) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd", error)) {
        int fd = 0;
        try {
            fd = std::stoi(entry.path().filename().string());
        } catch (const std::exception&) {
            continue;
        }
        sockaddr_storage local{}, peer{};
        socklen_t localLength = sizeof local, peerLength = sizeof peer;
        if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLength) != 0) continue;
        if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0) continue;
        if (port(local) == request.local_port && port(peer) == request.remote_port) {
            ::shutdown(fd, SHUT_RDWR);
            return true;
        }
    }
    return false;
}

std::optional<Fault>& pendingFault() {
    // httplib serves a request's routing, endpoint and answer on one thread.
    thread_local std::optional<Fault> pending;
    return pending;
}

bool carriesBody(const httplib::Request& request) {
    auto length = request.get_header_value("Content-Length");
    if (!length.empty() && length != "0") return true;
    return request.get_header_value("Transfer-Encoding").find("chunked") != std::string::npos;
}

void answerWith(const Fault& fault, httplib::Response& response) {
    response.status = *fault.status;
    response.set_content(fault.body, fault.contentType);
}

} // namespace

bool answerPendingFault(httplib::Response& response) {
    auto& pending = pendingFault();
    if (!pending) return false;
    answerWith(*pending, response);
    pending.reset();
    return true;
}

bool Fault::matches(const std::string& requestMethod, const std::string& requestPath) const {
    if (!method.empty() && method != requestMethod) return false;
    if (path.ends_with("*")) return requestPath.starts_with(std::string_view(path).substr(0, path.size() - 1));
    return requestPath == path;
}

nlohmann::json Fault::toJSON() const {
    nlohmann::json out = {{"path", path}, {"times", times}};
    if (after) out["after"] = after;
    if (!method.empty()) out["method"] = method;
    if (status) {
        out["status"] = *status;
        out["body"] = body;
        out["contentType"] = contentType;
    }
    if (delayMs) out["delayMs"] = delayMs;
    if (drop) out["drop"] = true;
    return out;
}

Fault Fault::fromJSON(const nlohmann::json& d) {
    if (!d.is_object()) throw std::invalid_argument("a fault is a JSON object");
    auto text = [&](const char* key) -> std::optional<std::string> {
        if (!d.contains(key)) return std::nullopt;
        if (!d[key].is_string()) throw std::invalid_argument(std::string("\"") + key + "\" must be a string");
        return d[key].get<std::string>();
    };
    auto whole = [&](const char* key, int min, int max) -> std::optional<int> {
        if (!d.contains(key)) return std::nullopt;
        if (!d[key].is_number_integer() || d[key].get<long long>() < min || d[key].get<long long>() > max)
            throw std::invalid_argument(std::string("\"") + key + "\" must be a whole number from " +
                                        std::to_string(min) + " to " + std::to_string(max));
        return d[key].get<int>();
    };
    Fault fault;
    auto path = text("path");
    if (!path || !path->starts_with("/")) throw std::invalid_argument("\"path\" must be a path beginning with /");
    if (isControlPath(*path)) throw std::invalid_argument("the /__ paths cannot be faulted");
    fault.path = *path;
    fault.method = text("method").value_or("");
    for (auto& c : fault.method) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    fault.times = whole("times", 1, 1'000'000).value_or(1);
    fault.after = whole("after", 0, 1'000'000).value_or(0);
    fault.status = whole("status", 100, 599);
    fault.body = text("body").value_or("");
    fault.delayMs = whole("delayMs", 0, 600'000).value_or(0);
    if (d.contains("drop")) {
        if (!d["drop"].is_boolean()) throw std::invalid_argument("\"drop\" must be true or false");
        fault.drop = d["drop"].get<bool>();
    }
    if (fault.drop && fault.status) throw std::invalid_argument("a fault either drops or answers, not both");
    if (!fault.drop && !fault.status && fault.delayMs == 0)
        throw std::invalid_argument("a fault needs \"status\", \"drop\" or \"delayMs\"");
    auto looksJSON = !fault.body.empty() && (fault.body.front() == '{' || fault.body.front() == '[');
    fault.contentType = text("contentType").value_or(looksJSON ? "application/json" : "text/plain; charset=utf-8");
    return fault;
}

void Faults::add(Fault fault) {
    std::lock_guard lock(mutex_);
    faults_.push_back(std::move(fault));
}

void Faults::clear() {
    std::lock_guard lock(mutex_);
    faults_.clear();
}

nlohmann::json Faults::pending() {
    std::lock_guard lock(mutex_);
    auto list = nlohmann::json::array();
    for (const auto& fault : faults_) list.push_back(fault.toJSON());
    return list;
}

std::optional<Fault> Faults::take(const std::string& method, const std::string& path) {
    std::lock_guard lock(mutex_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        if (!it->matches(method, path)) continue;
        if (it->after > 0) {
            --it->after;
            continue;
        }
        auto fault = *it;
        if (--it->times == 0) faults_.erase(it);
        return fault;
    }
    return std::nullopt;
}

void Faults::record(const httplib::Request& request) {
    nlohmann::json entry = {{"method", request.method}, {"path", request.path}};
    if (request.has_header("X-Vanto-Recorder")) entry["recorder"] = request.get_header_value("X-Vanto-Recorder");
    entry["bearer"] = request.get_header_value("Authorization").starts_with("Bearer ");
    std::lock_guard lock(mutex_);
    requests_.push_back(std::move(entry));
    if (requests_.size() > keptRequests) requests_.pop_front();
}

nlohmann::json Faults::requests() {
    std::lock_guard lock(mutex_);
    return nlohmann::json(requests_);
}

void Faults::clearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

void addFaultRoutes(httplib::Server& server, Faults& faults) {
    server.set_pre_routing_handler([&faults](const httplib::Request& request, httplib::Response& response) {
        using Outcome = httplib::Server::HandlerResponse;
        pendingFault().reset();
        if (isControlPath(request.path)) return Outcome::Unhandled;
        faults.record(request);
        auto fault = faults.take(request.method, request.path);
        if (!fault) return Outcome::Unhandled;
        if (fault->delayMs > 0) std::this_thread::sleep_for(std::chrono::milliseconds(fault->delayMs));
        if (fault->drop) {
            dropConnection(request);
            // Should the socket not be found, a cut-off answer still fails the exchange.
            response.set_content_provider(1, "application/octet-stream",
                                          [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
            return Outcome::Handled;
        }
        if (!fault->status) return Outcome::Unhandled;
        if (carriesBody(request)) {
            pendingFault() = *fault;
            return Outcome::Unhandled;
        }
        answerWith(*fault, response);
        return Outcome::Handled;
    });
    server.set_post_routing_handler([](const httplib::Request&, httplib::Response& response) {
        // By now the route's answer has its length set: the fault's replaces both.
        if (answerPendingFault(response)) {
            response.headers.erase("Content-Length");
            response.set_header("Content-Length", std::to_string(response.body.size()));
        }
    });

    server.Post("/__faults", [&faults](const httplib::Request& request, httplib::Response& response) {
        auto body = nlohmann::json::parse(request.body, nullptr, false);
        try {
            auto list = body.is_array() ? body : nlohmann::json::array({body});
            std::vector<Fault> parsed;
            for (const auto& description : list) parsed.push_back(Fault::fromJSON(description));
            for (auto& fault : parsed) faults.add(std::move(fault));
            response.status = 201;
            response.set_content(nlohmann::json{{"faults", faults.pending()}}.dump(), "application/json");
        } catch (const std::invalid_argument& error) {
            response.status = 400;
            response.set_content(nlohmann::json{{"error", error.what()}}.dump(), "application/json");
        }
    });
    server.Get("/__faults", [&faults](const httplib::Request&, httplib::Response& response) {
        response.set_content(nlohmann::json{{"faults", faults.pending()}}.dump(), "application/json");
    });
    server.Delete("/__faults", [&faults](const httplib::Request&, httplib::Response& response) {
        faults.clear();
        response.set_content(R"({"ok":true})", "application/json");
    });
    server.Get("/__requests", [&faults](const httplib::Request&, httplib::Response& response) {
        response.set_content(nlohmann::json{{"requests", faults.requests()}}.dump(), "application/json");
    });
    server.Delete("/__requests", [&faults](const httplib::Request&, httplib::Response& response) {
        faults.clearRequests();
        response.set_content(R"({"ok":true})", "application/json");
    });
}

} // namespace vanto::devservice
