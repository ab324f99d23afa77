#include "agent/Agent.h"

#include "agent/PlanSteps.h"
#include "agent/RunRegistry.h"
#include "base/Error.h"
#include "base/Files.h"
#include "base/Text.h"
#include "cloud/CloudGuard.h"
#include "cloud/CloudPolicy.h"
#include "plan/AgentError.h"
#include "service/ConfigStore.h"
#include "service/UploadError.h"
#include "sheets/SheetReport.h"

namespace vanto {
namespace {

// Registered for as long as the run lasts, whichever way it ends.
class Registration {
public:
    explicit Registration(RunRegistry& registry) : registry_(registry) { registry_.registerRun(); }
    ~Registration() { registry_.deregister(); }
    Registration(const Registration&) = delete;
    Registration& operator=(const Registration&) = delete;

private:
    RunRegistry& registry_;
};

} // namespace

Agent::Agent(Seams seams, ProgressLog log, Callbacks callbacks)
    : seams_(std::move(seams)), log_(std::move(log)), callbacks_(std::move(callbacks)) {}

std::filesystem::path Agent::runsFolder() {
    return ConfigStore(seams_.paths, seams_.processes).url().parent_path() / "runs";
}

std::vector<Step> Agent::prepared(std::vector<Step> steps, const std::optional<std::string>& startURL) {
    return PlanSteps::numbered(PlanSteps::skippingTheStart(std::move(steps), startURL));
}

std::string Agent::plannedLine(std::size_t number, const Step& step) {
    std::string line = "  " + std::to_string(number) + ". " + step.action;
    if (step.target) line += " target=\"" + *step.target + "\"";
    if (step.key) line += " key=" + *step.key;
    if (step.url) line += " url=" + *step.url;
    if (step.app) line += " app=" + *step.app;
    if (step.role) line += " role=" + *step.role;
    if (step.nth) line += " nth=" + std::to_string(*step.nth);
    if (step.near) line += " near=\"" + *step.near + "\"";
    return line;
}

Plan Agent::plan(const RunParams& params, const std::optional<APIClient>& api, std::stop_token stop) {
    if (params.planFile) {
        std::string bytes;
        try {
            bytes = readFile(*params.planFile);
        } catch (const std::filesystem::filesystem_error& error) {
            throw Error("could not read the plan at " + params.planFile->string() + ": " + error.code().message());
        }
        auto plan = decodePlan(bytes);
        log_("using " + params.planFile->filename().string() + "; the prompt is narration only, not the plan");
        return plan;
    }
    if (!api) throw UploadError::notConnected();
    log_("asking the planner");
    return api->plan(PlanSteps::planned(params.prompt, params.startURL), params.into.has_value(),
                     params.cloud != nullptr, stop);
}

bool Agent::calledOffNow(std::stop_token stop) {
    return stop.stop_requested() || (callbacks_.stopped && callbacks_.stopped());
}

void Agent::focusWindow(const WindowInfo& window) {
    const Rect frame{double(window.x), double(window.y), double(window.width), double(window.height)};
    seams_.mainThread.run([&] { seams_.resolver.windows().focus(frame, window.pid); });
}

AgentReport Agent::run(const RunParams& params, std::stop_token outer) {
    seams_.corrections.beginRun();
    seams_.scrollTrace.reset();
    // The panel's Stop, the caller's stop and the stopped callback all end the run's
    // task the same way, through this one source.
    std::stop_source runStop;
    std::stop_callback forward(outer, [&runStop] { runStop.request_stop(); });
    // On every way out the panels go, and what the run learned is stored.
    struct Tidy {
        Agent& agent;
        ~Tidy() {
            try {
                agent.seams_.mainThread.run([this] {
                    agent.seams_.hud.hide();
                    agent.seams_.indicator.hide();
                });
            } catch (...) {
                // The main thread is gone when the process is ending; nothing is left to hide.
            }
            agent.seams_.corrections.persist();
        }
    } tidy{*this};
    // A take meant for an existing video needs the link and the video before anything
    // happens on screen.
    if (params.into && params.upload) {
        auto api = seams_.serviceClient();
        if (!api) throw UploadError::notConnected();
        if (!api->videoExists(*params.into, runStop.get_token())) throw UploadError::noSuchVideo(*params.into);
    }
    seams_.mainThread.run([&] { seams_.hud.allowStopping([&runStop] { runStop.request_stop(); }); });
    try {
        return execute(params, runStop.get_token());
    } catch (const Cancelled&) {
        // A stop that ends a wait or a keystroke, rather than a step's own check, is
        // still the person's stop, and is said as such.
        throw AgentError::stopped();
    }
}

AgentReport Agent::execute(const RunParams& params, std::stop_token stop) {
    RunRegistry registry(runsFolder(), seams_.processes, seams_.clock);
    // Decided before registering, so that this run never counts itself.
    const bool walkOnly = params.driveOnly || !registry.others().empty();
    Registration registration(registry);
    log_("starting");
    if (!walkOnly) seams_.mainThread.run([&] { seams_.indicator.show(RecordingIndicator::Phase::planning); });
    const LogLine say = [this](const std::string& line) { log_(line); };

    const auto api = seams_.serviceClient();
    std::vector<Step> planned;
    if (params.driver)
        log_("driven take; waiting for the agent's steps once recording starts");
    else
        planned = plan(params, api, stop).steps;
    if (calledOffNow(stop)) throw AgentError::stopped();
    // A take that is to be uploaded cannot be without the link; finding that out after
    // recording it would waste the person's time, so it is said before anything moves.
    if (params.upload && !walkOnly && !api) throw UploadError::notConnected();

    auto steps = prepared(std::move(planned), params.startURL);
    log_("planned " + std::to_string(steps.size()) + " steps");
    for (std::size_t i = 0; i < steps.size(); ++i) log_(plannedLine(i + 1, steps[i]));

    if (!walkOnly && !params.driver && !confirm(steps, "run this plan?", params.assumeYes, stop))
        throw AgentError::declined();

    Session session;
    session.cloud = params.cloud;
    if (params.pid || steps.empty() || steps.front().action != "open") {
        const auto window = targetWindow(params);
        log_("driving " + window.app + " - " + window.title);
        focusWindow(window);
        session.pid = window.pid;
        session.visited.insert(window.pid);
        session.pinned = params.pid;
    }

    AgentReport report;
    report.prompt = params.prompt;
    if (walkOnly) {
        log_("another vanto run is driving; walking the flow without recording");
        for (const auto& step : steps) {
            if (calledOffNow(stop)) throw AgentError::stopped();
            perform(step, session, false, stop);
            report.steps.push_back(PlanSteps::describe(step));
        }
        report.warn("drove the flow without recording: another vanto run holds the camera");
        return report;
    }

    if (params.rehearse) {
        auto rehearsed = rehearse(steps, session, stop);
        log_("rehearsed; resetting to record");
        steps = this->steps(stop).answered(std::move(rehearsed), session.pid);
        waitForOtherRuns(registry, seams_.clock, say, stop);
        reset(steps, session, stop);
        awaitGoAhead(stop);
    } else {
        log_("recording without a rehearsal");
    }
    if (calledOffNow(stop)) throw AgentError::stopped();

    // Applications start before the camera rolls, so the take does not show them starting.
    std::size_t first = 0;
    for (; first < steps.size() && steps[first].action == "open"; ++first) {
        if (calledOffNow(stop)) throw AgentError::stopped();
        if (!perform(steps[first], session, false, stop)) throw AgentError::stuck(PlanSteps::describe(steps[first]));
        report.steps.push_back(PlanSteps::describe(steps[first]));
    }
    if (first == 0 && params.startURL) openStartURL(*params.startURL, session, stop);

    const auto target = recordingTarget(params, session, stop);
    Recorder::StartParams start;
    start.target = target;
    start.fps = params.fps;
    start.output = params.output;
    start.showsCursor = true;
    start.quality = params.quality;
    start.codec = params.codec;
    seams_.recorder.start(start);
    const double since = seams_.clock.now();
    seams_.clock.sleep(0.9, stop);

    bool allRan = true;
    bool idledOut = false;
    if (params.driver) {
        DriveParams driveParams{*params.driver, session, target, since, params.scene};
        Driven take;
        try {
            take = drive(driveParams, stop);
        } catch (...) {
            stopRecorderKeepingTheFile();
            throw;
        }
        report.steps.insert(report.steps.end(), take.steps.begin(), take.steps.end());
        report.idleMs = take.idleMs;
        allRan = !take.stopped;
        idledOut = take.idledOut;
        if (allRan) seams_.clock.sleep(0.8, stop);
    } else {
        const std::size_t total = steps.size() - first;
        bool typedOurName = false;
        for (std::size_t i = first; i < steps.size(); ++i) {
            const auto n = std::to_string(i - first + 1);
            const auto& step = steps[i];
            const auto described = PlanSteps::describe(step);
            if (calledOffNow(stop)) {
                log_("stopped at step " + n + "; keeping what has been recorded");
                allRan = false;
                break;
            }
            const double done = static_cast<double>(i - first) / static_cast<double>(total);
            seams_.mainThread.run([&] {
                seams_.hud.show(RecordingIndicator::Phase::recording, "step " + n + " of " + std::to_string(total),
                                described, done);
            });
            try {
                // A rehearsed flow is known to work, so one step that misses this time
                // costs the take one step rather than the whole take.
                if (!perform(step, session, true, stop) && !params.rehearse) throw AgentError::stuck(described);
            } catch (...) {
                if (!calledOff(std::current_exception(), stop)) {
                    stopRecorderKeepingTheFile();
                    throw;
                }
                log_("stopped during step " + n + "; keeping what has been recorded");
                allRan = false;
                break;
            }
            report.steps.push_back(described);
            if (step.action == "type" && step.text && text::asciiLower(*step.text).find("vanto") != std::string::npos)
                typedOurName = true;
        }
        if (allRan) {
            if (typedOurName) {
                try {
                    waitForNestedRun(registry, seams_.clock, say, stop);
                } catch (...) {
                    if (!calledOff(std::current_exception(), stop)) {
                        stopRecorderKeepingTheFile();
                        throw;
                    }
                    // Stopped while the nested run was still going: its part of the take may be cut short.
                    log_("stopped while waiting for the nested vanto run; keeping what has been recorded");
                    allRan = false;
                }
            } else {
                seams_.clock.sleep(0.8, stop);
            }
        }
    }

    seams_.mainThread.run(
        [&] { seams_.hud.show(RecordingIndicator::Phase::saving, "writing the file", "finishing the take", 1); });
    const auto take = seams_.recorder.stop();
    const auto events = seams_.recorder.events();
    if (take.warning) log_(*take.warning);
    log_("saved " + take.path);
    if (params.cloud) {
        // A take that ends on a page the policy refuses must not survive anywhere.
        try {
            const auto address = seams_.resolver.reader().pageURL(session.pid);
            CloudGuard::checkShown(address.value_or(""), params.cloud->allowedFiles, params.cloud->resolver());
        } catch (const CloudGuard::Refusal&) {
            std::error_code ignored;
            std::filesystem::remove(take.path, ignored);
            throw;
        }
    }

    report.path = take.path;
    report.duration = take.duration;
    report.events = take.events;
    if (!allRan)
        report.warn(std::string(stoppedPartWay) + " through the flow; the take is what was recorded up to then");
    if (idledOut) report.warn("the agent sent nothing for 120 seconds, so the take ended there");
    if (take.warning) report.warn(*take.warning);

    if (allRan && params.upload && api) upload(report, take, events, params, *api, stop);
    return report;
}

void Agent::stopRecorderKeepingTheFile() {
    try {
        seams_.recorder.stop();
    } catch (const std::exception& error) {
        log_(std::string("the recording could not be finished: ") + error.what());
    }
}

} // namespace vanto
