#pragma once

#include "base/Random.h"
#include "capture/CaptureEvent.h"
#include "plan/Plan.h"
#include "platform/Clock.h"
#include "platform/Http.h"
#include "service/ConfigStore.h"
#include "service/UploadError.h"
#include "service/UploadResult.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vanto {

// Who a token belongs to.
struct Account {
    std::string id;
    std::optional<std::string> email;
    std::optional<std::string> name;
};

// The service answered a request about a cloud run with 409: the run is no longer this
// machine's (the service gave it away or ended it).
class Abandoned : public Error {
public:
    Abandoned() : Error("the service took the run away from this machine") {}
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
    // The random source makes the boundaries of uploaded parts; without one the
    // standard library's random device does.
    APIClient(Config config, Http& http, Clock& clock, Random& random);

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

    // POST /api/capture/plan: the planner's steps for a prompt. A 422 with a message is
    // the planner's question (PlanError); a body that is no plan is the decoder's error.
    // continues: the take goes into an existing video; stageOnly: a cloud run.
    Plan plan(const std::string& prompt, bool continues, bool stageOnly, std::stop_token stop = {}) const;

    // DELETE /api/extension/tokens/current within 10 s; every failure is ignored, so
    // an unreachable service never stands in the way of signing out locally.
    void revokeToken() const noexcept;

    // The answer's body as a JSON object; anything else is malformedResponse with the
    // request's path.
    static nlohmann::json jsonObject(const Http::Request& request, const Http::Response& response);

    // The path of a request's address, for messages.
    static std::string pathOf(const std::string& url);

    // An id as one segment of a request's path, escaped so that it names no other path.
    static std::string pathSegment(std::string_view id);

    // Recordings assistants ask for (APIClientCloud.cpp). Every request about a run
    // goes through sendForCloud, so a run taken away raises Abandoned. The records of
    // a claim and of a driver's commands belong to the cloud runs; here they stay JSON.

    static constexpr double claimTimeout = 20;
    // The service holds a request for the next command open until one arrives.
    static constexpr double nextCommandTimeout = 40;

    // send, except that 409 raises Abandoned.
    Http::Response sendForCloud(const Http::Request& request, std::stop_token stop = {}) const;

    // POST /api/recorder/claim: the claim answer's object with status 200; none with
    // any other success (nothing waits).
    std::optional<nlohmann::json> claimRun(const std::optional<std::string>& attention,
                                           std::stop_token stop = {}) const;
    // POST .../heartbeat and .../report (the body's bytes as they are): the service's
    // stop instruction, if its answer carries one.
    std::optional<std::string> heartbeat(const std::string& run, const std::string& claimToken,
                                         std::stop_token stop = {}) const;
    std::optional<std::string> report(const std::string& run, const std::string& json, std::stop_token stop = {}) const;

    struct AnswerCommandParams {
        std::string run;
        std::string claimToken;
        std::int64_t command = 0;
        nlohmann::json result;                 // the driver's answer as a JSON object
        std::optional<std::string> screenshot; // PNG bytes
    };

    // POST .../commands/next: the body of the command with status 200, for the driver
    // to read; none with any other success (no command yet).
    std::optional<std::string> nextCommand(const std::string& run, const std::string& claimToken,
                                           std::stop_token stop = {}) const;
    void answerCommand(const AnswerCommandParams& params, std::stop_token stop = {}) const;
    // POST .../commands/take: the scene being driven, or null when none is.
    void setTake(const std::string& run, const std::string& claimToken, std::optional<std::int64_t> scene,
                 std::stop_token stop = {}) const;

    // The stop instruction of an answer: its "stop" member when that is a string.
    static std::optional<std::string> stopInstruction(std::string_view body);

    // Take upload and placement (APIClientUpload.cpp).

    static constexpr std::size_t partSize = 8 * 1024 * 1024;

    using Progress = std::function<void(double)>;

    struct InitiateParams {
        std::string filename;
        std::string narration;
        bool isCapture = false; // the take has logged events
        std::string footageFor;
        std::string projectID;
        bool applyProjectSettings = false;
        std::string clientKey; // idempotency key; empty: none
    };

    struct UploadParams {
        std::filesystem::path file;
        std::string narration;
        std::vector<CaptureEvent> events;
        double duration = 0; // seconds
        std::string footageFor;
        std::string projectID;
        bool applyProjectSettings = false;
        std::string clientKey;
        Progress onProgress; // the fraction sent so far, after each part
    };

    struct InsertParams {
        std::string into;
        std::string sourceVideoID;
        std::int64_t inMs = 0;
        std::int64_t outMs = 0;
        std::int64_t atMs = 0;
        std::string clientKey;
    };

    // One stretch of a video's timeline; sourceVideoID absent: from the video itself.
    struct ClipRef {
        std::string id;
        std::int64_t inMs = 0;
        std::int64_t outMs = 0;
        std::optional<std::string> sourceVideoID;
        bool operator==(const ClipRef&) const = default;
    };

    static nlohmann::json initiateBody(const InitiateParams& params);
    // POST /api/upload/initiate: the new session's id.
    std::string initiate(const InitiateParams& params, std::stop_token stop = {}) const;
    // PUT each 8 MiB part as a multipart form; [{"part_number", "etag"}] in order.
    std::vector<nlohmann::json> uploadParts(const std::string& sessionID, const std::filesystem::path& file,
                                            const Progress& onProgress = {}, std::stop_token stop = {}) const;
    // POST /api/upload/<session>/complete: the video's id.
    std::string complete(const std::string& sessionID, const std::vector<nlohmann::json>& parts, bool retrying,
                         std::stop_token stop = {}) const;
    void postEvents(const std::string& videoID, const std::vector<CaptureEvent>& events, double duration,
                    std::stop_token stop = {}) const;
    // initiate, parts, complete, events.
    UploadResult upload(const UploadParams& params, std::stop_token stop = {}) const;

    // Where the take landed in the video, when the service says.
    std::optional<std::int64_t> insertTake(const InsertParams& params, std::stop_token stop = {}) const;
    std::vector<ClipRef> clips(const std::string& videoID, std::stop_token stop = {}) const;
    std::pair<ClipRef, ClipRef> split(const std::string& videoID, const std::string& clipID, std::int64_t atMs,
                                      std::stop_token stop = {}) const;
    void deleteClip(const std::string& videoID, const std::string& clipID, std::stop_token stop = {}) const;
    // Seconds.
    double videoLength(const std::string& videoID, std::stop_token stop = {}) const;
    void rename(const std::string& videoID, const std::string& title, std::stop_token stop = {}) const;
    // False on any failure, an unreachable service included.
    bool videoExists(const std::string& videoID, std::stop_token stop = {}) const noexcept;

private:
    void check(const Http::Request& request, const Http::Response& response) const;
    // Messages may quote what the service said; a service that echoes the token must
    // not make us show it.
    std::string withoutToken(std::string text) const;

    Config config_;
    Http& http_;
    Clock& clock_;
    Random* random_ = nullptr;
};

} // namespace vanto
