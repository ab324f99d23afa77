#pragma once

#include "Library.h"
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
// POST /api/upload/initiate; PUT /api/upload/<session>/chunk; POST /api/upload/<session>/complete
void addUploadRoutes(httplib::Server& server, Service& service, Library& library);
// /api/video/<id>: the record, events, clips, timeline, file; GET /videos/<id>: its page
void addVideoRoutes(httplib::Server& server, Service& service, Library& library);

// Runs a route's work; a refusal of the library becomes its status and message.
template <class Work>
void guarded(httplib::Response& response, Work&& work) {
    try {
        work();
    } catch (const LibraryError& error) {
        sendError(response, error.status(), error.what());
    }
}

} // namespace vanto::devservice
