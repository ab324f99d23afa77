// Take upload and placement: the upload session, the multipart parts, the event log,
// and the clip operations that place a take in a video and cut it.

#include "service/APIClient.h"

#include "base/Json.h"
#include "base/Uuid.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <mutex>
#include <random>
#include <span>
#include <system_error>

namespace vanto {
namespace {

// Used when the client was made without a random source: boundaries only need to be
// unlikely to occur in the movie, not secret.
class DeviceRandom final : public Random {
public:
    void fill(std::span<std::uint8_t> bytes) override {
        std::lock_guard lock(mutex_);
        for (auto& byte : bytes) byte = static_cast<std::uint8_t>(device_() & 0xff);
    }

private:
    std::mutex mutex_;
    std::random_device device_;
};

Random& fallbackRandom() {
    static DeviceRandom random;
    return random;
}

// An id as one segment of a request's path. Ids come from the service or the person
// at the machine; either way "/", "." and "%" must not change which path is asked for.
std::string segment(std::string_view id) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string out;
    for (char c : id) {
        auto byte = static_cast<unsigned char>(c);
        bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                     byte == '-' || byte == '_' || byte == '~';
        if (plain) {
            out += c;
        } else {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 0x0F];
        }
    }
    return out;
}

} // namespace

std::string APIClient::pathSegment(std::string_view id) {
    return segment(id);
}

namespace {

// A request with a JSON body whose keys keep the order they were written in.
Http::Request withJSON(Http::Request request, const nlohmann::ordered_json& body) {
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = body.dump();
    return request;
}

// The answer's string member, or malformedResponse naming what was asked.
std::string requiredText(const Http::Response& response, const char* key, const std::string& what) {
    auto document = nlohmann::json::parse(response.body, nullptr, false);
    if (!document.is_object()) throw UploadError::malformedResponse(what);
    auto it = document.find(key);
    if (it == document.end() || !it->is_string()) throw UploadError::malformedResponse(what);
    return it->get<std::string>();
}

std::int64_t wholeMilliseconds(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    return static_cast<std::int64_t>(seconds * 1000);
}

std::optional<APIClient::ClipRef> clipFrom(const nlohmann::json& value) {
    if (!value.is_object()) return std::nullopt;
    auto id = value.find("id");
    auto in = value.find("in_ms");
    auto out = value.find("out_ms");
    if (id == value.end() || !id->is_string() || in == value.end() || out == value.end()) return std::nullopt;
    constexpr auto limit = std::numeric_limits<std::int64_t>::max() / 2;
    auto inMs = json::wholeNumber(*in, -limit, limit);
    auto outMs = json::wholeNumber(*out, -limit, limit);
    if (!inMs || !outMs) return std::nullopt;
    APIClient::ClipRef clip{id->get<std::string>(), *inMs, *outMs, std::nullopt};
    if (auto source = value.find("source_video_id"); source != value.end() && !source->is_null()) {
        if (!source->is_string()) return std::nullopt;
        clip.sourceVideoID = source->get<std::string>();
    }
    return clip;
}

// {"clips": [...]} as clip references; anything else is malformedResponse with the path.
std::vector<APIClient::ClipRef> clipList(const Http::Request& request, const Http::Response& response) {
    auto document = APIClient::jsonObject(request, response);
    auto list = document.find("clips");
    if (list == document.end() || !list->is_array())
        throw UploadError::malformedResponse(APIClient::pathOf(request.url));
    std::vector<APIClient::ClipRef> clips;
    for (const auto& entry : *list) {
        auto clip = clipFrom(entry);
        if (!clip) throw UploadError::malformedResponse(APIClient::pathOf(request.url));
        clips.push_back(std::move(*clip));
    }
    return clips;
}

// Reads the take one part at a time; the file closes with it. Only a regular file is
// read, and only the bytes it had when it was opened: a device would never end and a
// pipe may never start, and a take still growing would not match what was promised.
class TakeReader {
public:
    explicit TakeReader(const std::filesystem::path& file) : path_(file) {
        std::error_code error;
        auto status = std::filesystem::status(file, error);
        if (status.type() == std::filesystem::file_type::directory)
            throw Error("cannot read " + file.string() + ": it is a folder");
        if (!error && status.type() != std::filesystem::file_type::regular)
            throw Error("cannot read " + file.string() + ": it is not a regular file");
        in_.open(file, std::ios::binary);
        if (!in_.is_open()) {
            (void)std::filesystem::status(file, error);
            throw Error("cannot read " + file.string() + ": " +
                        (error ? error.message() : std::string("it cannot be opened")));
        }
        auto size = std::filesystem::file_size(file, error);
        if (error) throw Error("cannot read " + file.string() + ": " + error.message());
        total_ = size;
    }

    std::uint64_t total() const { return total_; }

    // Up to size bytes into place, never past the size the file had at the start; how many came.
    std::size_t read(char* place, std::size_t size) {
        auto wanted = static_cast<std::size_t>(std::min<std::uint64_t>(size, total_ - consumed_));
        in_.read(place, static_cast<std::streamsize>(wanted));
        auto got = static_cast<std::size_t>(in_.gcount());
        if (got < wanted && in_.bad()) throw Error("cannot read " + path_.string() + " to the end");
        if (got < wanted) throw Error("cannot read " + path_.string() + ": it became shorter while it was uploaded");
        consumed_ += got;
        return got;
    }

private:
    std::filesystem::path path_;
    std::ifstream in_;
    std::uint64_t total_ = 0;
    std::uint64_t consumed_ = 0;
};

} // namespace

APIClient::APIClient(Config config, Http& http, Clock& clock, Random& random)
    : config_(std::move(config)), http_(http), clock_(clock), random_(&random) {}

nlohmann::json APIClient::initiateBody(const InitiateParams& params) {
    nlohmann::json body = {{"filename", params.filename},
                           {"content_type", "video/quicktime"},
                           {"mode", "demo"},
                           {"prompt", params.narration}};
    if (params.isCapture) body["source"] = "capture";
    if (!params.clientKey.empty()) body["client_key"] = params.clientKey;
    if (!params.footageFor.empty()) {
        body["footage_for"] = params.footageFor;
    } else if (!params.projectID.empty()) {
        body["project_id"] = params.projectID;
        body["apply_project_settings"] = params.applyProjectSettings;
    }
    return body;
}

std::string APIClient::initiate(const InitiateParams& params, std::stop_token stop) const {
    auto initiating = request("/api/upload/initiate", "POST", initiateBody(params));
    // Only a keyed request may be repeated: the service recognises the key and does
    // not open a second session.
    auto answer = params.clientKey.empty() ? send(initiating, stop) : sendRetrying(initiating, stop);
    return requiredText(answer, "session_id", "upload/initiate");
}

std::vector<nlohmann::json> APIClient::uploadParts(const std::string& sessionID, const std::filesystem::path& file,
                                                   const Progress& onProgress, std::stop_token stop) const {
    TakeReader take(file);
    const std::string boundary = "vanto-" + uuidString(random_ ? *random_ : fallbackRandom());
    const std::string closing = "\r\n--" + boundary + "--\r\n";

    std::vector<nlohmann::json> parts;
    std::uint64_t sent = 0;
    // One body, reused: the part's bytes are read straight into it behind the form
    // header, so a part is in memory once and the take never is.
    // The buffer is made once and handed back and forth with the request, so every
    // part reuses it instead of growing a fresh one.
    std::string body;
    body.reserve(256 + boundary.size() + partSize + closing.size());
    for (std::int64_t number = 1;; ++number) {
        const auto partName = std::to_string(number);
        body.clear();
        body.append("--").append(boundary).append("\r\n");
        body.append("Content-Disposition: form-data; name=\"chunk\"; filename=\"part-")
            .append(partName)
            .append("\"\r\n");
        body.append("Content-Type: application/octet-stream\r\n").append("\r\n");
        const auto header = body.size();
        body.resize(header + partSize);
        const auto got = take.read(body.data() + header, partSize);
        if (got == 0) {
            if (number == 1) throw UploadError::emptyFile(file.string());
            break;
        }
        body.resize(header + got);
        body += closing;

        auto putting = request("/api/upload/" + segment(sessionID) + "/chunk?part_number=" + partName, "PUT");
        putting.headers.emplace_back("Content-Type", "multipart/form-data; boundary=" + boundary);
        putting.body = std::move(body);
        auto answer = send(putting, stop);
        body = std::move(putting.body);

        parts.push_back({{"part_number", number}, {"etag", requiredText(answer, "etag", "chunk " + partName)}});
        sent += got;
        if (take.total() >= 1 && onProgress)
            onProgress(std::min(1.0, static_cast<double>(sent) / static_cast<double>(take.total())));
        if (got < partSize) break;
    }
    return parts;
}

std::string APIClient::complete(const std::string& sessionID, const std::vector<nlohmann::json>& parts, bool retrying,
                                std::stop_token stop) const {
    auto list = nlohmann::ordered_json::array();
    for (const auto& part : parts) list.push_back({{"part_number", part.at("part_number")}, {"etag", part.at("etag")}});
    auto completing = withJSON(request("/api/upload/" + segment(sessionID) + "/complete", "POST"), {{"parts", list}});
    auto answer = retrying ? sendRetrying(completing, stop) : send(completing, stop);
    return requiredText(answer, "id", "upload/complete");
}

void APIClient::postEvents(const std::string& videoID, const std::vector<CaptureEvent>& events, double duration,
                           std::stop_token stop) const {
    auto payloads = nlohmann::ordered_json::array();
    for (const auto& event : events) payloads.push_back(servicePayload(event));
    nlohmann::ordered_json body;
    body["duration_ms"] = wholeMilliseconds(duration);
    body["events"] = std::move(payloads);
    send(withJSON(request("/api/video/" + segment(videoID) + "/events", "POST"), body), stop);
}

UploadResult APIClient::upload(const UploadParams& params, std::stop_token stop) const {
    // A take that is missing or empty is refused before the service is asked for a
    // session that would never be completed.
    {
        TakeReader probe(params.file);
        char first = 0;
        if (probe.read(&first, 1) == 0) throw UploadError::emptyFile(params.file.string());
    }
    InitiateParams initiating{
        params.file.filename().string(), params.narration, !params.events.empty(), params.footageFor, params.projectID,
        params.applyProjectSettings,     params.clientKey};
    std::string session;
    try {
        session = initiate(initiating, stop);
    } catch (const UploadError& error) {
        const bool unknownProject = error.kind() == UploadError::Case::http && error.status() == 400 &&
                                    error.serviceMessage().find("no such project") != std::string::npos;
        if (!unknownProject || params.projectID.empty()) throw;
        // The take matters more than the project: it goes up outside it.
        initiating.projectID.clear();
        session = initiate(initiating, stop);
    }
    auto parts = uploadParts(session, params.file, params.onProgress, stop);
    auto id = complete(session, parts, !params.clientKey.empty(), stop);
    std::string app = config_.apiBase;
    static constexpr std::string_view api = "//api.", web = "//app.";
    for (auto at = app.find(api); at != std::string::npos; at = app.find(api, at + web.size()))
        app.replace(at, api.size(), web);
    UploadResult result{id, app + "/videos/" + segment(id), static_cast<std::int64_t>(params.events.size())};
    if (!params.events.empty()) {
        try {
            postEvents(id, params.events, params.duration, stop);
        } catch (const Cancelled&) {
            throw;
        } catch (const Error& error) {
            // The video is there without its log; the person must know, or a retry makes a second one.
            throw UploadError::eventsNotSaved(id, result.url, params.file.string(), error.what());
        }
    }
    return result;
}

std::optional<std::int64_t> APIClient::insertTake(const InsertParams& params, std::stop_token stop) const {
    nlohmann::ordered_json body;
    body["source_video_id"] = params.sourceVideoID;
    body["in_ms"] = params.inMs;
    body["out_ms"] = params.outMs;
    body["at_ms"] = params.atMs;
    if (!params.clientKey.empty()) body["client_key"] = params.clientKey;
    auto inserting = withJSON(request("/api/video/" + segment(params.into) + "/clips/insert", "POST"), body);
    auto answer = params.clientKey.empty() ? send(inserting, stop) : sendRetrying(inserting, stop);
    auto document = nlohmann::json::parse(answer.body, nullptr, false);
    if (!document.is_object()) return std::nullopt;
    auto landed = document.find("at_ms");
    if (landed == document.end() || !landed->is_number()) return std::nullopt;
    auto at = landed->get<double>();
    // Past 2^53 a double no longer counts whole milliseconds, and far past it the
    // conversion has no value at all: no usable landing place.
    if (!std::isfinite(at) || std::fabs(at) > 9007199254740992.0) return std::nullopt;
    return static_cast<std::int64_t>(at);
}

std::vector<APIClient::ClipRef> APIClient::clips(const std::string& videoID, std::stop_token stop) const {
    auto listing = request("/api/video/" + segment(videoID) + "/clips", "GET");
    return clipList(listing, send(listing, stop));
}

std::pair<APIClient::ClipRef, APIClient::ClipRef>
APIClient::split(const std::string& videoID, const std::string& clipID, std::int64_t atMs, std::stop_token stop) const {
    nlohmann::ordered_json body;
    body["at_ms"] = atMs;
    auto splitting =
        withJSON(request("/api/video/" + segment(videoID) + "/clips/" + segment(clipID) + "/split", "POST"), body);
    auto pieces = clipList(splitting, send(splitting, stop));
    if (pieces.size() != 2) throw UploadError::malformedResponse(pathOf(splitting.url));
    return {pieces[0], pieces[1]};
}

void APIClient::deleteClip(const std::string& videoID, const std::string& clipID, std::stop_token stop) const {
    send(request("/api/video/" + segment(videoID) + "/clips/" + segment(clipID), "DELETE"), stop);
}

double APIClient::videoLength(const std::string& videoID, std::stop_token stop) const {
    auto asking = request("/api/video/" + segment(videoID) + "/timeline", "GET");
    auto document = nlohmann::json::parse(send(asking, stop).body, nullptr, false);
    if (!document.is_object()) throw UploadError::malformedResponse("timeline");
    auto duration = document.find("duration_ms");
    if (duration == document.end() || !duration->is_number()) throw UploadError::malformedResponse("timeline");
    return duration->get<double>() / 1000;
}

void APIClient::rename(const std::string& videoID, const std::string& title, std::stop_token stop) const {
    send(withJSON(request("/api/video/" + segment(videoID), "PATCH"), {{"title", title}}), stop);
}

bool APIClient::videoExists(const std::string& videoID, std::stop_token stop) const noexcept {
    try {
        send(request("/api/video/" + segment(videoID), "GET"), stop);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace vanto
