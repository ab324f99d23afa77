#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <deque>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

namespace vanto::devservice {

class Service;

// A refused plan entry, in words for the command line or an error body.
class PlanBookError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The plans the planner answers with, in plans.json of the state folder, read afresh
// for every request so that entries added from the command line apply at once.
// An entry matches by its exact "prompt" or by a "pattern" (an ECMAScript regular
// expression searched in the prompt, ignoring case), and holds either a "plan" (an
// object with "steps") or a "question" the planner asks instead. The first exact
// entry wins; otherwise the first pattern that matches, in the order they were added.
class PlanBook {
public:
    explicit PlanBook(std::filesystem::path folder);

    // Checks the entry's shape (and its pattern) and appends it.
    void add(const nlohmann::json& entry);
    std::optional<nlohmann::json> find(const std::string& prompt);

    // The bodies of the planning requests seen, oldest first (at most 1,000).
    void record(const nlohmann::json& body);
    nlohmann::json requests();

    static constexpr const char* noPlanQuestion =
        "Which application should the demo use, and what should it show? Tell me what to click and type.";

private:
    nlohmann::json entries();

    std::filesystem::path file_;
    std::mutex mutex_;
    std::deque<nlohmann::json> requests_;
};

// POST /api/capture/plan for a signed-in client; POST and GET /__plans, GET
// /__plans/requests for tests.
void addPlannerRoutes(httplib::Server& server, Service& service, PlanBook& book);

} // namespace vanto::devservice
