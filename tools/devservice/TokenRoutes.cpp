#include "Routes.h"

namespace vanto::devservice {

void addTokenRoutes(httplib::Server& server, Service& service) {
    // The recorder signing out: the token it holds stops working at once.
    server.Delete("/api/extension/tokens/current",
                  [&service](const httplib::Request& request, httplib::Response& response) {
                      auto token = Service::bearerToken(request);
                      if (!token || !service.store().revokeToken(*token))
                          return sendError(response, 401, "not signed in");
                      sendJSON(response, 200, {{"ok", true}});
                  });

    // The connect page, signed in, asks for a token to hand to the recorder.
    server.Post("/api/extension/tokens", [&service](const httplib::Request& request, httplib::Response& response) {
        auto account = service.sessionAccount(request);
        if (!account) return sendError(response, 401, "sign in first");
        auto body = jsonBody(request).value_or(nlohmann::json::object());
        auto label = body.contains("label") && body["label"].is_string() ? body["label"].get<std::string>()
                                                                         : std::string("Vanto recorder");
        if (label.size() > 200) return sendError(response, 400, "the label is too long");
        sendJSON(response, 201, {{"token", service.store().issueToken(account->id, label)}});
    });
}

} // namespace vanto::devservice
