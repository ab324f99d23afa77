#include "base/Text.h"
// Videos: the event log, the clips (insert, split, delete), the timeline, the record
// itself, and each video's page on the web application.

#include "Faults.h"
#include "Routes.h"

#include <fstream>
#include <memory>

namespace vanto::devservice {
namespace fs = std::filesystem;
namespace {

std::string seconds(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(ms) / 1000);
    return text;
}

// Streams a file from disk, a megabyte at a time.
void sendFile(httplib::Response& response, const fs::path& file, const char* type) {
    std::error_code error;
    auto size = fs::file_size(file, error);
    if (error) return sendError(response, 404, "the video has no file");
    auto in = std::make_shared<std::ifstream>(file, std::ios::binary);
    response.set_content_provider(static_cast<std::size_t>(size), type,
                                  [in](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                                      std::vector<char> buffer(std::min<std::size_t>(length, 1 << 20));
                                      in->clear();
                                      in->seekg(static_cast<std::streamoff>(offset));
                                      in->read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
                                      auto got = static_cast<std::size_t>(in->gcount());
                                      if (got == 0) return false;
                                      return sink.write(buffer.data(), got);
                                  });
}

std::string videoPage(const nlohmann::json& video) {
    const std::string id = video["id"];
    std::string clips;
    for (const auto& clip : video["clips"])
        clips += "<li>" + text::escapedHTML(clip.value("source_video_id", id)) + ": " +
                 seconds(clip["in_ms"].get<std::int64_t>()) + " to " + seconds(clip["out_ms"].get<std::int64_t>()) +
                 "</li>";
    return "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" +
           text::escapedHTML(video.value("title", id)) +
           " - Vanto</title>\n<link rel=\"stylesheet\" href=\"/assets/app.css\">\n</head>\n<body data-video=\"" +
           text::escapedHTML(id) + "\">\n<main>\n<h1>" + text::escapedHTML(video.value("title", id)) +
           "</h1>\n<video controls preload=\"metadata\" src=\"/videos/" + text::escapedHTML(id) +
           "/movie\" style=\"max-width:100%\"></video>\n<p>Length " +
           seconds(video["duration_ms"].get<std::int64_t>()) + ", " + std::to_string(video.value("events", 0)) +
           " events, from " + text::escapedHTML(video.value("filename", "")) + ".</p>\n<h2>Clips</h2>\n<ol>" + clips +
           "</ol>\n</main>\n</body>\n</html>\n";
}

nlohmann::json objectBody(const httplib::Request& request) {
    auto body = jsonBody(request);
    if (!body) throw LibraryError(400, "the body must be a JSON object");
    return *body;
}

} // namespace

void addVideoRoutes(httplib::Server& server, Service& service, Library& library) {
    // Every API route: the bearer's account, then the work; refusals become answers.
    auto api = [&service](auto work) {
        return [&service, work](const httplib::Request& request, httplib::Response& response) {
            guarded(response, [&] {
                if (answerPendingFault(response)) return;
                auto account = service.bearerAccount(request);
                if (!account) return sendError(response, 401, "not signed in");
                work(account->id, request, response);
            });
        };
    };
    using Request = httplib::Request;
    using Response = httplib::Response;

    server.Get(R"(/api/video/([^/]+))",
               api([&library](const std::string& account, const Request& request, Response& response) {
                   sendJSON(response, 200, library.video(account, request.matches[1]));
               }));
    server.Patch(R"(/api/video/([^/]+))",
                 api([&library](const std::string& account, const Request& request, Response& response) {
                     auto body = objectBody(request);
                     auto title = body.find("title");
                     if (title == body.end() || !title->is_string())
                         return sendError(response, 400, "title must be a string");
                     sendJSON(response, 200, library.rename(account, request.matches[1], title->get<std::string>()));
                 }));
    server.Post(R"(/api/video/([^/]+)/events)",
                api([&library](const std::string& account, const Request& request, Response& response) {
                    auto body = objectBody(request);
                    library.storeEvents(account, request.matches[1], body);
                    sendJSON(response, 200, {{"ok", true}, {"events", body["events"].size()}});
                }));
    server.Get(R"(/api/video/([^/]+)/events)",
               api([&library](const std::string& account, const Request& request, Response& response) {
                   sendJSON(response, 200, library.events(account, request.matches[1]));
               }));
    server.Get(R"(/api/video/([^/]+)/file)",
               api([&library](const std::string& account, const Request& request, Response& response) {
                   sendFile(response, library.movie(account, request.matches[1]), "video/quicktime");
               }));
    server.Get(R"(/api/video/([^/]+)/clips)",
               api([&library](const std::string& account, const Request& request, Response& response) {
                   sendJSON(response, 200, library.clips(account, request.matches[1]));
               }));
    server.Post(R"(/api/video/([^/]+)/clips/insert)",
                api([&library](const std::string& account, const Request& request, Response& response) {
                    sendJSON(response, 200, library.insert(account, request.matches[1], objectBody(request)));
                }));
    server.Post(R"(/api/video/([^/]+)/clips/([^/]+)/split)",
                api([&library](const std::string& account, const Request& request, Response& response) {
                    sendJSON(response, 200,
                             library.split(account, request.matches[1], request.matches[2], objectBody(request)));
                }));
    server.Delete(R"(/api/video/([^/]+)/clips/([^/]+))",
                  api([&library](const std::string& account, const Request& request, Response& response) {
                      sendJSON(response, 200, library.deleteClip(account, request.matches[1], request.matches[2]));
                  }));
    server.Get(R"(/api/video/([^/]+)/timeline)",
               api([&library](const std::string& account, const Request& request, Response& response) {
                   sendJSON(response, 200, library.timeline(account, request.matches[1]));
               }));

    // The web application's pages are unlisted: whoever has the address may watch,
    // as with a shared link. Ids are random and long enough not to be guessed.
    server.Get(R"(/videos/([^/]+))", [&library](const Request& request, Response& response) {
        auto video = library.publicVideo(request.matches[1]);
        if (!video) {
            response.status = 404;
            response.set_content("<!doctype html><title>Not found</title><p>There is no such video.</p>",
                                 "text/html; charset=utf-8");
            return;
        }
        response.set_header("Content-Security-Policy", "default-src 'self'");
        response.set_content(videoPage(*video), "text/html; charset=utf-8");
    });
    server.Get(R"(/videos/([^/]+)/movie)", [&library](const Request& request, Response& response) {
        auto movie = library.publicMovie(request.matches[1]);
        if (!movie) return sendError(response, 404, "no such video");
        sendFile(response, *movie, "video/quicktime");
    });
}

} // namespace vanto::devservice
