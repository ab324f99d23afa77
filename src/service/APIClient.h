#pragma once

#include "platform/Clock.h"
#include "platform/Http.h"
#include "service/ConfigStore.h"
#include "service/UploadError.h"

#include <nlohmann/json.hpp>

#include <optional>
#include <stop_token>
#include <string>
#include <string_view>

namespace vanto {

// Who a token belongs to.
struct Account {
    std::string id;
    std::optional<std::string> email;
    std::optional<std::string> name;
};

// The program's only door to the service's HTTP API: every request gets the same
// authenticated template, the same status check and the same error wording.
// Immutable once made, so any thread may use it.
class APIClient {
public:
    static constexpr double requestTimeout = 120;
    static constexpr double revokeTimeout = 10;
    static constexpr int attempts = 3;

    APIClient(Config config, Http& http, Clock& clock);

    const Config& config() const { return config_; }

    // The version this build was made with; "dev" for a development build.
    static const std::string& recorderVersion();

    // apiBase + path with the bearer token and the recorder header; a base that does
    // not make an address with a host is badAPIBase.
    Http::Request request(const std::string& path, const std::string& method) const;

    // The same with a JSON body and its content type.
    Http::Request request(const std::string& path, const std::string& method, const nlohmann::json& body) const;

    // One attempt, then the status check.
    Http::Response send(const Http::Request& request, std::stop_token stop = {}) const;

    // Up to three attempts when the request does not get through, 2 s and then 4 s
    // apart; answers the service gave are never retried.
    Http::Response sendRetrying(const Http::Request& request, std::stop_token stop = {}) const;

    // The body's "error" string, or its first 512 bytes when that is valid UTF-8.
    static std::string errorMessage(std::string_view body);

    // GET /api/profile.
    Account account(std::stop_token stop = {}) const;

    // DELETE /api/extension/tokens/current within 10 s; every failure is ignored, so
    // an unreachable service never stands in the way of signing out locally.
    void revokeToken() const noexcept;

    // The answer's body as a JSON object; anything else is malformedResponse with the
    // request's path.
    static nlohmann::json jsonObject(const Http::Request& request, const Http::Response& response);

    // The path of a request's address, for messages.
    static std::string pathOf(const std::string& url);

private:
    void check(const Http::Request& request, const Http::Response& response) const;
    // Messages may quote what the service said; a service that echoes the token must
    // not make us show it.
    std::string withoutToken(std::string text) const;

    Config config_;
    Http& http_;
    Clock& clock_;
};

} // namespace vanto
