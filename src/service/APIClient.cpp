#include "service/APIClient.h"

#include "base/Json.h"
#include "base/Text.h"
#include "service/ServiceAddress.h"

#ifndef VANTO_VERSION
#define VANTO_VERSION "dev"
#endif

namespace vanto {

APIClient::APIClient(Config config, Http& http, Clock& clock)
    : config_(std::move(config)), http_(http), clock_(clock) {}

const std::string& APIClient::recorderVersion() {
    static const std::string version = [] {
        std::string built = VANTO_VERSION;
        return built.empty() ? std::string("dev") : built;
    }();
    return version;
}

Http::Request APIClient::request(const std::string& path, const std::string& method) const {
    auto url = config_.apiBase + path;
    auto parts = ServiceAddress::parse(url);
    if (!parts || parts->host.empty()) throw UploadError::badAPIBase(config_.apiBase);
    if (!isSendableToken(config_.token)) throw UploadError::unusableToken();
    Http::Request request;
    request.method = method;
    request.url = std::move(url);
    request.headers = {{"Authorization", "Bearer " + config_.token}, {"X-Vanto-Recorder", recorderVersion()}};
    request.timeout = requestTimeout;
    return request;
}

Http::Request APIClient::request(const std::string& path, const std::string& method, const nlohmann::json& body) const {
    auto built = request(path, method);
    built.headers.emplace_back("Content-Type", "application/json");
    built.body = body.dump();
    return built;
}

std::string APIClient::pathOf(const std::string& url) {
    auto parts = ServiceAddress::parse(url);
    return parts ? parts->path : std::string();
}

std::string APIClient::withoutToken(std::string text) const {
    // Too short a token would blank out ordinary words; real tokens are long.
    const auto& token = config_.token;
    if (token.size() < 8) return text;
    for (auto at = text.find(token); at != std::string::npos; at = text.find(token, at))
        text.replace(at, token.size(), "[token]");
    return text;
}

void APIClient::check(const Http::Request& request, const Http::Response& response) const {
    if (response.status < 100 || response.status > 599) throw UploadError::malformedResponse(pathOf(request.url));
    if (response.status >= 200 && response.status <= 299) return;
    if (response.status == 401) throw UploadError::signedOut();
    throw UploadError::http(static_cast<int>(response.status), withoutToken(errorMessage(response.body)));
}

Http::Response APIClient::send(const Http::Request& request, std::stop_token stop) const {
    auto response = http_.send(request, stop);
    check(request, response);
    return response;
}

Http::Response APIClient::sendRetrying(const Http::Request& request, std::stop_token stop) const {
    for (int attempt = 0;; ++attempt) {
        try {
            return send(request, stop);
        } catch (const HttpTransportError&) {
            if (attempt == attempts - 1) throw;
        }
        if (!clock_.sleep(2.0 * (attempt + 1), stop)) throw Cancelled();
    }
}

std::string APIClient::errorMessage(std::string_view body) {
    auto document = nlohmann::json::parse(body, nullptr, false);
    if (document.is_object()) {
        auto error = document.find("error");
        if (error != document.end() && error->is_string()) return error->get<std::string>();
    }
    auto head = body.substr(0, 512);
    return text::isValidUTF8(head) ? std::string(head) : std::string();
}

nlohmann::json APIClient::jsonObject(const Http::Request& request, const Http::Response& response) {
    auto document = nlohmann::json::parse(response.body, nullptr, false);
    if (!document.is_object()) throw UploadError::malformedResponse(pathOf(request.url));
    return document;
}

Plan APIClient::plan(const std::string& prompt, bool continues, bool stageOnly, std::stop_token stop) const {
    const nlohmann::json body{
        {"prompt", prompt}, {"runner", "native"}, {"continues", continues}, {"stage_only", stageOnly}};
    auto planning = request("/api/capture/plan", "POST", body);
    Http::Response answer;
    try {
        answer = send(planning, stop);
    } catch (const UploadError& error) {
        if (error.kind() == UploadError::Case::http && error.status() == 422 && !error.serviceMessage().empty())
            throw PlanError::question(error.serviceMessage());
        throw;
    }
    return decodePlan(answer.body);
}

Account APIClient::account(std::stop_token stop) const {
    auto profile = request("/api/profile", "GET");
    auto answer = jsonObject(profile, send(profile, stop));
    try {
        const auto* user = json::optionalObject(answer, "user");
        if (!user) throw DecodeError("missing \"user\"");
        return Account{json::requireString(*user, "id"), json::optionalString(*user, "email"),
                       json::optionalString(*user, "name")};
    } catch (const DecodeError& error) {
        throw DecodeError("the service's profile could not be read: " + std::string(error.what()));
    }
}

void APIClient::revokeToken() const noexcept {
    try {
        auto revoke = request("/api/extension/tokens/current", "DELETE");
        revoke.timeout = revokeTimeout;
        send(revoke);
    } catch (...) {
        // Signing out locally goes ahead whatever the service says.
    }
}

} // namespace vanto
