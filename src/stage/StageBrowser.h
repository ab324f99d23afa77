#pragma once

#include "base/Error.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/Paths.h"
#include "platform/Processes.h"
#include "platform/WindowServer.h"
#include "sheets/Stage.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

// The separate browser runs for agents and assistants record in: Chromium with a
// profile of its own, so that it has none of the person's tabs, extensions or
// sign-ins, with its window placed so that the page area has a known size. Nothing is
// kept between calls: the running browser is looked for anew each time.
class StageBrowser {
public:
    class Failure : public Error {
    public:
        enum class Case { couldNotLaunch, noWindow };
        static Failure couldNotLaunch(const std::string& reason);
        static Failure noWindow();
        Case which() const noexcept { return case_; }

    private:
        Failure(Case which, std::string message) : Error(std::move(message)), case_(which) {}
        Case case_;
    };

    // The browser this desktop runs as the stage, found on the PATH and started directly.
    static constexpr std::string_view program = "chromium";

    // "Stage/Chrome" under the program's data folder.
    static std::filesystem::path profile(Paths& paths);

    // The stage browser's main process in a process listing ("pid args" per line, as
    // ps -o pid=,args= writes it): its command line carries exactly this profile, and
    // it is none of the browser's helper processes.
    static std::optional<std::int32_t> pid(std::string_view listing, const std::filesystem::path& profile);

    // The running stage browser, from the system's process list; none when that cannot be read.
    static std::optional<std::int32_t> running(Processes& processes, const std::filesystem::path& profile);

    // The window frame for the stage, centred in the visible area and no larger than it,
    // in global points from the top left. Without a screen: at the origin, the stage's size.
    static Rect frame(const Stage& stage, const std::optional<Rect>& visible);
    // The same on the main screen, or the first one when none is main.
    static Rect placement(const Stage& stage, WindowServer& windows);

    // The command line after the program: the stage's own switches in their order, led by
    // what this desktop needs to run the browser (no sandbox for root, which Chromium
    // refuses otherwise, with the notice about it suppressed so the page keeps its
    // height; accessibility on for the page, which the targeting reads).
    static std::vector<std::string> arguments(const Rect& frame, const std::filesystem::path& profile, bool asRoot);

    // Deletes the profile's saved tabs, so that the next launch opens only the blank
    // page; cookies and sign-ins stay. Errors are ignored.
    static void forgetTabs(const std::filesystem::path& profile) noexcept;

    // What starting, finding and placing the browser needs of the desktop.
    struct Desktop {
        Processes& processes;
        WindowServer& windows;
        Clock& clock;
        // Moves and sizes the first window of the process (through the accessibility interface).
        std::function<void(std::int32_t pid, const Rect& frame)> place;
    };

    static constexpr double windowWait = 20;       // seconds for a started browser to show a window
    static constexpr double lookAgain = 0.3;       // between looks for it
    static constexpr double closeCheckEvery = 0.2; // while waiting for it to quit
    static constexpr int closeChecks = 24;         // then it is ended forcibly

    // Whether this program runs as root, which Chromium does not accept without
    // --no-sandbox ("id -u" says 0).
    static bool runsAsRoot(Processes& processes);

    // The first on-screen window of the process, if any.
    static bool hasWindow(std::int32_t pid, WindowServer& windows);

    // Starts the browser in the background; its process. Throws couldNotLaunch.
    static std::int32_t launch(const Rect& frame, const std::filesystem::path& profile, Processes& processes);

    // A stage browser runs with its window placed for the stage; its process. One that
    // already runs with a window is only moved; otherwise one is started with its tabs
    // forgotten and given 20 seconds to show a window. Throws Failure, or Cancelled.
    static std::int32_t ensure(const Stage& stage, const std::filesystem::path& profile, Desktop& desktop,
                               std::stop_token stop = {});

    // Asks a running stage browser to quit and waits until it has, ending it forcibly
    // after about 4.8 seconds. Returns at once when none runs. Throws Cancelled.
    static void closeForAFreshRun(const std::filesystem::path& profile, Desktop& desktop, std::stop_token stop = {});
};

} // namespace vanto
