#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vanto::devservice {

// A planned misbehaviour for the next requests to a path, for tests:
// answer with a chosen status and body, wait first, or drop the connection unanswered.
struct Fault {
    std::string method; // empty: any method
    std::string path;   // exact, or a prefix when it ends in "*"
    int times = 1;
    int after = 0; // matching requests let through first
    std::optional<int> status;
    std::string body;
    std::string contentType;
    int delayMs = 0;
    bool drop = false;

    bool matches(const std::string& requestMethod, const std::string& requestPath) const;
    nlohmann::json toJSON() const;
    // Throws std::invalid_argument with the reason for an unusable description.
    static Fault fromJSON(const nlohmann::json& description);
};

// The faults still to happen, and the requests seen (method, path, the recorder header,
// whether a bearer token came: never the token itself).
class Faults {
public:
    void add(Fault fault);
    void clear();
    nlohmann::json pending();
    // The fault that applies to this request, counted as used.
    std::optional<Fault> take(const std::string& method, const std::string& path);

    void record(const httplib::Request& request);
    nlohmann::json requests();
    void clearRequests();

    static constexpr std::size_t keptRequests = 1000;

private:
    std::mutex mutex_;
    std::vector<Fault> faults_;
    std::deque<nlohmann::json> requests_;
};

// A fault with a status on a request that carries a body waits until the body has
// been read: answering first would close the connection on a client still sending,
// which it sees as a lost connection instead of the answer. The endpoint answers it
// through here once it holds the body; any fault left over is answered after the
// endpoint ran. True when the fault answered.
bool answerPendingFault(httplib::Response& response);

// POST, GET and DELETE /__faults; GET and DELETE /__requests; and the hook that
// applies the faults before any other route sees the request.
void addFaultRoutes(httplib::Server& server, Faults& faults);

} // namespace vanto::devservice
