#pragma once

#include "agent/AgentReport.h"
#include "agent/RunLog.h"
#include "agent/RunParams.h"
#include "agent/Session.h"
#include "capture/Input.h"
#include "capture/Pixels.h"
#include "capture/Recorder.h"
#include "capture/RecordingIndicator.h"
#include "capture/StepHUD.h"
#include "drivers/DriverResult.h"
#include "drivers/TakeDriver.h"
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
#include "targets/WindowList.h"

#include <exception>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <vector>

namespace vanto {

// One run, from prompt to take: plan, rehearse, reset, record while performing the
// steps again, stop, and upload and place the take.
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
        // Pictures of the recorded window for a driver's look at the screen.
        Pixels& pixels;
        // The run's clicking, choosing and scrolling, over the engine's hands and eyes.
        std::function<Targeting(Targeting::Callbacks)> targeting;
        // One line from standard input when it is a terminal, or none once the run is
        // called off while waiting; absent when it is not, and then nobody is asked
        // anything there.
        std::function<std::optional<std::string>(std::stop_token)> readLine;
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

    // Throws the run's error; its description is what the person is shown. A stop
    // request on `stop` calls the run off as the panel's Stop button does.
    AgentReport run(const RunParams& params, std::stop_token stop = {});

    // The steps as the run performs them: the start page's navigation dropped, and
    // each step numbered among those naming the same thing.
    static std::vector<Step> prepared(std::vector<Step> steps, const std::optional<std::string>& startURL);

    // "  3. click target="Save" …": the planned step's line in the log.
    static std::string plannedLine(std::size_t number, const Step& step);

    // The runs folder: beside the configuration file.
    std::filesystem::path runsFolder();

    // ---- Step execution ----

    // Performs one step against the screen (the session's process is the target);
    // true when it worked, false when it ran but did not take effect.
    bool perform(const Step& step, Session& session, bool recording, std::stop_token stop = {});
    // The action dispatch under perform.
    bool performStep(const Step& step, Session& session, bool recording, std::stop_token stop = {});
    // Makes the named application the driven one, launching it when it is not running
    // (or when fresh asks for a window of its own).
    void open(const std::string& app, bool fresh, Session& session, std::stop_token stop = {});
    // Drives the process given with --pid.
    void adopt(std::int32_t pinned, Session& session, std::stop_token stop = {});
    // Loads the start page in the driven browser before recording.
    void openStartURL(const std::string& url, Session& session, std::stop_token stop = {});
    // Types the address into the browser's address field; true when the page changed.
    bool navigate(const std::string& url, std::int32_t pid, const std::optional<std::string>& label, bool recording,
                  std::stop_token stop = {});
    void focusAddressBar(Point at, std::int32_t pid, bool recording, std::stop_token stop = {});
    // Asks what this run launched and still runs to end.
    void closeLaunchedApps(Session& session, std::stop_token stop = {});

    struct RunningApp {
        std::int32_t pid = 0;
        std::string name;
    };
    // The first running application whose name holds the requested one, ignoring case:
    // a window on this desktop first, then a process of exactly that name.
    std::optional<RunningApp> runningApp(const std::string& named);
    bool isOurselves(const std::string& app);
    bool isPinned(const std::string& named, const Session& session);
    // The application name of a process: its window's, else the kernel's short name.
    std::optional<std::string> applicationName(std::int32_t pid);
    // Parts of the above: the run's targeting, a launch, and waiting for a window.
    Targeting steps(std::stop_token stop);
    std::int32_t launch(const std::string& app, Targeting& targeting);
    // The process whose window appeared (a launcher may hand over to another).
    std::int32_t waitForWindow(const std::string& app, std::int32_t pid, bool launched, Targeting& targeting);

    // ---- Run phases ----

    // Whether to run the steps: yes at once with assumeYes, else the approve callback,
    // else the terminal; with no terminal nobody is there to ask, so yes.
    bool confirm(const std::vector<Step>& steps, const std::string& question, bool assumeYes,
                 std::stop_token stop = {});

    // The person's go-ahead before recording; a no is AgentError::stopped. Without a
    // callback or a terminal the run goes on at once.
    void awaitGoAhead(std::stop_token stop = {});

    // Whether an error is the person calling the run off, which keeps a take rather
    // than failing it.
    static bool calledOff(std::exception_ptr error, std::stop_token stop = {});

    // The window a run drives when it does not open its application itself.
    WindowInfo targetWindow(const RunParams& params);

    // The front window of pid, waited for up to 10 s; AgentError::nothingToFrame without one.
    WindowInfo windowToFrame(std::int32_t pid, std::stop_token stop = {});

    // With pageOnly, the page's part of the window, relative to its top-left corner.
    std::optional<Rect> pageRect(const WindowInfo& window, const RunParams& params);

    // What the take records: the display, or the driven application's window.
    Target recordingTarget(const RunParams& params, const Session& session, std::stop_token stop = {});

    // Uploads a finished take and places it (into a video, or its pauses cut out),
    // filling in the report. A stop during it keeps the take and says so.
    void upload(AgentReport& report, const StopResult& take, const std::vector<CaptureEvent>& events,
                const RunParams& params, const APIClient& api, std::stop_token stop = {});

    // Cuts a driven take's pauses out of its uploaded video; what went wrong joins
    // the report's warning, since the take itself is safe by then.
    void cutIdle(AgentReport& report, std::int64_t lengthMs, const APIClient& api, std::stop_token stop = {});

    // Performs the steps once with recording off, the panel showing each; a step that
    // ran without effect is AgentError::stuck. The steps the take will perform.
    std::vector<Step> rehearse(const std::vector<Step>& steps, Session& session, std::stop_token stop = {});

    // Puts the screen back for the take: what the run launched closes, and a flow
    // that begins by navigating starts from a blank page.
    void reset(const std::vector<Step>& steps, Session& session, std::stop_token stop = {});

    // ---- Driven takes ----

    // What the driven loop needs.
    struct DriveParams {
        TakeDriver& driver;
        Session& session;
        Target target;
        double since = 0; // the clock's time when recording started
        std::optional<std::int64_t> scene;
    };
    // How a driven take went.
    struct Driven {
        std::vector<std::string> steps;                            // each sent step's label or description
        std::vector<std::pair<std::int64_t, std::int64_t>> idleMs; // gaps of 0.6 s or more, ms from the start
        bool idledOut = false;                                     // nothing came for 120 s
        bool stopped = false;                                      // the person called it off
    };
    // Runs the driver's loop while recording; the driver is opened and closed around it.
    Driven drive(const DriveParams& params, std::stop_token stop = {});
    // The loop itself, filling in `so far` as it goes (kept when an error ends it).
    void driveSteps(const DriveParams& params, Driven& soFar, std::stop_token stop = {});
    // Performs one step the driver sent and answers it.
    DriverResult driven(std::int64_t id, const Step& step, const DriveParams& params, std::stop_token stop = {});

private:
    Plan plan(const RunParams& params, const std::optional<APIClient>& api, std::stop_token stop);
    AgentReport execute(const RunParams& params, std::stop_token stop);
    // The stop asked for, or the stopped callback saying so.
    bool calledOffNow(std::stop_token stop);
    void focusWindow(const WindowInfo& window);
    // A failed take keeps what it recorded: the movie is finished, and a failure to
    // finish it is said rather than hiding the run's own error.
    void stopRecorderKeepingTheFile();
    // What a driver is told the screen shows after command id: the page's address, its
    // named controls and, when the recorded window is known, a picture of it stored
    // where the driver looks for it.
    DriverLook look(std::int64_t id, const DriveParams& params);

    Seams seams_;
    ProgressLog log_;
    Callbacks callbacks_;
};

} // namespace vanto
