// Recordings assistants ask for: the request queue, claims, heartbeats, reports and the
// driver's commands, and the routes a test uses to play the assistant.

#include "Cloud.h"

#include "Crypto.h"
#include "Faults.h"
#include "Library.h"
#include "Routes.h"
#include "Service.h"

#include <openssl/evp.h>

#include <chrono>

namespace vanto::devservice {
namespace {

bool isStop(const nlohmann::json& value) {
    return value.is_string() && (value == "cancel" || value == "switch_off");
}

// Standard Base64 with padding; none for anything else.
std::optional<std::size_t> decodedLength(const std::string& text) {
    if (text.size() % 4 != 0) return std::nullopt;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/';
        bool padding = c == '=' && i + 2 >= text.size() && (i + 1 == text.size() || text[i + 1] == '=');
        if (!plain && !padding) return std::nullopt;
    }
    std::string bytes(text.size() / 4 * 3, '\0');
    int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                 reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    std::size_t padded = text.ends_with("==") ? 2 : text.ends_with("=") ? 1 : 0;
    return static_cast<std::size_t>(length) - padded;
}

} // namespace

nlohmann::json CloudRuns::Run::toJSON() const {
    nlohmann::json out = {{"id", id},
                          {"request", request},
                          {"state", state},
                          {"attempt", attempt},
                          {"claimed", !claimToken.empty()},
                          {"taken_away", takenAway},
                          {"heartbeats", heartbeats},
                          {"reports", reports},
                          {"commands_waiting", commands.size()},
                          {"answers", answers},
                          {"take", take},
                          {"takes", takes}};
    if (attention) out["attention"] = *attention;
    if (stop) out["stop"] = *stop;
    return out;
}

std::string CloudRuns::enqueue(const nlohmann::json& request) {
    if (!request.is_object() || !request.contains("sheet") || !request["sheet"].is_object())
        throw LibraryError(400, "a request needs a \"sheet\" object");
    for (const char* key : {"requested_by", "into_video_id"})
        if (request.contains(key) && !request[key].is_string())
            throw LibraryError(400, std::string("\"") + key + "\" must be a string");
    if (request.contains("limits") && !request["limits"].is_object())
        throw LibraryError(400, "\"limits\" must be an object");
    std::lock_guard lock(mutex_);
    Run run;
    run.id = "run-" + std::to_string(++lastRun_);
    run.request = {{"sheet", request["sheet"]},
                   {"requested_by", request.value("requested_by", "Test Assistant")},
                   {"limits", request.value("limits", nlohmann::json::object())}};
    if (request.contains("into_video_id")) run.request["into_video_id"] = request["into_video_id"];
    order_.push_back(run.id);
    auto id = run.id;
    runs_.emplace(id, std::move(run));
    return id;
}

std::optional<nlohmann::json> CloudRuns::claim(const std::string& accountID,
                                               const std::optional<std::string>& attention) {
    std::lock_guard lock(mutex_);
    for (const auto& id : order_) {
        Run& run = runs_.at(id);
        bool waiting = run.state == "waiting" || run.offeredAgain;
        if (!waiting || run.takenAway) continue;
        if (run.offeredAgain && run.accountID != accountID) continue;
        bool resume = run.offeredAgain;
        if (!resume) {
            ++run.attempt;
            run.claimToken = randomHex(24);
            run.accountID = accountID;
            run.state = "claimed";
        }
        run.offeredAgain = false;
        run.attention = attention;
        nlohmann::json claim = {{"id", run.id},
                                {"attempt", run.attempt},
                                {"requested_by", run.request["requested_by"]},
                                {"sheet", run.request["sheet"]},
                                {"claim_token", run.claimToken},
                                {"limits", run.request["limits"]},
                                {"resume", resume}};
        if (run.request.contains("into_video_id")) claim["into_video_id"] = run.request["into_video_id"];
        return claim;
    }
    return std::nullopt;
}

CloudRuns::Run& CloudRuns::find(const std::string& id) {
    auto it = runs_.find(id);
    if (it == runs_.end()) throw LibraryError(404, "no such run: " + id);
    return it->second;
}

CloudRuns::Run& CloudRuns::held(const std::string& id, const std::string& account, const nlohmann::json& body) {
    auto it = runs_.find(id);
    if (it == runs_.end() || it->second.claimToken.empty() || it->second.accountID != account)
        throw LibraryError(404, "no such run: " + id);
    Run& run = it->second;
    auto token = body.find("claim_token");
    if (token == body.end() || !token->is_string()) throw LibraryError(400, "\"claim_token\" must be a string");
    if (run.takenAway || !sameSecret(token->get<std::string>(), run.claimToken))
        throw LibraryError(409, "the run is no longer this recorder's");
    return run;
}

void CloudRuns::heartbeat(const std::string& id, const std::string& account, const nlohmann::json& body,
                          nlohmann::json& answer) {
    std::lock_guard lock(mutex_);
    Run& run = held(id, account, body);
    ++run.heartbeats;
    answer = nlohmann::json::object();
    if (run.stop) answer["stop"] = *run.stop;
}

void CloudRuns::report(const std::string& id, const std::string& account, const nlohmann::json& body,
                       nlohmann::json& answer) {
    std::lock_guard lock(mutex_);
    Run& run = held(id, account, body);
    auto stored = body;
    stored.erase("claim_token"); // a credential is never shown back
    if (stored.contains("state") && stored["state"].is_string()) run.state = stored["state"];
    run.reports.push_back(std::move(stored));
    answer = nlohmann::json::object();
    if (run.stop) answer["stop"] = *run.stop;
}

std::optional<nlohmann::json> CloudRuns::nextCommand(const std::string& id, const std::string& account,
                                                     const nlohmann::json& body) {
    std::unique_lock lock(mutex_);
    held(id, account, body);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(holdMs_);
    changed_.wait_until(lock, deadline, [&] {
        Run& run = runs_.at(id);
        return closing_ || run.takenAway || !run.commands.empty();
    });
    Run& run = held(id, account, body); // taken away while waiting: 409
    if (run.commands.empty()) return std::nullopt;
    auto command = std::move(run.commands.front());
    run.commands.pop_front();
    return command;
}

void CloudRuns::answerCommand(const std::string& id, const std::string& account, std::int64_t command,
                              const nlohmann::json& body) {
    std::lock_guard lock(mutex_);
    Run& run = held(id, account, body);
    if (!body.contains("result") || !body["result"].is_object())
        throw LibraryError(400, "\"result\" must be an object");
    nlohmann::json answer = {{"command", command}, {"result", body["result"]}};
    if (body.contains("screenshot")) {
        std::optional<std::size_t> length;
        if (body["screenshot"].is_string()) length = decodedLength(body["screenshot"].get<std::string>());
        if (!length) throw LibraryError(400, "\"screenshot\" must be standard Base64");
        answer["screenshot_bytes"] = *length;
    }
    run.answers.push_back(std::move(answer));
}

void CloudRuns::setTake(const std::string& id, const std::string& account, const nlohmann::json& body) {
    std::lock_guard lock(mutex_);
    Run& run = held(id, account, body);
    if (!body.contains("take") || !(body["take"].is_null() || body["take"].is_number_integer()))
        throw LibraryError(400, "\"take\" must be a scene position or null");
    run.take = body["take"];
    run.takes.push_back(body["take"]);
}

nlohmann::json CloudRuns::runs() {
    std::lock_guard lock(mutex_);
    auto list = nlohmann::json::array();
    for (const auto& id : order_) list.push_back(runs_.at(id).toJSON());
    return list;
}

nlohmann::json CloudRuns::run(const std::string& id) {
    std::lock_guard lock(mutex_);
    return find(id).toJSON();
}

void CloudRuns::setStop(const std::string& id, const std::string& stop) {
    std::lock_guard lock(mutex_);
    find(id).stop = stop;
}

void CloudRuns::takeAway(const std::string& id) {
    {
        std::lock_guard lock(mutex_);
        find(id).takenAway = true;
    }
    changed_.notify_all();
}

void CloudRuns::offerAgain(const std::string& id) {
    std::lock_guard lock(mutex_);
    Run& run = find(id);
    if (run.claimToken.empty()) throw LibraryError(409, "the run was never claimed");
    run.offeredAgain = true;
}

std::int64_t CloudRuns::queueCommand(const std::string& id, nlohmann::json command) {
    if (!command.is_object()) throw LibraryError(400, "a command is a JSON object");
    std::int64_t number = 0;
    {
        std::lock_guard lock(mutex_);
        Run& run = find(id);
        // Commands are numbered 1, 2, 3 ... unless the test numbers them itself.
        if (command.contains("id") && command["id"].is_number_integer())
            number = command["id"].get<std::int64_t>();
        else
            command["id"] = number = run.lastCommandID + 1;
        run.lastCommandID = std::max(run.lastCommandID, number);
        run.commands.push_back(std::move(command));
    }
    changed_.notify_all();
    return number;
}

void CloudRuns::setHoldMs(int ms) {
    std::lock_guard lock(mutex_);
    holdMs_ = ms;
}

void CloudRuns::close() {
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
}

void addCloudRoutes(httplib::Server& server, Service& service, CloudRuns& cloud) {
    // The recorder's side: signed in, with the run's claim token in a JSON body.
    auto recorder = [&service](auto work) {
        return [&service, work](const httplib::Request& request, httplib::Response& response) {
            if (answerPendingFault(response)) return;
            auto account = service.bearerAccount(request);
            if (!account) return sendError(response, 401, "not signed in");
            auto body = jsonBody(request);
            if (!body) return sendError(response, 400, "the body must be a JSON object");
            guarded(response, [&] { work(request, response, account->id, *body); });
        };
    };
    using Request = const httplib::Request&;
    using Response = httplib::Response&;
    using Body = const nlohmann::json&;
    using Account = const std::string&;

    server.Post("/api/recorder/claim", recorder([&cloud](Request, Response response, Account account, Body body) {
                    std::optional<std::string> attention;
                    if (body.contains("attention") && body["attention"].is_string()) attention = body["attention"];
                    auto claim = cloud.claim(account, attention);
                    if (!claim) {
                        response.status = 204;
                        return;
                    }
                    sendJSON(response, 200, *claim);
                }));
    server.Post(R"(/api/recorder/runs/([^/]+)/heartbeat)",
                recorder([&cloud](Request request, Response response, Account account, Body body) {
                    nlohmann::json answer;
                    cloud.heartbeat(request.matches[1], account, body, answer);
                    sendJSON(response, 200, answer);
                }));
    server.Post(R"(/api/recorder/runs/([^/]+)/report)",
                recorder([&cloud](Request request, Response response, Account account, Body body) {
                    nlohmann::json answer;
                    cloud.report(request.matches[1], account, body, answer);
                    sendJSON(response, 200, answer);
                }));
    server.Post(R"(/api/recorder/runs/([^/]+)/commands/next)",
                recorder([&cloud](Request request, Response response, Account account, Body body) {
                    auto command = cloud.nextCommand(request.matches[1], account, body);
                    if (!command) {
                        response.status = 204;
                        return;
                    }
                    sendJSON(response, 200, *command);
                }));
    server.Post(R"(/api/recorder/runs/([^/]+)/commands/take)",
                recorder([&cloud](Request request, Response response, Account account, Body body) {
                    cloud.setTake(request.matches[1], account, body);
                    sendJSON(response, 200, nlohmann::json::object());
                }));
    server.Post(R"(/api/recorder/runs/([^/]+)/commands/(\d{1,18})/result)",
                recorder([&cloud](Request request, Response response, Account account, Body body) {
                    cloud.answerCommand(request.matches[1], account, std::stoll(request.matches[2]), body);
                    sendJSON(response, 200, nlohmann::json::object());
                }));

    // The assistant's and the operator's side, for tests and for trying things offline.
    auto control = [](auto work) {
        return [work](const httplib::Request& request, httplib::Response& response) {
            guarded(response, [&] { work(request, response); });
        };
    };
    server.Post("/__cloud/requests", control([&cloud](Request request, Response response) {
                    auto body = nlohmann::json::parse(request.body, nullptr, false);
                    sendJSON(response, 201, {{"id", cloud.enqueue(body)}});
                }));
    server.Get("/__cloud/runs", control([&cloud](Request, Response response) {
                   sendJSON(response, 200, {{"runs", cloud.runs()}});
               }));
    server.Get(R"(/__cloud/runs/([^/]+))", control([&cloud](Request request, Response response) {
                   sendJSON(response, 200, cloud.run(request.matches[1]));
               }));
    server.Post(R"(/__cloud/runs/([^/]+)/stop)", control([&cloud](Request request, Response response) {
                    auto body = nlohmann::json::parse(request.body, nullptr, false);
                    if (!body.is_object() || !isStop(body["stop"]))
                        return sendError(response, 400, "\"stop\" must be \"cancel\" or \"switch_off\"");
                    cloud.setStop(request.matches[1], body["stop"]);
                    sendJSON(response, 200, cloud.run(request.matches[1]));
                }));
    server.Post(R"(/__cloud/runs/([^/]+)/take-away)", control([&cloud](Request request, Response response) {
                    cloud.takeAway(request.matches[1]);
                    sendJSON(response, 200, cloud.run(request.matches[1]));
                }));
    server.Post(R"(/__cloud/runs/([^/]+)/offer-again)", control([&cloud](Request request, Response response) {
                    cloud.offerAgain(request.matches[1]);
                    sendJSON(response, 200, cloud.run(request.matches[1]));
                }));
    server.Post(R"(/__cloud/runs/([^/]+)/commands)", control([&cloud](Request request, Response response) {
                    auto body = nlohmann::json::parse(request.body, nullptr, false);
                    sendJSON(response, 201, {{"id", cloud.queueCommand(request.matches[1], body)}});
                }));
    server.Post("/__cloud/settings", control([&cloud](Request request, Response response) {
                    auto body = nlohmann::json::parse(request.body, nullptr, false);
                    auto hold = body.is_object() ? body.find("command_hold_ms") : body.end();
                    if (hold == body.end() || !hold->is_number_integer() || *hold < 0 || *hold > 60'000)
                        return sendError(response, 400, "\"command_hold_ms\" must be from 0 to 60000");
                    cloud.setHoldMs(hold->get<int>());
                    sendJSON(response, 200, {{"command_hold_ms", *hold}});
                }));
}

} // namespace vanto::devservice
