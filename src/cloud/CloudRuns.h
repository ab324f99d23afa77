#pragma once

#include "base/Random.h"
#include "cloud/CloudClaim.h"
#include "cloud/CloudGuard.h"
#include "cloud/CloudPolicy.h"
#include "cloud/CloudReport.h"
#include "cloud/CloudSheetMaker.h"
#include "drivers/TakeDriver.h"
#include "platform/Clock.h"
#include "platform/Defaults.h"
#include "platform/MainThread.h"
#include "service/APIClient.h"
#include "sheets/DemoProgress.h"
#include "sheets/DemoSheet.h"
#include "sheets/SheetReport.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace vanto {

// Lets assistants connected to the person's account ask this machine for a demo: polls
// the service for a waiting request, claims it, asks the person (unless always
// allowed), has the window record the claim's sheet in the stage browser, keeps the
// claim alive, forwards progress, obeys stops and the time limit, and delivers the
// final result even across a crash or a quit.
//
// One per application. Every public operation and every callback runs on the main
// thread; network requests run on threads of their own and post their results back.
class CloudRuns {
public:
    static constexpr double pollEvery = 5;       // seconds between looks for a request
    static constexpr double heartbeatEvery = 10; // seconds between heartbeats
    static constexpr int finalRetries = 4;       // a final body is tried again this often,
    static constexpr double retryPause = 3;      // after this many seconds times the attempt
    static constexpr std::size_t detailLimit = 500;

    // The defaults: whether this machine takes cloud runs at all (true when unset), and
    // whether it records them without asking (false when unset).
    static constexpr const char* acceptKey = "acceptCloudRecordings";
    static constexpr const char* alwaysAllowedKey = "cloudRecordingsAlwaysAllowed";

    enum class Answer { allow, alwaysAllow, decline };

    // The consent question; its buttons are these, in order. Escape declines and no
    // button answers Return.
    struct Question {
        std::string title;
        std::string text;
        bool operator==(const Question&) const = default;
    };
    static constexpr const char* allowButton = "Allow";
    static constexpr const char* alwaysAllowButton = "Always allow";
    static constexpr const char* declineButton = "Decline";
    static Question question(const CloudClaim& claim);

    // A claim's sheet as the window records it: take by take, like a sheet that records
    // itself, in the stage browser, under the policy.
    struct Recording {
        DemoSheet sheet;
        std::filesystem::path folder;     // the run's folder: title cards, plan, "drive"
        std::filesystem::path reportFile; // "report.json" in the folder
        SheetReport report;               // the report to keep, every take pending
        std::shared_ptr<const CloudPolicy> policy;
        // Where the first take goes: the end of the video the claim names, if any.
        std::optional<DemoProgress::Place> placement;
        std::shared_ptr<TakeDriver> driver; // for the driven scenes; none without them
        // On the main thread, after every save of the report, with the report as saved.
        std::function<void(const SheetReport&)> saved;
        // On the main thread, once, when the recording is over however it ended.
        std::function<void()> ended;
    };

    // What the cloud runs need of the desktop window.
    class Window {
    public:
        virtual ~Window() = default;
        // Whether the window is recording a take (of the person's, a sheet's or a run's).
        virtual bool isRecording() = 0;
        virtual void record(Recording recording) = 0;
        // Stops the cloud take under way, as the person's Stop would; its report then fails.
        virtual void stopCloudTake() = 0;
        // Brings the application forward and asks the question modally; `answered` is
        // called on the main thread exactly once (decline when the window goes away).
        virtual void ask(const Question& question, std::function<void(Answer)> answered) = 0;
        // "cloudRecordingsAlwaysAllowed" was just switched on: a settings pane shown refreshes.
        virtual void alwaysAllowedChanged() {}
        // The height of the main screen's visible area (of the first screen when none is
        // main), none without a screen.
        virtual std::optional<std::int64_t> screenHeight() = 0;
        // Whether Screen Recording or Accessibility is missing: the claim says so.
        virtual bool permissionsMissing() = 0;
    };

    struct Seams {
        MainThread& mainThread;
        Clock& clock;
        Defaults& defaults;
        Random& random;
        // A service client from the stored configuration; none when this machine is not
        // linked (VANTO_API_BASE is honoured where the configuration is read).
        std::function<std::optional<APIClient>()> service;
        CloudGuard::Resolve resolve;
        std::filesystem::path heldRunFile; // HeldRun::location(the configuration file)
        std::filesystem::path runsFolder;  // "Runs" under the program's data folder
    };

    CloudRuns(Seams seams, Window& window);
    // Stops polling and heartbeats and waits for the requests under way to give up.
    ~CloudRuns();
    CloudRuns(const CloudRuns&) = delete;
    CloudRuns& operator=(const CloudRuns&) = delete;

    // Once, at launch: settles a held run left by a crash or a quit ("app_restarted"),
    // then polls every 5 seconds.
    void start();

    // One look for a request (the timer's tick).
    void poll();

    // Whether a run is active or settling, and the active run's ID; for the window and tests.
    bool busy() const;
    std::optional<std::string> activeRun() const;

    // The account was signed out: the active run goes silent and its take stops.
    void signedOut();

private:
    struct Active;
    struct Settling {
        std::string runID;
        std::string claimToken;
        std::map<std::string, std::string> finalBody;
    };

    void settleHeldRun();
    // Runs work on the main thread later, unless this object is gone by then.
    void later(std::function<void()> work);
    // One report outside any run's order of sends, its answer unread.
    void reportOnce(const APIClient& api, const std::string& run, const std::string& claimToken, nlohmann::json body);
    void handle(const CloudClaim& claim, APIClient api);
    void record(const std::shared_ptr<Active>& run);
    void recordMade(const std::shared_ptr<Active>& run, const std::shared_ptr<CloudSheetMaker::Made>& made,
                    std::optional<DemoProgress::Place> placement);
    void forward(const std::shared_ptr<Active>& run, const SheetReport& report);
    void send(const std::shared_ptr<Active>& run, nlohmann::json body);
    void startHeartbeat(const std::shared_ptr<Active>& run);
    void checkTimeLimit(const std::shared_ptr<Active>& run);
    void obey(const std::shared_ptr<Active>& run, const std::optional<std::string>& instruction);
    void ended(const std::shared_ptr<Active>& run);
    void finish(const std::shared_ptr<Active>& run, std::optional<nlohmann::json> saying);
    void abandon(const std::shared_ptr<Active>& run);

    Seams seams_;
    Window& window_;
    bool asking_ = false;
    std::shared_ptr<Active> active_;
    std::optional<Settling> settling_;
    // The threads of the poller, heartbeats and sends; stopped and joined on destruction.
    struct Tasks;
    std::unique_ptr<Tasks> tasks_;
};

} // namespace vanto
