#pragma once

#include "agent/RunLog.h"
#include "agent/RunParams.h"
#include "agent/Session.h"
#include "capture/Input.h"
#include "capture/Recorder.h"
#include "capture/RecordingIndicator.h"
#include "capture/StepHUD.h"
#include "plan/Plan.h"
#include "platform/Accessibility.h"
#include "platform/Clock.h"
#include "platform/MainThread.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/WindowServer.h"
#include "platform/Workspace.h"
#include "service/APIClient.h"
#include "targets/AXResolver.h"
#include "targets/CorrectionStore.h"
#include "targets/Picker.h"
#include "targets/ScrollTrace.h"
#include "targets/Targeting.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace vanto {

// One run, from prompt to take. This build goes as far as the prepared plan: it
// registers the run, gets the steps (from a plan file or the planner), prepares and
// lists them, and then stops with an answer saying that performing them is not
// available yet.
class Agent {
public:
    struct Seams {
        Paths& paths;
        Processes& processes;
        Clock& clock;
        // The service client for the stored link; none when this machine is not linked.
        std::function<std::optional<APIClient>()> serviceClient;
        MainThread& mainThread;
        WindowServer& windows;
        Accessibility& accessibility;
        Workspace& workspace;
        Input& input;
        AXResolver& resolver;
        Recorder& recorder;
        RecordingIndicator& indicator;
        StepHUD& hud;
        CorrectionStore& corrections;
        ScrollTrace& scrollTrace;
        // The run's clicking, choosing and scrolling, over the engine's hands and eyes.
        std::function<Targeting(Targeting::Callbacks)> targeting;
        // One line from standard input when it is a terminal; absent when it is not, and
        // then nobody is asked anything there.
        std::function<std::optional<std::string>()> readLine;
    };

    // The person's side of a run. Each callback left empty is answered as the design
    // says an absent one is (the terminal, or nobody).
    struct Callbacks {
        std::optional<double> charsPerSecond; // typing speed; none: the input layer's own
        std::function<bool(const std::vector<Step>& steps, const std::string& question)> approve;
        std::function<Picker::Outcome(const std::string& question, std::int32_t pid)> ask;
        std::function<bool()> readyToRecord;
        std::function<bool()> stopped;
    };

    Agent(Seams seams, ProgressLog log, Callbacks callbacks = {});

    // Throws the run's error; its description is what the person is shown.
    void run(const RunParams& params, std::stop_token stop = {});

    // The steps as the run performs them: the start page's navigation dropped, and
    // each step numbered among those naming the same thing.
    static std::vector<Step> prepared(std::vector<Step> steps, const std::optional<std::string>& startURL);

    // "  3. click target="Save" …": the planned step's line in the log.
    static std::string plannedLine(std::size_t number, const Step& step);

    // The runs folder: beside the configuration file.
    std::filesystem::path runsFolder();

    // ---- Step execution ----

    // ---- Run phases ----

    // ---- Driven takes ----

private:
    Plan plan(const RunParams& params, std::stop_token stop);

    Seams seams_;
    ProgressLog log_;
    Callbacks callbacks_;
};

} // namespace vanto
