#include "Service.h"

#include "Crypto.h"

namespace vanto::devservice {

Service::Service(Store& store, Options options) : store_(store), options_(std::move(options)) {}

std::string Service::openSession(const std::string& accountID) {
    auto id = randomHex(24);
    std::lock_guard lock(mutex_);
    sessions_[id] = accountID;
    return id;
}

std::optional<std::string> Service::cookie(const httplib::Request& request, const std::string& name) {
    auto header = request.get_header_value("Cookie");
    std::size_t at = 0;
    while (at < header.size()) {
        auto end = header.find(';', at);
        auto pair = header.substr(at, end == std::string::npos ? std::string::npos : end - at);
        auto start = pair.find_first_not_of(' ');
        if (start != std::string::npos) pair = pair.substr(start);
        if (pair.starts_with(name + "=")) return pair.substr(name.size() + 1);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return std::nullopt;
}

std::optional<AccountRecord> Service::sessionAccount(const httplib::Request& request) {
    auto id = cookie(request, sessionCookie);
    if (!id) return std::nullopt;
    std::string account;
    {
        std::lock_guard lock(mutex_);
        auto it = sessions_.find(*id);
        if (it == sessions_.end()) return std::nullopt;
        account = it->second;
    }
    return store_.accountByID(account);
}

void Service::closeSession(const httplib::Request& request) {
    if (auto id = cookie(request, sessionCookie)) {
        std::lock_guard lock(mutex_);
        sessions_.erase(*id);
    }
}

std::optional<std::string> Service::bearerToken(const httplib::Request& request) {
    auto header = request.get_header_value("Authorization");
    static constexpr std::string_view scheme = "Bearer ";
    if (header.size() <= scheme.size() || header.compare(0, scheme.size(), scheme) != 0) return std::nullopt;
    return header.substr(scheme.size());
}

std::optional<AccountRecord> Service::bearerAccount(const httplib::Request& request) {
    auto token = bearerToken(request);
    if (!token) return std::nullopt;
    return store_.accountForToken(*token);
}

void sendJSON(httplib::Response& response, int status, const nlohmann::json& body) {
    response.status = status;
    response.set_content(body.dump(), "application/json");
}

void sendError(httplib::Response& response, int status, const std::string& message) {
    sendJSON(response, status, {{"error", message}});
}

std::optional<nlohmann::json> jsonBody(const httplib::Request& request) {
    auto body = nlohmann::json::parse(request.body, nullptr, false);
    if (!body.is_object()) return std::nullopt;
    return body;
}

std::string sessionCookieHeader(const std::string& value) {
    return std::string(Service::sessionCookie) + "=" + value + "; Path=/; HttpOnly; SameSite=Lax";
}

} // namespace vanto::devservice
