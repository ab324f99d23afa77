#include "desk/SheetDesk.h"

#include "base/Text.h"
#include "cloud/CloudGuard.h"
#include "cloud/CloudPolicy.h"
#include "drivers/FileDriver.h"
#include "sheets/Placement.h"

#include <algorithm>

namespace vanto::SheetDesk {
namespace {

const SheetReport::Take* entry(const SheetReport& report, std::size_t scene) {
    auto it = std::find_if(report.takes.begin(), report.takes.end(),
                           [&](const SheetReport::Take& take) { return take.scene == scene; });
    return it == report.takes.end() ? nullptr : &*it;
}

std::string stateText(SheetReport::Take::State state) {
    switch (state) {
    case SheetReport::Take::State::pending:
        return "to record";
    case SheetReport::Take::State::recording:
        return "recording";
    case SheetReport::Take::State::recorded:
        return "recorded";
    case SheetReport::Take::State::failed:
        return "failed";
    }
    return "";
}

bool validScene(const OpenSheet& sheet, std::size_t scene) {
    return scene < sheet.progress.sheet.scenes.size();
}

std::optional<TakeFlow::Complaint> write(const SheetReport& report, const std::filesystem::path& file,
                                         const std::string& prefix) {
    try {
        report.write(file);
        return std::nullopt;
    } catch (const std::exception& error) {
        return TakeFlow::Complaint{AgentRecording::couldNotWriteReport, prefix + error.what()};
    }
}

// A sheet turned away: the report says why with every take pending, and the person is
// told under the heading of sheets that asked to record on their own.
void refuse(Opening& opening, const std::filesystem::path& location, SheetReport report, const std::string& reason) {
    report.refused(reason);
    if (auto failed = write(report, SheetReport::location(location), "")) opening.complaints.push_back(*failed);
    opening.complaints.push_back({AgentRecording::refusalHeading, AgentRecording::alertText(reason)});
}

} // namespace

std::optional<TakeFlow::Complaint> Complaints::complain(const TakeFlow::Complaint& complaint) {
    if (!selfRecording_) return complaint;
    unsaid_ = complaint.title + ". " + complaint.detail;
    return std::nullopt;
}

std::vector<Row> rows(const OpenSheet& sheet) {
    std::vector<Row> rows;
    const auto& scenes = sheet.progress.sheet.scenes;
    for (std::size_t i = 0; i < scenes.size(); ++i) {
        const auto& scene = scenes[i];
        std::string text = std::to_string(i + 1) + ". " + scene.name + ": ";
        if (scene.kind == Scene::Kind::hold) {
            text += "a hold, made in the editor";
        } else {
            const auto* take = entry(sheet.report, i);
            text += stateText(take ? take->state : SheetReport::Take::State::pending);
        }
        rows.push_back({text, i == sheet.progress.selected});
    }
    return rows;
}

Fields load(const OpenSheet& sheet, std::size_t scene) {
    Fields fields;
    if (!validScene(sheet, scene)) return fields;
    fields.prompt = sheet.progress.sheet.scenes[scene].prompt.value_or("");
    if (const auto place = sheet.progress.placement(scene)) {
        fields.video = place->videoID;
        fields.time = Placement::clock(place->atSeconds);
    }
    return fields;
}

std::optional<std::size_t> heldScene(const OpenSheet& sheet) {
    const auto selected = sheet.progress.selected;
    if (validScene(sheet, selected) && sheet.progress.sheet.scenes[selected].kind == Scene::Kind::hold)
        return selected + 1;
    return std::nullopt;
}

RunParams runParams(const OpenSheet& sheet, std::size_t scene, const TakeFlow::Take& take, std::filesystem::path output,
                    bool linked, std::shared_ptr<TakeDriver> driver) {
    RunParams params = TakeFlow::runParams(take, std::move(output), linked);
    const auto& demo = sheet.progress.sheet;
    params.project = demo.project;
    params.applyProjectSettings = demo.projectSettings;
    params.scene = static_cast<std::int64_t>(scene);
    params.driver = std::move(driver);
    if (validScene(sheet, scene)) {
        const auto& chosen = demo.scenes[scene];
        params.startURL = chosen.startURL;
        params.pageOnly = chosen.pageOnly;
        params.planFile = chosen.planFile;
        params.clientKey = chosen.clientKey;
        // Its steps arrive one at a time while recording: there is nothing to rehearse.
        if (chosen.driven) params.rehearse = false;
    }
    return params;
}

RunParams selfRecordingParams(const OpenSheet& sheet, std::size_t scene,
                              const std::optional<DemoProgress::Place>& place, std::filesystem::path output,
                              bool linked, std::shared_ptr<TakeDriver> driver) {
    TakeFlow::Take take;
    if (validScene(sheet, scene))
        take.prompt = text::trimWhitespaceAndNewlines(sheet.progress.sheet.scenes[scene].prompt.value_or(""));
    if (place) {
        take.into = place->videoID;
        take.atSeconds = place->atSeconds;
    }
    auto params = runParams(sheet, scene, take, std::move(output), linked, std::move(driver));
    params.assumeYes = true;
    params.cloud = sheet.cloud;
    return params;
}

std::shared_ptr<TakeDriver> driverFor(const OpenSheet& sheet, std::size_t scene, Clock& clock) {
    if (!validScene(sheet, scene) || !sheet.progress.sheet.scenes[scene].driven) return nullptr;
    if (sheet.driver) {
        // Made ready like the file driver: an assistant's run keeps its looks in a folder
        // of the run's, which the take writes into.
        sheet.driver->prepare();
        return sheet.driver;
    }
    auto driver = std::make_shared<FileDriver>(FileDriver::folderBeside(sheet.location), clock);
    try {
        driver->prepare();
    } catch (const std::exception&) {
        throw FileDriver::Failure::noFolder();
    }
    return driver;
}

TakeResult result(const AgentReport& report, const RunParams& params) {
    TakeRun run;
    run.steps = report.steps;
    run.duration = report.duration;
    run.warning = report.warning;
    run.uploadID = report.uploadID;
    run.uploadURL = report.uploadURL;
    run.insertedInto = report.insertedInto;
    run.insertedAtMs = report.insertedAtMs;
    run.idleMs = report.idleMs;
    // Uploaded, and put into the video it was meant for when one was named.
    const bool landed = params.upload && report.uploadID && (!params.into || report.insertedInto);
    return {run, landed};
}

TakeResult unattendedResult(const AgentReport& report, const RunParams& params, bool stopped) {
    auto taken = result(report, params);
    const bool partWay = report.warning && report.warning->find(stoppedPartWay) != std::string::npos;
    if (stopped || partWay)
        taken = {TakeFailure{report.warning.value_or(std::string(stoppedPartWay) + " through the flow")}, false};
    return taken;
}

void putOnStage(RunParams& params, const OpenSheet& sheet, const std::filesystem::path& profile,
                StageBrowser::Desktop& desktop, std::stop_token stop) {
    const auto& stage = sheet.progress.sheet.stage;
    if (!stage) return;
    params.pid = StageBrowser::ensure(*stage, profile, desktop, stop);
    if (!params.startURL) return;
    // The rehearsal starts from what the browser shows, so the take's page is opened
    // first (the run loads it again before recording). An assistant's run opens only
    // what its policy allows. The running browser takes the address over from the
    // process started here, in a new tab, and that process ends.
    const auto& url = *params.startURL;
    if (params.cloud) CloudGuard::check(url, params.cloud->allowedFiles, params.cloud->resolver());
    auto arguments = StageBrowser::arguments(StageBrowser::placement(*stage, desktop.windows), profile,
                                             StageBrowser::runsAsRoot(desktop.processes));
    arguments.back() = url;
    const auto opener = desktop.processes.launch(std::string(StageBrowser::program), arguments);
    if (!opener.pid) throw StageBrowser::Failure::couldNotLaunch(opener.failure);
    for (int look = 0; look < startPageLooks && !desktop.processes.launched(*opener.pid).ended; ++look)
        if (!desktop.clock.sleep(StageBrowser::lookAgain, stop)) throw Cancelled();
    if (!desktop.clock.sleep(startPageSettles, stop)) throw Cancelled();
}

void leaveStage(const OpenSheet& sheet, const std::filesystem::path& profile, Processes& processes) {
    if (!sheet.progress.sheet.stage || sheet.cloud) return;
    if (const auto pid = StageBrowser::running(processes, profile)) processes.terminate(*pid);
}

std::optional<TakeFlow::Complaint> save(const OpenSheet& sheet) {
    return write(sheet.report, sheet.reportFile(), couldNotWriteTheReport);
}

std::optional<TakeFlow::Complaint> started(OpenSheet& sheet, std::size_t scene) {
    sheet.report.started(scene);
    return save(sheet);
}

std::optional<TakeFlow::Complaint> finished(OpenSheet& sheet, std::size_t scene, const TakeResult& result) {
    sheet.progress.advance(scene, result.outcome);
    sheet.report.finished(scene, result.outcome, result.landed);
    return save(sheet);
}

Opening open(const std::filesystem::path& location, const Situation& situation, const Seams& seams) {
    Opening opening;
    bool recordsItself = situation.fromOutside && AgentRecording::askedToRecordItself(location);
    const auto reportFile = SheetReport::location(location);
    // A sheet turned away before it is looked at still gets a report when it can be read.
    auto turnAway = [&](const std::string& reason) {
        try {
            const auto sheet = DemoSheet::load(location);
            refuse(opening, location, SheetReport::forSheet(sheet, seams.clock.wallTime(), seams.random), reason);
        } catch (const DemoSheet::Failure& failure) {
            auto report = SheetReport::unreadable(location, failure.what(), seams.clock.wallTime(), seams.random);
            if (auto failed = write(report, reportFile, "")) opening.complaints.push_back(*failed);
            opening.complaints.push_back({AgentRecording::refusalHeading, AgentRecording::alertText(reason)});
        }
    };

    switch (AgentRecording::whileAsking(reportFile, situation.asking, recordsItself)) {
    case AgentRecording::WhileAsking::sameSheet:
        return opening;
    case AgentRecording::WhileAsking::refuse:
        turnAway(AgentRecording::waitingForAnotherSheet);
        return opening;
    case AgentRecording::WhileAsking::openPlainly:
        opening.answersTheQuestion = true;
        break;
    case AgentRecording::WhileAsking::carryOn:
        break;
    }
    // Asking does not record: only a take under way keeps the pane as it is.
    if (situation.takeRunning && !situation.asking) {
        opening.complaints.push_back({takeIsRecording, takeIsRecordingDetail});
        if (recordsItself) turnAway(AgentRecording::anotherTakeIsRecording);
        return opening;
    }

    DemoSheet sheet;
    try {
        sheet = DemoSheet::load(location);
    } catch (const DemoSheet::Failure& failure) {
        if (recordsItself) {
            auto report = SheetReport::unreadable(location, failure.what(), seams.clock.wallTime(), seams.random);
            if (auto failed = write(report, reportFile, "")) opening.complaints.push_back(*failed);
        }
        opening.complaints.push_back({couldNotOpen, failure.what()});
        opening.answersTheQuestion = false;
        return opening;
    }
    auto report = SheetReport::forSheet(sheet, seams.clock.wallTime(), seams.random);
    if (recordsItself) {
        if (auto failed = write(report, reportFile, "")) opening.complaints.push_back(*failed);
        const bool connected = situation.accountConnected;
        if (auto reason = AgentRecording::refusal(location, seams.attributes, seams.permissions, connected)) {
            refuse(opening, location, report, *reason);
            // Still the person's to record, take by take; their takes start a new report.
            report = SheetReport::forSheet(sheet, seams.clock.wallTime(), seams.random);
            recordsItself = false;
        }
    }
    opening.sheet =
        OpenSheet{location, DemoProgress(std::move(sheet)), std::move(report), std::nullopt, nullptr, nullptr};
    opening.recordsItself = recordsItself;
    return opening;
}

void recordItself(OpenSheet& sheet, Defaults& defaults, const SelfRun& run) {
    auto saved = [&](const SheetReport&) {
        if (auto failed = save(sheet)) run.complain(*failed);
        run.changed(sheet);
    };
    try {
        std::optional<std::string> refused;
        try {
            if (run.ask) refused = AgentRecording::consent(defaults, sheet.report, saved, run.ask);
        } catch (const std::exception& error) {
            // The yes could not be kept: asking again next time is better than recording
            // against a setting that says no.
            refused = std::string("the answer could not be stored: ") + error.what();
            sheet.report.refused(*refused);
        }
        if (refused) {
            saved(sheet.report);
            return;
        }
        recordOneAfterAnother(sheet.report, sheet.progress, run.record, saved);
    } catch (const Quit&) {
        sheet.report.abandoned(quitDuringTheTake);
        saved(sheet.report);
    }
}

std::string ended(const OpenSheet& sheet) {
    const bool assistant = sheet.cloud != nullptr;
    switch (sheet.report.state) {
    case SheetReport::State::done:
        return assistant ? "The assistant's demo is recorded: every take is in the video."
                         : "The sheet recorded itself: every take is in the video.";
    case SheetReport::State::refused:
    case SheetReport::State::failed:
        return (assistant ? "The assistant's demo stopped: " : "The sheet stopped: ") + sheet.report.error.value_or("");
    case SheetReport::State::asking:
    case SheetReport::State::recording:
        break;
    }
    return assistant ? "An assistant's demo is recording in the stage browser." : "The sheet is recording itself.";
}

} // namespace vanto::SheetDesk
