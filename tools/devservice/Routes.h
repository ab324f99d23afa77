#pragma once

#include "Service.h"

#include <httplib.h>

namespace vanto::devservice {

// One function per group of endpoints, each in its own file.

// GET /api/profile
void addProfileRoutes(httplib::Server& server, Service& service);
// DELETE /api/extension/tokens/current; POST /api/extension/tokens (signed-in web app)
void addTokenRoutes(httplib::Server& server, Service& service);
// POST, GET and DELETE /api/session: the web application's sign-in
void addSessionRoutes(httplib::Server& server, Service& service);
// GET /connect and its assets; GET / (a short index)
void addConnectPage(httplib::Server& server, Service& service);

} // namespace vanto::devservice
