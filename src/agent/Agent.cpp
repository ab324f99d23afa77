#include "agent/Agent.h"

#include "agent/PlanSteps.h"
#include "agent/RunRegistry.h"
#include "base/Error.h"
#include "base/Files.h"
#include "service/ConfigStore.h"
#include "service/UploadError.h"

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

Plan Agent::plan(const RunParams& params, std::stop_token stop) {
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
    auto api = seams_.serviceClient();
    if (!api) throw UploadError::notConnected();
    log_("asking the planner");
    return api->plan(PlanSteps::planned(params.prompt, params.startURL), params.into.has_value(),
                     params.cloud != nullptr, stop);
}

void Agent::run(const RunParams& params, std::stop_token stop) {
    seams_.corrections.beginRun();
    seams_.scrollTrace.reset();
    // A take meant for an existing video needs the link and the video before anything
    // happens on screen.
    if (params.into && params.upload) {
        auto api = seams_.serviceClient();
        if (!api) throw UploadError::notConnected();
        if (!api->videoExists(*params.into, stop)) throw UploadError::noSuchVideo(*params.into);
    }
    RunRegistry registry(runsFolder(), seams_.processes, seams_.clock);
    // Decided before registering, so that this run never counts itself.
    const bool walkOnly = params.driveOnly || !registry.others().empty();
    Registration registration(registry);
    log_("starting");

    auto steps = prepared(plan(params, stop).steps, params.startURL);
    if (stop.stop_requested()) throw Error("you stopped it before the flow finished");
    log_("planned " + std::to_string(steps.size()) + " steps");
    for (std::size_t i = 0; i < steps.size(); ++i) log_(plannedLine(i + 1, steps[i]));

    if (walkOnly) log_("another vanto run is driving; walking the flow without recording");
    throw Error("performing a plan's steps is not available in this build yet");
}

} // namespace vanto
