#pragma once

#include "Store.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace vanto::devservice {

struct Options {
    // Every visitor of the web application counts as signed in to this account, as if
    // the browser had signed in before: lets a headless browser finish the connect page.
    std::optional<std::string> autoSignInEmail;
};

// What the endpoint groups share: the store, the web application's sign-in sessions
// (kept in memory: a restart signs everybody out) and the options.
class Service {
public:
    Service(Store& store, Options options);

    Store& store() { return store_; }
    const Options& options() const { return options_; }

    static constexpr const char* sessionCookie = "vanto_session";

    // A new session for the account; the value for the session cookie.
    std::string openSession(const std::string& accountID);
    std::optional<AccountRecord> sessionAccount(const httplib::Request& request);
    void closeSession(const httplib::Request& request);

    // The account the request's bearer token belongs to.
    std::optional<AccountRecord> bearerAccount(const httplib::Request& request);
    static std::optional<std::string> bearerToken(const httplib::Request& request);

private:
    static std::optional<std::string> cookie(const httplib::Request& request, const std::string& name);

    Store& store_;
    Options options_;
    std::mutex mutex_;
    std::map<std::string, std::string> sessions_; // session id → account id
};

void sendJSON(httplib::Response& response, int status, const nlohmann::json& body);
void sendError(httplib::Response& response, int status, const std::string& message);
// The request's body as a JSON object, or none.
std::optional<nlohmann::json> jsonBody(const httplib::Request& request);
std::string sessionCookieHeader(const std::string& value);

} // namespace vanto::devservice
