#pragma once

#include "platform/Defaults.h"
#include "platform/ExtendedAttributes.h"
#include "platform/Permissions.h"
#include "sheets/SheetReport.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vanto {

// Whether a sheet that asks to record itself may: take after take, without anybody
// pressing Record or approving its steps.
namespace AgentRecording {

// The user-defaults key of the person's consent; true when not set.
inline constexpr const char* defaultsKey = "agentsMayRecord";

// Texts the window shows and the report carries, word for word.
inline constexpr const char* anotherTakeIsRecording = "another take is recording. Wait for it to finish.";
inline constexpr const char* waitingForAnotherSheet =
    "Vanto is waiting for permission to record another sheet. Try again once it has an answer.";
inline constexpr const char* downloaded = "this sheet was downloaded or sent from another machine, so it is not "
                                          "recorded on its own. Press Record for each take.";
inline constexpr const char* missingPermissions =
    "Vanto is missing Screen Recording or Accessibility. Grant both in Vanto's Settings > Permissions.";
inline constexpr const char* notConnected = "Vanto is not connected to an account, so there is nowhere to send the "
                                            "takes. Connect it from the Vanto window.";
inline constexpr const char* personSaidNo = "the person at the machine chose not to let agents record";
inline constexpr const char* askedAboutAnother = "another sheet was opened while Vanto was asking";
inline constexpr const char* refusalHeading = "This demo asked to record on its own";
inline constexpr const char* couldNotWriteReport = "Vanto could not write the demo's report";

// The question put to the person while agents may not record.
struct Question {
    const char* title;
    const char* text;
    const char* allow;
    const char* deny;
};
inline constexpr Question question{
    "Let agents record demos?",
    "A demo sheet asked to record on its own: take after take, without anybody pressing Record or approving its "
    "steps. Anything running on this computer could ask the same. You can change this later in Settings > Agents.",
    "Let Agents Record", "Don't Allow"};

// The person's answer; anotherSheet when a sheet was opened while the question was open.
enum class Answer { allow, deny, anotherSheet };

bool isAllowed(Defaults& defaults);

// True only when the file is a JSON object whose "unattended" is the Boolean true.
bool askedToRecordItself(const std::filesystem::path& sheet);

// What to do with a sheet opened while the person is asked about the sheet whose report
// is `asking`: carry on (nobody is asked), it is that same sheet, refuse it (with
// waitingForAnotherSheet), or open it plainly since it does not ask to record itself.
enum class WhileAsking { carryOn, sameSheet, refuse, openPlainly };
WhileAsking whileAsking(const std::filesystem::path& report, const std::optional<std::filesystem::path>& asking,
                        bool recordsItself);

// The file came from a browser's download or from another machine.
bool carriesDownloadMark(ExtendedAttributes& attributes, const std::filesystem::path& sheet);

// The first reason the sheet may not record itself, or none.
std::optional<std::string> refusal(const std::filesystem::path& sheet, ExtendedAttributes& attributes,
                                   Permissions& permissions, bool accountConnected);

// A refusal as the alert under refusalHeading says it: its first letter in upper case.
std::string alertText(const std::string& reason);

// Whether the recording goes on. While agents may not record, the report is saved as
// asking and the person asked; a yes is remembered and the report goes back to
// recording, anything else refuses it. Returns the refusal's reason, or none. Throws when
// the yes cannot be stored.
std::optional<std::string> consent(Defaults& defaults, SheetReport& report,
                                   const std::function<void(const SheetReport&)>& save,
                                   const std::function<Answer()>& ask);

} // namespace AgentRecording
} // namespace vanto
