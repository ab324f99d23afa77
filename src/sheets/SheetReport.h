#pragma once

#include "base/Random.h"
#include "sheets/DemoSheet.h"
#include "sheets/TakeOutcome.h"

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vanto {

// How far a demo sheet got, written beside it for whoever opened it: a person, a coding
// agent or a cloud run. Rewritten whole each time it changes.
struct SheetReport {
    enum class State { asking, recording, done, failed, refused };

    struct Take {
        enum class State { pending, recording, recorded, failed };
        // The state as the report's files and the service write it.
        static const char* stateName(State state);

        std::size_t scene = 0; // 0-based position in the sheet
        std::string name;
        State state = State::pending;
        std::optional<std::string> recordingID;
        std::optional<std::int64_t> atMs;
        std::optional<std::int64_t> durationMs;
        std::optional<std::vector<std::string>> steps;
        std::optional<std::vector<std::pair<std::int64_t, std::int64_t>>> idleMs;
        std::optional<std::string> warning;
        std::optional<std::string> error;

        bool operator==(const Take&) const = default;
    };

    std::string title;
    State state = State::recording;
    std::string runID;
    std::int64_t startedAt = 0; // whole seconds since 1970
    std::optional<std::string> videoID;
    std::optional<std::string> videoURL;
    std::optional<std::string> error;
    std::vector<Take> takes; // one per take, in sheet order

    bool operator==(const SheetReport&) const = default;

    // demo.json and demo both give demo.report.json, beside the sheet.
    static std::filesystem::path location(const std::filesystem::path& sheet);

    // A report that is recording, every take pending. Times are seconds since 1970.
    static SheetReport forSheet(const DemoSheet& sheet, double startedAt, Random& random);
    // The report of a sheet that could not be loaded: failed, with no takes.
    static SheetReport unreadable(const std::filesystem::path& sheet, const std::string& reason, double now,
                                  Random& random);

    void started(std::size_t scene);
    // landed: the take reached the service where it was meant to go.
    void finished(std::size_t scene, const TakeOutcome& outcome, bool landed);
    // Fails a report that is still recording; takes not yet begun stay pending.
    void abandoned(const std::string& reason);
    // A sheet that may not record itself, with the reason.
    void refused(const std::string& reason);

    nlohmann::json json() const;
    // Pretty-printed, keys sorted, dates in ISO 8601.
    std::string encoded() const;
    // Replaces the file atomically; throws std::filesystem::filesystem_error.
    void write(const std::filesystem::path& file) const;

private:
    Take* entry(std::size_t scene);
    void fail(std::size_t scene, const std::string& reason, std::optional<std::vector<std::string>> steps);
};

// The reason a report is abandoned with when the application quits during a take.
inline constexpr const char* quitDuringTheTake = "Vanto quit during the take";
// How a run's warning begins when its take was stopped before every step ran; a take's
// error carrying it tells a stop at the machine from other failures.
inline constexpr const char* stoppedPartWay = "stopped part-way";

// Shown when a report could not be saved during a run: this, then the error's description.
inline constexpr const char* couldNotWriteTheReport = "could not write the report: ";

// Whole seconds since 1970 as ISO 8601 text in UTC, such as 2026-12-09T07:21:07Z.
std::string iso8601(std::int64_t seconds);

} // namespace vanto
