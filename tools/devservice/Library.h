#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace vanto::devservice {

// A request the library refuses: the status to answer and the reason.
class LibraryError : public std::runtime_error {
public:
    LibraryError(int status, const std::string& message) : std::runtime_error(message), status_(status) {}
    int status() const { return status_; }

private:
    int status_;
};

// Upload sessions and videos, in the state folder:
//   uploads/<session>/session.json, part-<n>, part-<n>.etag
//   videos/<id>/video.json, take.mov, events.json
// Every operation holds one lock; parts are written to their file before they are
// taken in, so a slow upload never holds it.
class Library {
public:
    explicit Library(std::filesystem::path folder);

    // The session for an initiate body; the same session again for a client key the
    // account has used before.
    std::string initiate(const std::string& account, const nlohmann::json& body);

    // A temporary file in the session's folder for a part on its way in.
    std::filesystem::path partFile(const std::string& account, const std::string& session, std::int64_t number);
    // Takes the received part in under its number (replacing an earlier try); its etag.
    std::string acceptPart(const std::string& account, const std::string& session, std::int64_t number,
                           const std::filesystem::path& received, const std::string& etag);

    // Assembles the parts listed, in order, into the video's file; the video's id. A
    // session completed before answers with the same video.
    std::string complete(const std::string& account, const std::string& session, const nlohmann::json& parts);

    // The video's record as the API shows it; throws 404 for a video the account
    // does not own.
    nlohmann::json video(const std::string& account, const std::string& id);
    nlohmann::json rename(const std::string& account, const std::string& id, const std::string& title);
    void storeEvents(const std::string& account, const std::string& id, const nlohmann::json& body);
    nlohmann::json events(const std::string& account, const std::string& id);
    std::filesystem::path movie(const std::string& account, const std::string& id);

    nlohmann::json clips(const std::string& account, const std::string& id);
    nlohmann::json timeline(const std::string& account, const std::string& id);
    nlohmann::json insert(const std::string& account, const std::string& id, const nlohmann::json& body);
    nlohmann::json split(const std::string& account, const std::string& id, const std::string& clip,
                         const nlohmann::json& body);
    nlohmann::json deleteClip(const std::string& account, const std::string& id, const std::string& clip);

    // For the web application's page: the record and the file, whoever asks.
    std::optional<nlohmann::json> publicVideo(const std::string& id);
    std::optional<std::filesystem::path> publicMovie(const std::string& id);

    // The length in milliseconds a QuickTime or MP4 file's movie header gives; none
    // when the file is not such a movie.
    static std::optional<std::int64_t> movieDuration(const std::filesystem::path& file);

private:
    std::filesystem::path uploadFolder(const std::string& session) const;
    std::filesystem::path videoFolder(const std::string& id) const;
    nlohmann::json readSession(const std::string& account, const std::string& session);
    nlohmann::json readVideo(const std::string& id);
    nlohmann::json ownedVideo(const std::string& account, const std::string& id);
    void writeVideo(const nlohmann::json& record);
    nlohmann::json shown(const nlohmann::json& record);

    std::filesystem::path folder_;
    std::mutex mutex_;
};

bool validID(const std::string& id);

} // namespace vanto::devservice
