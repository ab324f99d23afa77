#include "agent/Agent.h"

#include "agent/PlanSteps.h"
#include "base/AtomicFile.h"
#include "base/Error.h"
#include "capture/RecorderError.h"
#include "plan/AgentError.h"

#include <cmath>

namespace vanto {
namespace {

// How long the agent may think before the take is kept as it stands.
constexpr double longestThought = 120;
// A gap between steps this long shows as a pause in the take, worth cutting out.
constexpr double shortestPause = 0.6;
// The look's picture is wide enough to read a page, small enough to send.
constexpr int screenshotWidth = 1440;
// The look lists elements from a search this large.
constexpr std::int64_t lookLimit = 400;

// Errors of one step that the agent can do something about: it is told, and the
// take goes on. Everything else ends the take.
bool answeredAsFailed(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const AgentError& agentError) {
        switch (agentError.kind()) {
        case AgentError::Case::unresolved:
        case AgentError::Case::ambiguous:
        case AgentError::Case::stuck:
        case AgentError::Case::unknownAction:
        case AgentError::Case::notInADrivenTake:
            return true;
        default:
            return false;
        }
    } catch (const RecorderError& recorderError) {
        // A step the agent wrote without the field it needs is its mistake to mend,
        // like an action nobody knows; it does not spoil what was recorded.
        return recorderError.kind() == RecorderError::Case::missingField;
    } catch (...) {
        return false;
    }
}

} // namespace

Agent::Driven Agent::drive(const DriveParams& params, std::stop_token stop) {
    // The driver hears that the take is over however it ends.
    struct Closing {
        TakeDriver& driver;
        ~Closing() {
            try {
                driver.closed();
            } catch (...) {
                // The take's own outcome matters more than a driver that could not be told.
            }
        }
    } closing{params.driver};
    Driven soFar;
    params.driver.opened(params.scene);
    try {
        driveSteps(params, soFar, stop);
    } catch (...) {
        if (!calledOff(std::current_exception(), stop)) throw;
        log_("stopped while driven; keeping what has been recorded");
        soFar.stopped = true;
    }
    return soFar;
}

void Agent::driveSteps(const DriveParams& params, Driven& soFar, std::stop_token stop) {
    auto& driver = params.driver;
    auto& clock = seams_.clock;
    auto ms = [&](double at) { return static_cast<std::int64_t>(std::llround((at - params.since) * 1000)); };
    driver.answer({0, DriverResult::Outcome::started, std::nullopt, look(0, params)});
    // The take's opening still is part of its look; the agent's silence begins once it
    // has been told that recording runs.
    double quietSince = clock.now();
    while (true) {
        seams_.mainThread.run([&] { seams_.hud.showThinking(); });
        if (calledOffNow(stop)) {
            log_("stopped while driven; keeping what has been recorded");
            soFar.stopped = true;
            return;
        }
        const auto command = driver.next(longestThought, stop);
        const double now = clock.now();
        if (now - quietSince >= shortestPause) {
            // Looks do not move the screen, so a pause that a look interrupted is still
            // one pause.
            const auto start = ms(quietSince), end = ms(now);
            if (!soFar.idleMs.empty() && soFar.idleMs.back().second == start)
                soFar.idleMs.back().second = end;
            else
                soFar.idleMs.emplace_back(start, end);
            quietSince = now;
        }
        switch (command.kind) {
        case DriverCommand::Kind::step:
            soFar.steps.push_back(PlanSteps::describe(*command.step));
            driver.answer(driven(command.id, *command.step, params, stop));
            quietSince = clock.now();
            break;
        case DriverCommand::Kind::look:
            driver.answer({command.id, DriverResult::Outcome::looked, std::nullopt, look(command.id, params)});
            break;
        case DriverCommand::Kind::end:
            driver.answer({command.id, DriverResult::Outcome::ended, std::nullopt, std::nullopt});
            return;
        case DriverCommand::Kind::abort:
            throw AgentError::abortedByDriver();
        case DriverCommand::Kind::idle:
            log_("no step from the agent for 120 seconds; keeping the take");
            soFar.idledOut = true;
            return;
        }
    }
}

DriverResult Agent::driven(std::int64_t id, const Step& step, const DriveParams& params, std::stop_token stop) {
    const auto described = PlanSteps::describe(step);
    seams_.mainThread.run(
        [&] { seams_.hud.show(RecordingIndicator::Phase::recording, "driven by an agent", described, 0); });
    DriverResult result;
    result.id = id;
    try {
        // Every step of a driven take happens in the browser being recorded.
        if (step.action == "open") throw AgentError::notInADrivenTake(step.action);
        result.outcome =
            perform(step, params.session, true, stop) ? DriverResult::Outcome::done : DriverResult::Outcome::unchanged;
    } catch (const Error& error) {
        if (!answeredAsFailed(std::current_exception())) throw;
        result.outcome = DriverResult::Outcome::failed;
        result.error = error.what();
    }
    result.look = look(id, params);
    return result;
}

DriverLook Agent::look(std::int64_t id, const DriveParams& params) {
    DriverLook seen;
    const auto pid = params.session.pid;
    seen.url = seams_.resolver.reader().pageURL(pid);
    FindParams everything;
    everything.pid = pid;
    everything.limit = lookLimit;
    seen.controls = DriverLook::controlsFrom(seams_.resolver.find(everything));
    if (!params.target.windowID) return seen;
    const auto picture = seams_.pixels.png(*params.target.windowID, std::nullopt, screenshotWidth);
    if (!picture) return seen;
    const auto file = params.driver.screenshotFile(id);
    try {
        writeAtomically(file, std::string_view(reinterpret_cast<const char*>(picture->data()), picture->size()));
        seen.screenshot = file.filename().string();
    } catch (const std::exception& error) {
        // The agent still gets the address and the controls; the take is worth more
        // than one picture.
        log_("could not store the screenshot for the agent: " + std::string(error.what()));
    }
    return seen;
}

} // namespace vanto
