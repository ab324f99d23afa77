#pragma once

#include "agent/AgentReport.h"
#include "agent/RunParams.h"
#include "base/Random.h"
#include "desk/TakeFlow.h"
#include "drivers/TakeDriver.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/ExtendedAttributes.h"
#include "platform/Permissions.h"
#include "sheets/AgentRecording.h"
#include "sheets/DemoProgress.h"
#include "sheets/SelfRecording.h"
#include "sheets/SheetReport.h"
#include "stage/StageBrowser.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

namespace vanto {

class CloudPolicy;

// A demo sheet open in the window's demo pane: where it lies, how far it got and the
// report written beside it.
struct OpenSheet {
    std::filesystem::path location;
    DemoProgress progress;
    SheetReport report;
    // An assistant's run: its report lies in the run's folder rather than beside a
    // sheet, its driven scenes take their steps from the service, and every take keeps
    // to the run's policy.
    std::optional<std::filesystem::path> reportAt;
    std::shared_ptr<TakeDriver> driver;
    std::shared_ptr<const CloudPolicy> cloud;

    std::filesystem::path reportFile() const { return reportAt ? *reportAt : SheetReport::location(location); }
};

// What the window decides about demo sheets: opening one (from its menu, from the
// command line or from another program), the pane's rows, each take's run and what it
// came to, and a sheet that records itself. The window shows and forwards; the rules
// are here.
namespace SheetDesk {

// Complaints go to the person as alerts, except while a sheet records itself: nobody
// is there to close them, so the last one is kept, unsaid.
class Complaints {
public:
    // The complaint to show, or none while a sheet records itself.
    std::optional<TakeFlow::Complaint> complain(const TakeFlow::Complaint& complaint);
    void setSelfRecording(bool on) { selfRecording_ = on; }
    bool selfRecording() const { return selfRecording_; }
    const std::optional<std::string>& unsaid() const { return unsaid_; }

private:
    bool selfRecording_ = false;
    std::optional<std::string> unsaid_;
};

// One row of the demo pane: a scene with its take's state.
struct Row {
    std::string text;
    bool selected = false;
    bool operator==(const Row&) const = default;
};
std::vector<Row> rows(const OpenSheet& sheet);

// The pane's fields for a scene (`load`): its prompt, and the video and time where the
// last take ended, or empty fields when there is no such place.
struct Fields {
    std::string prompt;
    std::string video;
    std::string time;
    bool operator==(const Fields&) const = default;
};
Fields load(const OpenSheet& sheet, std::size_t scene);

// The selected scene's 1-based position when it is a hold, for Record's check.
std::optional<std::size_t> heldScene(const OpenSheet& sheet);

// The run of the take at `scene`: what Record began (or the place the last take ended,
// for a sheet that records itself), with the scene's start page, framing, plan and
// driver, and the sheet's project.
RunParams runParams(const OpenSheet& sheet, std::size_t scene, const TakeFlow::Take& take, std::filesystem::path output,
                    bool linked, std::shared_ptr<TakeDriver> driver);
// The run of a take of a sheet that records itself: the scene's prompt at the place
// given, with nobody asked to approve it.
RunParams selfRecordingParams(const OpenSheet& sheet, std::size_t scene,
                              const std::optional<DemoProgress::Place>& place, std::filesystem::path output,
                              bool linked, std::shared_ptr<TakeDriver> driver);

// The driver of a driven scene, made ready: the sheet's own (an assistant's run), else
// the file driver beside the sheet; none for a planned scene. Throws what the sheet's
// own driver throws, or FileDriver::Failure::noFolder.
std::shared_ptr<TakeDriver> driverFor(const OpenSheet& sheet, std::size_t scene, Clock& clock);

// What a run came to, as the report and the progress take it: landed when the take
// reached the service, and the video it was meant for when one was named.
TakeResult result(const AgentReport& report, const RunParams& params);
// The same for a take nobody pressed Record for: one that was stopped part-way fails
// with the run's warning, since nobody is there to choose to keep half a take, and the
// takes after it are not recorded.
TakeResult unattendedResult(const AgentReport& report, const RunParams& params, bool stopped);

// Before a take of a sheet with a stage: the stage browser runs with its window placed
// for the stage, the take is pinned to it (its process) and shows the take's start
// page. Nothing for a sheet without a stage. Throws StageBrowser::Failure, a refusal
// of an assistant's run's policy, or Cancelled.
inline constexpr int startPageLooks = 20;       // for the browser to take the page over
inline constexpr double startPageSettles = 1.5; // seconds for the page to load
void putOnStage(RunParams& params, const OpenSheet& sheet, const std::filesystem::path& profile,
                StageBrowser::Desktop& desktop, std::stop_token stop);
// After a sheet with a stage has recorded itself: its stage browser is asked to quit.
// An assistant's run leaves it, as the browser outlives runs.
void leaveStage(const OpenSheet& sheet, const std::filesystem::path& profile, Processes& processes);

// Writes the report beside the sheet; a failure is said, never thrown.
std::optional<TakeFlow::Complaint> save(const OpenSheet& sheet);

// A take Record starts and its end: the report marks it and is saved, and after it the
// progress moves on to the next take. Answers what could not be saved.
std::optional<TakeFlow::Complaint> started(OpenSheet& sheet, std::size_t scene);
std::optional<TakeFlow::Complaint> finished(OpenSheet& sheet, std::size_t scene, const TakeResult& result);

// The window as a sheet is opened.
struct Situation {
    bool fromOutside = false; // another program (or the command line) opened it
    bool takeRunning = false; // a take is recording
    // The report of the sheet the person is being asked about, if any.
    std::optional<std::filesystem::path> asking;
    bool accountConnected = false;
};

struct Seams {
    Defaults& defaults;
    ExtendedAttributes& attributes;
    Permissions& permissions;
    Clock& clock;
    Random& random;
};

// What opening a sheet came to: the sheet to show in the pane (and whether it then
// records itself), the complaints to make, and whether the question about another
// sheet is to be answered "another sheet was opened".
struct Opening {
    std::optional<OpenSheet> sheet;
    bool recordsItself = false;
    bool answersTheQuestion = false;
    std::vector<TakeFlow::Complaint> complaints;
};
Opening open(const std::filesystem::path& location, const Situation& situation, const Seams& seams);

// Said when a sheet is opened while a take records.
inline constexpr const char* takeIsRecording = "A take is recording";
inline constexpr const char* takeIsRecordingDetail = "Open the sheet again once it has finished.";
inline constexpr const char* couldNotOpen = "The demo sheet could not be opened";

// Thrown by a self-recording sheet's take when the application quits during it.
struct Quit {};

struct SelfRun {
    // None when the recording needs no consent here (an assistant's run, asked elsewhere).
    std::function<AgentRecording::Answer()> ask;
    // Records one take; throws Quit when the application is quitting.
    std::function<TakeResult(std::size_t scene, const std::optional<DemoProgress::Place>& place)> record;
    // After each save, with the sheet as it now stands.
    std::function<void(const OpenSheet&)> changed;
    std::function<void(const TakeFlow::Complaint&)> complain;
};

// On the take's thread: asks the person while agents may not record (when there is a
// question to ask), then records the takes one after another, each placed where the
// last ended, the first where the progress says. A quit abandons the report with
// "Vanto quit during the take".
void recordItself(OpenSheet& sheet, Defaults& defaults, const SelfRun& run);

// The status line while a sheet records itself and once it has (or stopped); an
// assistant's run is told as such, since the person never opened its sheet.
std::string ended(const OpenSheet& sheet);

} // namespace SheetDesk
} // namespace vanto
