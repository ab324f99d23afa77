// Recordings assistants ask for: claiming a request, heartbeats and reports about a
// run, and the commands of a take the service drives.

#include "service/APIClient.h"

namespace vanto {
namespace {

std::string base64(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        auto n = (static_cast<unsigned char>(bytes[i]) << 16) | (static_cast<unsigned char>(bytes[i + 1]) << 8) |
                 static_cast<unsigned char>(bytes[i + 2]);
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += alphabet[(n >> 6) & 63];
        out += alphabet[n & 63];
    }
    if (i < bytes.size()) {
        auto n = static_cast<unsigned char>(bytes[i]) << 16;
        bool two = i + 1 < bytes.size();
        if (two) n |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        out += alphabet[(n >> 18) & 63];
        out += alphabet[(n >> 12) & 63];
        out += two ? alphabet[(n >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Texts read from other applications (labels, errors) may not be valid UTF-8; that
// must not keep an answer from the service.
Http::Request withBody(Http::Request request, const nlohmann::ordered_json& body) {
    request.headers.emplace_back("Content-Type", "application/json");
    request.body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    return request;
}

std::string runPath(const std::string& run, const std::string& rest) {
    return "/api/recorder/runs/" + APIClient::pathSegment(run) + rest;
}

} // namespace

Http::Response APIClient::sendForCloud(const Http::Request& request, std::stop_token stop) const {
    auto response = http_.send(request, stop);
    if (response.status == 409) throw Abandoned();
    check(request, response);
    return response;
}

std::optional<std::string> APIClient::stopInstruction(std::string_view body) {
    auto document = nlohmann::json::parse(body, nullptr, false);
    if (!document.is_object()) return std::nullopt;
    auto stop = document.find("stop");
    if (stop == document.end() || !stop->is_string()) return std::nullopt;
    return stop->get<std::string>();
}

std::optional<nlohmann::json> APIClient::claimRun(const std::optional<std::string>& attention,
                                                  std::stop_token stop) const {
    nlohmann::ordered_json body = nlohmann::ordered_json::object();
    if (attention) body["attention"] = *attention;
    auto claiming = withBody(request("/api/recorder/claim", "POST"), body);
    claiming.timeout = claimTimeout;
    auto answer = sendForCloud(claiming, stop);
    if (answer.status != 200) return std::nullopt;
    return jsonObject(claiming, answer);
}

std::optional<std::string> APIClient::heartbeat(const std::string& run, const std::string& claimToken,
                                                std::stop_token stop) const {
    auto beat = withBody(request(runPath(run, "/heartbeat"), "POST"), {{"claim_token", claimToken}});
    return stopInstruction(sendForCloud(beat, stop).body);
}

std::optional<std::string> APIClient::report(const std::string& run, const std::string& json,
                                             std::stop_token stop) const {
    auto reporting = request(runPath(run, "/report"), "POST");
    reporting.headers.emplace_back("Content-Type", "application/json");
    reporting.body = json;
    return stopInstruction(sendForCloud(reporting, stop).body);
}

std::optional<std::string> APIClient::nextCommand(const std::string& run, const std::string& claimToken,
                                                  std::stop_token stop) const {
    auto asking = withBody(request(runPath(run, "/commands/next"), "POST"), {{"claim_token", claimToken}});
    asking.timeout = nextCommandTimeout;
    auto answer = sendForCloud(asking, stop);
    if (answer.status != 200) return std::nullopt;
    return std::move(answer.body);
}

void APIClient::answerCommand(const AnswerCommandParams& params, std::stop_token stop) const {
    nlohmann::ordered_json body = {{"claim_token", params.claimToken}, {"result", params.result}};
    if (params.screenshot) body["screenshot"] = base64(*params.screenshot);
    auto path = runPath(params.run, "/commands/" + std::to_string(params.command) + "/result");
    sendForCloud(withBody(request(path, "POST"), body), stop);
}

void APIClient::setTake(const std::string& run, const std::string& claimToken, std::optional<std::int64_t> scene,
                        std::stop_token stop) const {
    nlohmann::ordered_json body = {{"claim_token", claimToken}, {"take", nullptr}};
    if (scene) body["take"] = *scene;
    sendForCloud(withBody(request(runPath(run, "/commands/take"), "POST"), body), stop);
}

} // namespace vanto
