#include "Planner.h"

#include "Faults.h"
#include "Service.h"
#include "base/AtomicFile.h"

#include <fstream>
#include <regex>

namespace vanto::devservice {

namespace fs = std::filesystem;

PlanBook::PlanBook(fs::path folder) : file_(std::move(folder) / "plans.json") {}

nlohmann::json PlanBook::entries() {
    std::ifstream in(file_);
    if (!in) return nlohmann::json::array();
    auto document = nlohmann::json::parse(in, nullptr, false);
    if (!document.is_array()) throw PlanBookError(file_.string() + " is not a list of plan entries");
    return document;
}

void PlanBook::add(const nlohmann::json& entry) {
    if (!entry.is_object()) throw PlanBookError("a plan entry is an object");
    const bool exact = entry.contains("prompt"), pattern = entry.contains("pattern");
    if (exact == pattern) throw PlanBookError("a plan entry has either \"prompt\" or \"pattern\"");
    const auto& key = exact ? entry["prompt"] : entry["pattern"];
    if (!key.is_string() || key.get<std::string>().empty())
        throw PlanBookError(std::string(exact ? "\"prompt\"" : "\"pattern\"") + " must be a non-empty string");
    if (pattern) {
        try {
            std::regex(key.get<std::string>(), std::regex::ECMAScript | std::regex::icase);
        } catch (const std::regex_error& error) {
            throw PlanBookError("the pattern does not compile: " + std::string(error.what()));
        }
    }
    const bool plan = entry.contains("plan"), question = entry.contains("question");
    if (plan == question) throw PlanBookError("a plan entry has either \"plan\" or \"question\"");
    if (plan && !(entry["plan"].is_object() && entry["plan"].contains("steps") && entry["plan"]["steps"].is_array()))
        throw PlanBookError("\"plan\" must be an object with a \"steps\" list");
    if (question && !(entry["question"].is_string() && !entry["question"].get<std::string>().empty()))
        throw PlanBookError("\"question\" must be a non-empty string");

    std::lock_guard lock(mutex_);
    auto all = entries();
    all.push_back(entry);
    fs::create_directories(file_.parent_path());
    writeAtomically(file_, all.dump(2) + "\n", fs::perms::owner_read | fs::perms::owner_write);
}

std::optional<nlohmann::json> PlanBook::find(const std::string& prompt) {
    std::lock_guard lock(mutex_);
    auto all = entries();
    for (const auto& entry : all)
        if (entry.contains("prompt") && entry["prompt"] == prompt) return entry;
    for (const auto& entry : all) {
        if (!entry.contains("pattern") || !entry["pattern"].is_string()) continue;
        try {
            std::regex pattern(entry["pattern"].get<std::string>(), std::regex::ECMAScript | std::regex::icase);
            if (std::regex_search(prompt, pattern)) return entry;
        } catch (const std::regex_error&) {
            // An entry edited by hand into a bad pattern matches nothing.
        }
    }
    return std::nullopt;
}

void PlanBook::record(const nlohmann::json& body) {
    std::lock_guard lock(mutex_);
    requests_.push_back(body);
    while (requests_.size() > 1000) requests_.pop_front();
}

nlohmann::json PlanBook::requests() {
    std::lock_guard lock(mutex_);
    return nlohmann::json(requests_);
}

void addPlannerRoutes(httplib::Server& server, Service& service, PlanBook& book) {
    server.Post("/api/capture/plan", [&service, &book](const httplib::Request& request, httplib::Response& response) {
        if (answerPendingFault(response)) return;
        if (!service.bearerAccount(request)) return sendError(response, 401, "not signed in");
        auto body = jsonBody(request);
        if (!body) return sendError(response, 400, "the body must be a JSON object");
        book.record(*body);
        if (!body->contains("prompt") || !(*body)["prompt"].is_string())
            return sendError(response, 400, "\"prompt\" must be a string");
        auto entry = book.find((*body)["prompt"].get<std::string>());
        if (!entry) return sendError(response, 422, PlanBook::noPlanQuestion);
        if (entry->contains("question")) return sendError(response, 422, (*entry)["question"].get<std::string>());
        sendJSON(response, 200, (*entry)["plan"]);
    });
    server.Post("/__plans", [&book](const httplib::Request& request, httplib::Response& response) {
        auto entry = nlohmann::json::parse(request.body, nullptr, false);
        try {
            book.add(entry);
        } catch (const PlanBookError& error) {
            return sendError(response, 400, error.what());
        }
        sendJSON(response, 201, {{"ok", true}});
    });
    server.Get("/__plans/requests", [&book](const httplib::Request&, httplib::Response& response) {
        sendJSON(response, 200, {{"requests", book.requests()}});
    });
}

} // namespace vanto::devservice
