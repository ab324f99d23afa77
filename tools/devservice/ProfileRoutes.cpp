#include "Routes.h"

namespace vanto::devservice {

void addProfileRoutes(httplib::Server& server, Service& service) {
    server.Get("/api/profile", [&service](const httplib::Request& request, httplib::Response& response) {
        auto account = service.bearerAccount(request);
        if (!account) return sendError(response, 401, "not signed in");
        sendJSON(response, 200, {{"user", account->profile()}});
    });
}

} // namespace vanto::devservice
