#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vanto::devservice {

class Service;

// Recordings assistants asked for, from the request to the last report, kept in memory.
// A request waits in a queue until a recorder claims it; the claim gets a token that
// every later request about the run must bring back. A test plays the assistant and
// the service's operator through the /__cloud routes: it enqueues requests, queues
// driver commands, tells the recorder to stop, takes a run away and reads everything
// the recorder sent.
class CloudRuns {
public:
    struct Run {
        std::string id;
        nlohmann::json request;        // "sheet", "requested_by", and "into_video_id", "limits" when given
        std::string state = "waiting"; // then "claimed", then the state the recorder last reported
        std::string accountID;         // who claimed it
        std::string claimToken;
        std::int64_t attempt = 0;
        bool offeredAgain = false; // the next claim is a resumption
        std::optional<std::string> attention;
        std::optional<std::string> stop; // what heartbeats and reports answer
        bool takenAway = false;
        int heartbeats = 0;
        std::vector<nlohmann::json> reports; // in the order they came, without the claim token
        std::deque<nlohmann::json> commands; // waiting for the driver
        std::int64_t lastCommandID = 0;
        std::vector<nlohmann::json> answers; // {"command", "result", "screenshot_bytes"?}
        nlohmann::json take;                 // the scene being driven, or null
        std::vector<nlohmann::json> takes;   // every take the recorder announced, in order

        // What tests read: everything but the claim token.
        nlohmann::json toJSON() const;
    };

    // How long "commands/next" holds a request open waiting for a command.
    static constexpr int defaultHoldMs = 25'000;

    // Throws LibraryError(400) for a request without a sheet object; the new run's id.
    std::string enqueue(const nlohmann::json& request);
    // The first waiting run, claimed for the account; none when nothing waits.
    std::optional<nlohmann::json> claim(const std::string& accountID, const std::optional<std::string>& attention);

    // Every recorder call about a run goes through here: 404 for a run that is not the
    // account's, 409 for a wrong token or a run taken away (LibraryError).
    void heartbeat(const std::string& run, const std::string& account, const nlohmann::json& body,
                   nlohmann::json& answer);
    void report(const std::string& run, const std::string& account, const nlohmann::json& body, nlohmann::json& answer);
    // The next command, waiting up to the hold time; none when none came.
    std::optional<nlohmann::json> nextCommand(const std::string& run, const std::string& account,
                                              const nlohmann::json& body);
    void answerCommand(const std::string& run, const std::string& account, std::int64_t command,
                       const nlohmann::json& body);
    void setTake(const std::string& run, const std::string& account, const nlohmann::json& body);

    // The operator's side.
    nlohmann::json runs();
    nlohmann::json run(const std::string& id);
    void setStop(const std::string& id, const std::string& stop);
    void takeAway(const std::string& id);
    void offerAgain(const std::string& id);
    std::int64_t queueCommand(const std::string& id, nlohmann::json command);
    void setHoldMs(int ms);

    // Wakes every held request so that the server can stop.
    void close();

private:
    Run& find(const std::string& id);
    Run& held(const std::string& id, const std::string& account, const nlohmann::json& body);

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, Run> runs_;
    std::vector<std::string> order_; // run ids as enqueued
    std::int64_t lastRun_ = 0;
    int holdMs_ = defaultHoldMs;
    bool closing_ = false;
};

// POST /api/recorder/claim; /api/recorder/runs/<run>/heartbeat, /report, /commands/next,
// /commands/<id>/result, /commands/take; and the /__cloud routes for tests.
void addCloudRoutes(httplib::Server& server, Service& service, CloudRuns& cloud);

} // namespace vanto::devservice
