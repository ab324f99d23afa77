#include "sheets/SheetReport.h"

#include "base/AtomicFile.h"
#include "base/Json.h"
#include "base/Numbers.h"
#include "base/Uuid.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace vanto {
namespace {

std::int64_t wholeSeconds(double seconds) {
    return truncatedToInt64(seconds).value_or(0);
}

const char* text(SheetReport::State state) {
    switch (state) {
    case SheetReport::State::asking:
        return "asking";
    case SheetReport::State::recording:
        return "recording";
    case SheetReport::State::done:
        return "done";
    case SheetReport::State::failed:
        return "failed";
    case SheetReport::State::refused:
        return "refused";
    }
    return "failed";
}

template <typename T> void putIf(nlohmann::json& object, const char* key, const std::optional<T>& value) {
    if (value) object[key] = *value;
}

nlohmann::json idleJSON(const std::vector<std::pair<std::int64_t, std::int64_t>>& stretches) {
    auto list = nlohmann::json::array();
    for (const auto& [from, to] : stretches) list.push_back({from, to});
    return list;
}

nlohmann::json takeJSON(const SheetReport::Take& take) {
    nlohmann::json object = {
        {"scene", take.scene}, {"name", take.name}, {"state", SheetReport::Take::stateName(take.state)}};
    putIf(object, "recordingID", take.recordingID);
    putIf(object, "atMs", take.atMs);
    putIf(object, "durationMs", take.durationMs);
    putIf(object, "steps", take.steps);
    if (take.idleMs) object["idleMs"] = idleJSON(*take.idleMs);
    putIf(object, "warning", take.warning);
    putIf(object, "error", take.error);
    return object;
}

} // namespace

std::string iso8601(std::int64_t seconds) {
    using namespace std::chrono;
    const sys_seconds time{std::chrono::seconds{seconds}};
    const auto day = floor<days>(time);
    const year_month_day date{day};
    const hh_mm_ss clock{time - day};
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02lld:%02lld:%02lldZ", static_cast<int>(date.year()),
                  static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                  static_cast<long long>(clock.hours().count()), static_cast<long long>(clock.minutes().count()),
                  static_cast<long long>(clock.seconds().count()));
    return text;
}

std::filesystem::path SheetReport::location(const std::filesystem::path& sheet) {
    // stem() drops the last extension only, and keeps a name that has none.
    return sheet.parent_path() / (sheet.stem().string() + ".report.json");
}

SheetReport SheetReport::forSheet(const DemoSheet& sheet, double startedAt, Random& random) {
    SheetReport report;
    report.title = sheet.title;
    report.state = State::recording;
    report.runID = uuidString(random);
    report.startedAt = wholeSeconds(startedAt);
    for (std::size_t position : sheet.takes()) {
        Take take;
        take.scene = position;
        take.name = sheet.scenes[position].name;
        report.takes.push_back(std::move(take));
    }
    return report;
}

SheetReport SheetReport::unreadable(const std::filesystem::path& sheet, const std::string& reason, double now,
                                    Random& random) {
    SheetReport report;
    report.title = sheet.stem().string();
    report.state = State::failed;
    report.runID = uuidString(random);
    report.startedAt = wholeSeconds(now);
    report.error = "the sheet could not be read: " + reason;
    return report;
}

SheetReport::Take* SheetReport::entry(std::size_t scene) {
    auto it = std::find_if(takes.begin(), takes.end(), [&](const Take& take) { return take.scene == scene; });
    return it == takes.end() ? nullptr : &*it;
}

void SheetReport::started(std::size_t scene) {
    if (Take* take = entry(scene)) take->state = Take::State::recording;
}

void SheetReport::finished(std::size_t scene, const TakeOutcome& outcome, bool landed) {
    if (const auto* failure = std::get_if<TakeFailure>(&outcome)) {
        fail(scene, failure->description, std::nullopt);
        return;
    }
    const auto& run = std::get<TakeRun>(outcome);
    if (!landed) {
        // An empty warning says nothing, so it does not stand in for the reason.
        const bool warned = run.warning && !run.warning->empty();
        fail(scene, warned ? *run.warning : "the take was recorded but never uploaded", run.steps);
        return;
    }
    Take* take = entry(scene);
    if (!take) return;
    take->state = Take::State::recorded;
    take->recordingID = run.uploadID;
    take->atMs = run.insertedAtMs.value_or(0);
    take->durationMs = truncatedToInt64(run.duration * 1000).value_or(0);
    take->steps = run.steps;
    take->idleMs = run.idleMs;
    take->warning = run.warning;
    take->error.reset();
    videoID = run.insertedInto ? run.insertedInto : run.uploadID;
    videoURL = run.uploadURL;
    const bool allRecorded =
        std::all_of(takes.begin(), takes.end(), [](const Take& each) { return each.state == Take::State::recorded; });
    // done, failed and refused are final: only a recording report finishes.
    if (allRecorded && state == State::recording) state = State::done;
}

void SheetReport::fail(std::size_t scene, const std::string& reason, std::optional<std::vector<std::string>> steps) {
    Take* take = entry(scene);
    if (take) {
        take->state = Take::State::failed;
        take->error = reason;
        take->steps = std::move(steps);
    }
    if (state != State::recording) return;
    state = State::failed;
    error = "take \"" + (take ? take->name : std::string()) + "\" failed: " + reason;
}

void SheetReport::abandoned(const std::string& reason) {
    if (state != State::recording) return;
    for (Take& take : takes) {
        if (take.state != Take::State::recording) continue;
        take.state = Take::State::failed;
        take.error = reason;
    }
    state = State::failed;
    error = reason;
}

void SheetReport::refused(const std::string& reason) {
    state = State::refused;
    error = reason;
}

nlohmann::json SheetReport::json() const {
    nlohmann::json object = {{"title", title},
                             {"state", text(state)},
                             {"runID", runID},
                             {"startedAt", iso8601(startedAt)},
                             {"takes", nlohmann::json::array()}};
    putIf(object, "videoID", videoID);
    putIf(object, "videoURL", videoURL);
    putIf(object, "error", error);
    for (const Take& take : takes) object["takes"].push_back(takeJSON(take));
    return object;
}

std::string SheetReport::encoded() const {
    // A reason may quote bytes that are not text (a file name, a system message); the
    // report is written all the same, with those bytes replaced.
    return json::written(json(), 2, nlohmann::json::error_handler_t::replace) + "\n";
}

void SheetReport::write(const std::filesystem::path& file) const {
    writeAtomically(file, encoded());
}

const char* SheetReport::Take::stateName(State state) {
    switch (state) {
    case SheetReport::Take::State::pending:
        return "pending";
    case SheetReport::Take::State::recording:
        return "recording";
    case SheetReport::Take::State::recorded:
        return "recorded";
    case SheetReport::Take::State::failed:
        return "failed";
    }
    return "failed";
}

} // namespace vanto
