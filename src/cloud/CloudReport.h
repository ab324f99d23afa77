#pragma once

#include "sheets/SheetReport.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

namespace vanto {

// What a cloud run tells the service about itself: the bodies of its reports, word for
// word, and the sequence number that orders them.
namespace CloudReport {

// Why a run is being stopped.
enum class Stop { cancelled, switchOff, stoppedOnMac, tooLong };

// The stop a service's instruction asks for: "switch_off", or any other text to cancel.
Stop stopFor(const std::string& instruction);

// The stop a report shows when the run has none of its own: a take the person stopped
// at the machine ("stopped part-way").
std::optional<Stop> stopOf(const SheetReport& report, std::optional<Stop> active);

// {"takes": [...]}, one entry per take, its error cut to 300 characters.
nlohmann::json summary(const SheetReport& report);

// The progress or final result of a recording.
nlohmann::json body(const SheetReport& report, std::optional<Stop> stop);

// {"state": "failed", "code": code, "detail": the description cut to 500 characters}.
nlohmann::json failure(const std::string& code, const std::string& description);

// Whether the body ends the run ("done", "failed" or "refused" as its state, or "cancelled").
bool isFinal(const nlohmann::json& body);

nlohmann::json asking();
nlohmann::json declined();
// Stopped while the person was asked or the sheet prepared.
nlohmann::json stoppedBeforeRecording(std::optional<Stop> stop);
nlohmann::json windowBusy();
nlohmann::json endedWithoutFinishing();
// A run left behind by a crash or a quit, found at the next start.
nlohmann::json quitDuringTheRun();
// The service offers again a claim this machine has no result for.
nlohmann::json lostTrack();

// The body's bytes as sent: compact, keys sorted.
std::string encoded(const nlohmann::json& body);

// The next report's sequence number for this process: the time in milliseconds since
// 1970, or one more than the last number when that is larger, so that reports made in
// the same millisecond still come in order.
std::int64_t nextSeq(double wallSeconds);

// The body as posted: with the run's claim token and the next sequence number.
nlohmann::json sendable(nlohmann::json body, const std::string& claimToken, double wallSeconds);

} // namespace CloudReport
} // namespace vanto
