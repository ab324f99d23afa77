#include "Routes.h"

namespace vanto::devservice {

void addSessionRoutes(httplib::Server& server, Service& service) {
    server.Post("/api/session", [&service](const httplib::Request& request, httplib::Response& response) {
        auto body = jsonBody(request);
        if (!body || !(*body)["email"].is_string() || !(*body)["password"].is_string())
            return sendError(response, 400, "email and password are required");
        auto account =
            service.store().signIn((*body)["email"].get<std::string>(), (*body)["password"].get<std::string>());
        if (!account) return sendError(response, 401, "wrong email or password");
        response.set_header("Set-Cookie", sessionCookieHeader(service.openSession(account->id)));
        sendJSON(response, 200, {{"user", account->profile()}});
    });

    server.Get("/api/session", [&service](const httplib::Request& request, httplib::Response& response) {
        auto account = service.sessionAccount(request);
        if (!account) return sendError(response, 401, "not signed in");
        sendJSON(response, 200, {{"user", account->profile()}});
    });

    server.Delete("/api/session", [&service](const httplib::Request& request, httplib::Response& response) {
        service.closeSession(request);
        response.set_header("Set-Cookie", std::string(Service::sessionCookie) + "=; Path=/; Max-Age=0");
        sendJSON(response, 200, {{"ok", true}});
    });
}

} // namespace vanto::devservice
