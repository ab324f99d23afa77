#pragma once

#include "agent/Agent.h"
#include "agent/RunLog.h"
#include "capture/Input.h"
#include "capture/MouseButton.h"
#include "capture/Pixels.h"
#include "capture/Recorder.h"
#include "capture/RecordingIndicator.h"
#include "capture/StepHUD.h"
#include "engine/PermissionsResult.h"
#include "platform/Defaults.h"
#include "platform/Geometry.h"
#include "platform/Platform.h"
#include "service/APIClient.h"
#include "service/AccountCommands.h"
#include "service/AccountStatus.h"
#include "service/ConfigStore.h"
#include "service/UploadResult.h"
#include "targets/AXElement.h"
#include "targets/AXResolver.h"
#include "targets/CorrectionStore.h"
#include "targets/ScrollTrace.h"
#include "targets/Targeting.h"
#include "targets/WindowList.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

// The program's hands, eyes and camera over one platform: input, the element resolver,
// the recorder with its indicator and step panel, the run log, the service link. Every
// front end (the control loop, the prompt run, later the window and the cloud poller)
// holds one engine and leaves the doing to it; runs are made from it.
class Engine {
public:
    explicit Engine(Platform& platform);
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    Platform& platform() { return platform_; }
    Input& input() { return input_; }
    AXResolver& resolver() { return resolver_; }
    // One recorder for as long as the engine lives, so a stop finds what a start began.
    Recorder& recorder() { return recorder_; }
    RecordingIndicator& indicator() { return indicator_; }
    StepHUD& hud() { return hud_; }
    RunLog& runLog() { return runLog_; }

    // The process's one memory of what the person pointed at, kept in the user defaults.
    CorrectionStore& corrections() { return corrections_; }
    // How far runs have scrolled pages since they began; one per process.
    ScrollTrace& scrollTrace() { return scrollTrace_; }
    Pixels& pixels() { return pixels_; }

    // Clicking, choosing and scrolling toward targets for one run or question, over
    // this engine's hands and eyes.
    Targeting targeting(Targeting::Callbacks callbacks);

    ConfigStore configStore();
    // A service client for the stored link; none when this machine is not linked.
    std::optional<APIClient> serviceClient();

    // A run over this engine's platform, reporting progress to log. readLine reads a
    // line from a terminal on standard input, giving up when its stop is requested;
    // absent when there is none.
    Agent makeAgent(ProgressLog log, Agent::Callbacks callbacks = {},
                    std::function<std::optional<std::string>(std::stop_token)> readLine = nullptr);

    // A fresh file in the temporary folder: "vanto-capture-<UUID>.mov".
    std::filesystem::path defaultOutputURL();

    std::vector<WindowInfo> onScreenWindows();
    Point cursor();
    // With prompt, the system is asked to show its accessibility prompt first.
    PermissionsResult permissions(bool prompt);
    // Whether a run may drive and record; when not, the system is asked for both.
    bool askForRunPermissions();

    // Input. While a recording runs, a labelled gesture is noted in its event log.
    void move(Point to, double duration, const std::optional<std::string>& label);
    // At to, or where the pointer is when to is absent.
    void click(std::optional<Point> to, MouseButton button, double settle, const std::optional<std::string>& label);
    void type(const std::string& text, double charsPerSecond, const std::optional<std::string>& label);
    void press(const std::vector<std::string>& keys, const std::optional<std::string>& label);
    void scroll(std::int64_t dy, std::int64_t dx, double duration, const std::optional<std::string>& label);

    void startRecording(const Recorder::StartParams& params);
    // The indicator is hidden afterwards, whatever the stop answers.
    StopResult stopRecording();
    StatusResult recordingStatus();

    std::vector<AXElement> find(const AXResolver::FindParams& params);
    std::optional<AXElement> elementAt(Point point, std::optional<std::int32_t> pid);

    // Without a token the browser flow runs, until it answers, times out or stop is requested.
    AccountStatus connect(const std::optional<std::string>& token, const std::optional<std::string>& apiBase,
                          std::stop_token stop = {});
    AccountStatus disconnect();
    AccountStatus account(std::stop_token stop = {});

    // Uploads file, or the last take with its events and duration when file is absent.
    UploadResult upload(const std::optional<std::filesystem::path>& file, const std::string& narration);

private:
    Platform& platform_;
    RunLog runLog_;
    Input input_;
    AXResolver resolver_;
    RecordingIndicator indicator_;
    StepHUD hud_;
    Recorder recorder_;
    AccountCommands accounts_;
    CorrectionStore corrections_;
    ScrollTrace scrollTrace_;
    Pixels pixels_;
};

} // namespace vanto
