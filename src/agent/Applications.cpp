#include "agent/Agent.h"
#include "cloud/CloudGuard.h"
#include "cloud/CloudPolicy.h"

#include "agent/DesktopEntry.h"
#include "base/Text.h"
#include "plan/AgentError.h"
#include "targets/WindowList.h"

#include <filesystem>

namespace vanto {
namespace {

constexpr const char* ourName = "Vanto";
constexpr double windowPoll = 0.25;
constexpr double runningWindowWait = 1.5;
// A launched application starts cold: a browser's first window can take seconds.
constexpr double launchedWindowWait = 15;

bool holdsIgnoringCase(const std::string& haystack, const std::string& needle) {
    return text::asciiLower(haystack).find(text::asciiLower(needle)) != std::string::npos;
}

std::optional<WindowInfo> windowOf(std::int32_t pid, WindowServer& server) {
    for (const auto& window : WindowList::onScreen(server))
        if (window.pid == pid) return window;
    return std::nullopt;
}

// A window of a launched program, or of a process it started: a launcher may stay (a
// splash screen, a wrapper that waits) while its child shows the window.
std::optional<WindowInfo> windowOfLaunched(std::int32_t pid, WindowServer& server, Processes& processes) {
    constexpr int generations = 8;
    const auto windows = WindowList::onScreen(server);
    for (const auto& window : windows)
        if (window.pid == pid) return window;
    for (const auto& window : windows) {
        std::int32_t at = window.pid;
        for (int i = 0; i < generations; ++i) {
            const auto parent = processes.parentPID(at);
            if (!parent || *parent <= 1) break;
            if (*parent == pid) return window;
            at = *parent;
        }
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> Agent::applicationName(std::int32_t pid) {
    if (auto window = windowOf(pid, seams_.windows); window && !window->app.empty()) return window->app;
    for (const auto& [running, name] : seams_.processes.running())
        if (running == pid) return name;
    return std::nullopt;
}

std::optional<Agent::RunningApp> Agent::runningApp(const std::string& named) {
    if (named.empty()) return std::nullopt;
    for (const auto& window : WindowList::onScreen(seams_.windows))
        if (holdsIgnoringCase(window.app, named)) return RunningApp{window.pid, window.app};
    // A kernel name is short and plain ("sh", "chrome"), so only the whole name counts
    // there: a part of it would find unrelated processes.
    for (const auto& [pid, name] : seams_.processes.running())
        if (text::asciiLower(name) == text::asciiLower(named)) return RunningApp{pid, name};
    return std::nullopt;
}

bool Agent::isOurselves(const std::string& app) {
    if (holdsIgnoringCase(app, ourName)) return true;
    auto running = runningApp(app);
    return running && running->pid == seams_.processes.currentPID();
}

bool Agent::isPinned(const std::string& named, const Session& session) {
    if (!session.pinned || named.empty()) return false;
    auto name = applicationName(*session.pinned);
    return name && !name->empty() && (holdsIgnoringCase(*name, named) || holdsIgnoringCase(named, *name));
}

void Agent::open(const std::string& app, bool fresh, Session& session, std::stop_token stop) {
    if (isOurselves(app)) throw AgentError::cannotDriveItself();
    if (session.pinned && isPinned(app, session)) {
        adopt(*session.pinned, session, stop);
        return;
    }
    Targeting targeting = steps(stop);
    auto running = runningApp(app);
    std::int32_t pid = 0;
    bool launched = false;
    if (running && !fresh) {
        pid = running->pid;
    } else {
        if (running) log_(app + " is running; opening a window of its own");
        pid = launch(app, targeting);
        launched = true;
    }
    pid = waitForWindow(app, pid, launched, targeting);
    // What a launcher handed over to is what the run started, and what it closes again.
    if (launched && !running) session.launched.insert(pid);
    session.pid = pid;
    session.visited.insert(pid);
}

std::int32_t Agent::launch(const std::string& app, Targeting&) {
    // The installed application's own command; a name with no desktop entry is tried as
    // a command on PATH, as a person typing it in a terminal would.
    std::string program = app;
    std::vector<std::string> arguments;
    const auto places = DesktopEntry::searchPlaces(seams_.processes, seams_.paths);
    if (auto entry = DesktopEntry::installedApplication(app, places)) {
        auto command = DesktopEntry::command(entry->exec);
        if (!command || command->empty())
            throw AgentError::couldNotLaunch(app, "its desktop entry has no command to run");
        program = command->front();
        arguments.assign(command->begin() + 1, command->end());
    }
    auto started = seams_.processes.launch(program, arguments);
    if (!started.pid) throw AgentError::couldNotLaunch(app, text::trimWhitespaceAndNewlines(started.failure));
    return *started.pid;
}

std::int32_t Agent::waitForWindow(const std::string& app, std::int32_t pid, bool launched, Targeting& targeting) {
    const double patience = launched ? launchedWindowWait : runningWindowWait;
    std::optional<WindowInfo> window;
    for (double waited = 0;; waited += windowPoll) {
        window = launched ? windowOfLaunched(pid, seams_.windows, seams_.processes) : windowOf(pid, seams_.windows);
        if (window) {
            pid = window->pid; // the process that shows the window is the one driven
            break;
        }
        if (launched) {
            // A launcher may hand over to a process of its own and end; only a failure
            // with nothing of the application left running is a failed launch.
            auto state = seams_.processes.launched(pid);
            if (state.ended) {
                auto other = runningApp(app);
                if (state.exitStatus != 0 && !other)
                    throw AgentError::couldNotLaunch(app, text::trimWhitespaceAndNewlines(state.errors));
                if (other) {
                    pid = other->pid;
                    continue;
                }
            }
        }
        if (waited >= patience) break;
        targeting.pause(windowPoll);
    }
    if (!window) {
        if (seams_.processes.isAlive(pid)) throw AgentError::noWindowOnThisDesktop(app);
        throw AgentError::noWindow(app);
    }
    const std::string name = window->app.empty() ? app : window->app;
    log_("driving " + name);
    // Focusing raises the window and makes it the active one, which is all activating
    // the application amounts to on this desktop.
    if (!seams_.resolver.windows().focus(
            Rect{double(window->x), double(window->y), double(window->width), double(window->height)}, pid))
        log_("could not focus " + name + "; the page read may be the wrong window");
    targeting.pause(0.7);
    return pid;
}

void Agent::adopt(std::int32_t pinned, Session& session, std::stop_token stop) {
    auto window = windowOf(pinned, seams_.windows);
    auto name = applicationName(pinned);
    if (!window) throw AgentError::noWindow(name ? *name : "pid " + std::to_string(pinned));
    const std::string shown = name ? *name : "pid " + std::to_string(pinned);
    log_("driving " + shown);
    seams_.resolver.windows().focus(
        Rect{double(window->x), double(window->y), double(window->width), double(window->height)}, pinned);
    steps(stop).pause(0.5);
    session.pid = pinned;
    session.visited.insert(pinned);
}

void Agent::openStartURL(const std::string& url, Session& session, std::stop_token stop) {
    if (session.pid == 0) {
        log_("nothing to load " + url + " in yet; the take opens wherever the plan starts");
        return;
    }
    if (session.cloud) CloudGuard::check(url, session.cloud->allowedFiles, session.cloud->resolver());
    log_("opening " + url + " before recording");
    navigate(url, session.pid, std::nullopt, false, stop);
    steps(stop).pause(1.5);
}

void Agent::closeLaunchedApps(Session& session, std::stop_token stop) {
    // Politely first: its windows are asked to close, as their close buttons would. One
    // without a window on this desktop is asked to end (SIGTERM) straight away.
    std::vector<std::string> closed;
    std::vector<std::int32_t> asked;
    for (auto pid : session.launched) {
        if (!seams_.processes.isAlive(pid)) continue;
        auto name = applicationName(pid);
        bool requested = false;
        for (const auto& window : WindowList::onScreen(seams_.windows))
            if (window.pid == pid && seams_.windows.closeWindow(window.windowID)) requested = true;
        if (requested) asked.push_back(pid);
        if (requested || seams_.processes.terminate(pid)) closed.push_back(name ? *name : "pid " + std::to_string(pid));
    }
    session.launched.clear();
    if (closed.empty()) return;
    std::string names;
    for (const auto& name : closed) names += (names.empty() ? "" : ", ") + name;
    log_("closing " + names + " opened while planning");
    steps(stop).pause(1.2);
    // What the planning opened must not stay for the take: an application still running
    // after its windows were asked to close (one that keeps running in the background,
    // say) is asked to end.
    for (auto pid : asked)
        if (seams_.processes.isAlive(pid)) seams_.processes.terminate(pid);
}

} // namespace vanto
