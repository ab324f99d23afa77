#include "cloud/CloudReport.h"

#include "base/Json.h"
#include "base/Text.h"

#include <cmath>
#include <mutex>

namespace vanto::CloudReport {
namespace {

nlohmann::json state(const char* state, const char* code) {
    return {{"state", state}, {"code", code}};
}

nlohmann::json failed(const char* code, const char* detail) {
    return {{"state", "failed"}, {"code", code}, {"detail", detail}};
}

} // namespace

Stop stopFor(const std::string& instruction) {
    return instruction == "switch_off" ? Stop::switchOff : Stop::cancelled;
}

std::optional<Stop> stopOf(const SheetReport& report, std::optional<Stop> active) {
    if (active) return active;
    if (report.state == SheetReport::State::failed && report.error &&
        report.error->find(stoppedPartWay) != std::string::npos)
        return Stop::stoppedOnMac;
    return std::nullopt;
}

nlohmann::json summary(const SheetReport& report) {
    auto takes = nlohmann::json::array();
    for (const auto& take : report.takes) {
        nlohmann::json entry = {
            {"scene", take.scene}, {"name", take.name}, {"state", SheetReport::Take::stateName(take.state)}};
        if (take.recordingID) entry["recording_id"] = *take.recordingID;
        if (take.atMs) entry["at_ms"] = *take.atMs;
        if (take.durationMs) entry["duration_ms"] = *take.durationMs;
        if (take.error) entry["error"] = text::firstCharacters(*take.error, 300);
        takes.push_back(std::move(entry));
    }
    return {{"takes", std::move(takes)}};
}

nlohmann::json body(const SheetReport& report, std::optional<Stop> stop) {
    nlohmann::json out = {{"report", summary(report)}};
    if (report.videoID) out["video_id"] = *report.videoID;
    switch (report.state) {
    case SheetReport::State::asking:
        out["state"] = "asking";
        break;
    case SheetReport::State::recording:
        out["state"] = "recording";
        break;
    case SheetReport::State::done:
        out["state"] = "done";
        break;
    case SheetReport::State::refused:
        out.update(state("refused", "consent_declined"));
        break;
    case SheetReport::State::failed:
        if (stop == Stop::cancelled || stop == Stop::switchOff)
            out.update(state("cancelled", stop == Stop::cancelled ? "cancelled" : "switch_off"));
        else if (stop == Stop::stoppedOnMac)
            out.update(state("cancelled", "stopped_on_mac"));
        else if (stop == Stop::tooLong)
            out.update(failed("take_failed", "the run recorded for longer than it may"));
        else
            out.update(failure("take_failed", report.error ? *report.error : "a take failed"));
        break;
    }
    return out;
}

nlohmann::json failure(const std::string& code, const std::string& description) {
    return {{"state", "failed"}, {"code", code}, {"detail", text::firstCharacters(description, 500)}};
}

bool isFinal(const nlohmann::json& body) {
    auto state = body.find("state");
    if (state == body.end() || !state->is_string()) return false;
    return *state == "done" || *state == "failed" || *state == "refused" || *state == "cancelled";
}

nlohmann::json asking() {
    return {{"state", "asking"}};
}
nlohmann::json declined() {
    return state("refused", "consent_declined");
}
nlohmann::json stoppedBeforeRecording(std::optional<Stop> stop) {
    return stop == Stop::switchOff ? state("cancelled", "switch_off") : state("cancelled", "cancelled");
}
nlohmann::json windowBusy() {
    return failed("take_failed", "Vanto was busy with another take");
}
nlohmann::json endedWithoutFinishing() {
    return failed("take_failed", "the run ended without finishing");
}
nlohmann::json quitDuringTheRun() {
    return failed("app_restarted", "Vanto quit during the run");
}
nlohmann::json lostTrack() {
    return failed("app_restarted", "Vanto lost track of the run");
}

std::string encoded(const nlohmann::json& body) {
    // Errors and names may come from other applications; a stray byte must not stop a report.
    return json::written(body, -1, nlohmann::json::error_handler_t::replace);
}

std::int64_t nextSeq(double wallSeconds) {
    static std::mutex lock;
    static std::int64_t last = 0;
    const auto now = static_cast<std::int64_t>(std::floor(wallSeconds * 1000));
    std::lock_guard guard(lock);
    last = std::max(now, last + 1);
    return last;
}

nlohmann::json sendable(nlohmann::json body, const std::string& claimToken, double wallSeconds) {
    body["claim_token"] = claimToken;
    body["seq"] = nextSeq(wallSeconds);
    return body;
}

} // namespace vanto::CloudReport
