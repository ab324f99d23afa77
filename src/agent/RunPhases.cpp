#include "agent/Agent.h"
#include "agent/PlanSteps.h"
#include "agent/ProcessInfo.h"
#include "base/Error.h"
#include "plan/AgentError.h"
#include "service/IdleCut.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <set>
#include <string_view>

namespace vanto {
namespace {

// The browsers a run picks first when told nothing: their names on a Mac and, for
// those that run here, the window classes X11 gives them.
constexpr std::array knownBrowsers{
    "Google Chrome",
    "Google Chrome Canary",
    "Chromium",
    "Safari",
    "Safari Technology Preview",
    "Firefox",
    "Microsoft Edge",
    "Arc",
    "Brave Browser",
    "Vivaldi",
    "Opera",
    "Orion",
    "Google-chrome",
    "Chromium-browser",
    "Firefox-esr",
    "Microsoft-edge",
    "Brave-browser",
    "Vivaldi-stable",
};

// Lower case, with the hyphens and underscores of X11 window classes read as spaces,
// so that "Google Chrome" names the window class "Google-chrome" too.
std::string folded(std::string_view text) {
    std::string out;
    for (unsigned char c : text) out += (c == '-' || c == '_') ? ' ' : static_cast<char>(std::tolower(c));
    return out;
}

bool isKnownBrowser(const std::string& app) {
    const auto name = folded(app);
    return std::any_of(knownBrowsers.begin(), knownBrowsers.end(),
                       [&](const char* browser) { return folded(browser) == name; });
}

std::string trimmedLower(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return "";
    const auto last = text.find_last_not_of(" \t\r\n");
    std::string out = text.substr(first, last - first + 1);
    for (auto& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string number(double value) {
    return std::to_string(static_cast<std::int64_t>(value));
}

} // namespace

bool Agent::confirm(const std::vector<Step>& steps, const std::string& question, bool assumeYes, std::stop_token stop) {
    if (assumeYes) return true;
    if (callbacks_.approve) return callbacks_.approve(steps, question);
    if (!seams_.readLine) return true;
    for (std::size_t i = 0; i < steps.size(); ++i)
        log_("  " + std::to_string(i + 1) + ". " + PlanSteps::describe(steps[i]));
    // The launching application is brought forward only when it lives in an
    // application bundle, which a terminal on this desktop never does.
    log_(question + " [Y/n]");
    const auto line = seams_.readLine(stop);
    // A stop while the question waits is no answer at all.
    if (stop.stop_requested()) throw AgentError::stopped();
    const auto answer = trimmedLower(line.value_or(""));
    return answer != "n" && answer != "no";
}

void Agent::awaitGoAhead(std::stop_token stop) {
    if (callbacks_.readyToRecord) {
        if (!callbacks_.readyToRecord()) throw AgentError::stopped();
        log_("rolling");
        return;
    }
    if (!seams_.readLine) return;
    log_("ready when you are - press return to start recording");
    seams_.readLine(stop); // end of input is a go-ahead too: nobody is left to give one
    if (stop.stop_requested()) throw AgentError::stopped();
    log_("rolling");
}

bool Agent::calledOff(std::exception_ptr error, std::stop_token stop) {
    if (!error) return false;
    if (stop.stop_requested()) return true;
    try {
        std::rethrow_exception(error);
    } catch (const Cancelled&) {
        return true;
    } catch (const AgentError& agentError) {
        return agentError.kind() == AgentError::Case::stopped;
    } catch (...) {
        return false;
    }
}

WindowInfo Agent::targetWindow(const RunParams& params) {
    const auto windows = WindowList::onScreen(seams_.windows);
    auto& processes = seams_.processes;
    const auto self = processes.currentPID();
    const auto ourPath = processes.executablePath(self);
    const auto ourBundle = processes.bundleIdentifier();
    auto isThisProgram = [&](std::int32_t pid) {
        if (pid == self) return true;
        if (ourPath && processes.executablePath(pid) == ourPath) return true;
        return ourBundle && seams_.accessibility.bundleIdentifier(pid) == ourBundle;
    };

    if (params.pid) {
        if (isThisProgram(*params.pid)) throw AgentError::cannotDriveItself();
        for (const auto& window : windows)
            if (window.pid == *params.pid) return window;
        throw AgentError::noWindow(params.app.value_or("process " + std::to_string(*params.pid)));
    }
    if (params.app) {
        if (isOurselves(*params.app)) throw AgentError::cannotDriveItself();
        const auto wanted = folded(*params.app);
        for (const auto& window : windows)
            if (folded(window.app).find(wanted) != std::string::npos && !isThisProgram(window.pid)) return window;
        throw AgentError::noWindow(*params.app);
    }
    const auto ours = ProcessInfo::ancestorPIDs(processes);
    std::vector<WindowInfo> others;
    for (const auto& window : windows)
        if (!ours.contains(window.pid)) others.push_back(window);
    auto browser = std::find_if(others.begin(), others.end(), [](const auto& w) { return isKnownBrowser(w.app); });
    if (browser != others.end()) return *browser;
    if (!others.empty()) return others.front();
    throw AgentError::noWindow("any application other than the one that started this");
}

WindowInfo Agent::windowToFrame(std::int32_t pid, std::stop_token stop) {
    const double deadline = seams_.clock.now() + 10;
    while (true) {
        for (const auto& window : WindowList::onScreen(seams_.windows))
            if (window.pid == pid) return window;
        if (seams_.clock.now() >= deadline) break;
        if (!seams_.clock.sleep(0.25, stop)) throw AgentError::stopped();
    }
    throw AgentError::nothingToFrame();
}

std::optional<Rect> Agent::pageRect(const WindowInfo& window, const RunParams& params) {
    if (!params.pageOnly) return std::nullopt;
    if (auto area = seams_.resolver.reader().webArea(window.pid)) {
        const double left = std::max<double>(area->x, window.x);
        const double top = std::max<double>(area->y, window.y);
        const double right = std::min<double>(area->x + area->width, window.x + window.width);
        const double bottom = std::min<double>(area->y + area->height, window.y + window.height);
        if (right - left >= 100 && bottom - top >= 100) {
            Rect crop{std::round(left - window.x), std::round(top - window.y), std::floor(right - left),
                      std::floor(bottom - top)};
            log_("recording only the page: " + number(crop.width) + "x" + number(crop.height) + " at " +
                 number(crop.x) + "," + number(crop.y));
            return crop;
        }
    }
    log_("could not find the page in the window; recording all of it");
    return std::nullopt;
}

Target Agent::recordingTarget(const RunParams& params, const Session& session, std::stop_token stop) {
    if (params.fullScreen) {
        log_("recording the whole display");
        const auto screens = seams_.windows.screens();
        auto main = std::find_if(screens.begin(), screens.end(), [](const ScreenInfo& s) { return s.main; });
        Target target;
        target.kind = Target::Kind::display;
        if (main != screens.end())
            target.displayID = main->displayID;
        else if (!screens.empty())
            target.displayID = screens.front().displayID;
        return target;
    }
    // The session keeps the processes it drove as a set, so "the first one it
    // visited" is the lowest process number when it drives none right now.
    std::int32_t pid = session.pid;
    if (pid == 0 && session.pinned) pid = *session.pinned;
    if (pid == 0 && !session.visited.empty()) pid = *session.visited.begin();
    if (pid == 0) throw AgentError::nothingToFrame();

    for (const auto& window : WindowList::onScreen(seams_.windows))
        if (window.pid == pid) {
            const Rect frame{static_cast<double>(window.x), static_cast<double>(window.y),
                             static_cast<double>(window.width), static_cast<double>(window.height)};
            seams_.mainThread.run([&] { seams_.resolver.windows().focus(frame, pid); });
            break;
        }
    if (!seams_.clock.sleep(0.6, stop)) throw AgentError::stopped();
    const auto window = windowToFrame(pid, stop);
    if (session.visited.size() > 1)
        log_("the flow spans " + std::to_string(session.visited.size()) + " applications; framing " + window.app +
             " - pass --screen to record all of them");
    Target target;
    target.kind = Target::Kind::window;
    target.windowID = window.windowID;
    target.rect = pageRect(window, params);
    return target;
}

std::vector<Step> Agent::rehearse(const std::vector<Step>& steps, Session& session, std::stop_token stop) {
    const auto total = steps.size();
    for (std::size_t i = 0; i < total; ++i) {
        if (stop.stop_requested() || (callbacks_.stopped && callbacks_.stopped())) throw AgentError::stopped();
        const auto label = PlanSteps::describe(steps[i]);
        const auto caption = "step " + std::to_string(i + 1) + " of " + std::to_string(total);
        const double done = static_cast<double>(i) / static_cast<double>(total);
        // The panel's planning look stands for the rehearsal: nothing is being recorded yet.
        seams_.mainThread.run([&] { seams_.hud.show(RecordingIndicator::Phase::planning, caption, label, done); });
        if (!perform(steps[i], session, false, stop)) throw AgentError::stuck(label);
    }
    return steps;
}

void Agent::reset(const std::vector<Step>& steps, Session& session, std::stop_token stop) {
    closeLaunchedApps(session, stop);
    if (steps.empty() || steps.front().action != "navigate" || session.pid == 0) return;
    navigate("about:blank", session.pid, std::nullopt, false, stop);
    seams_.clock.sleep(0.8, stop);
}

void Agent::upload(AgentReport& report, const StopResult& take, const std::vector<CaptureEvent>& events,
                   const RunParams& params, const APIClient& api, std::stop_token stop) {
    auto& hud = seams_.hud;
    auto& indicator = seams_.indicator;
    auto showUpload = [&hud](double fraction) {
        hud.show(RecordingIndicator::Phase::uploading, "uploading the take",
                 std::to_string(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 100))) + "%", fraction);
    };
    seams_.mainThread.run([&] {
        indicator.show(RecordingIndicator::Phase::uploading);
        showUpload(0);
    });
    const std::int64_t lengthMs = std::llround(take.duration * 1000);
    try {
        APIClient::UploadParams upload;
        upload.file = take.path;
        upload.narration = params.prompt;
        upload.events = events;
        upload.duration = take.duration;
        upload.footageFor = params.into.value_or("");
        upload.projectID = params.project.value_or("");
        upload.applyProjectSettings = params.applyProjectSettings;
        upload.clientKey = params.clientKey.value_or("");
        upload.onProgress = [this, showUpload](double fraction) {
            seams_.mainThread.post([showUpload, fraction] { showUpload(fraction); });
        };
        const auto uploaded = api.upload(upload, stop);
        report.uploadID = uploaded.id;
        report.uploadURL = uploaded.url;

        if (!params.into) {
            if (report.idleMs && !report.idleMs->empty()) cutIdle(report, lengthMs, api, stop);
            return;
        }
        // A driven take's pauses are left out by placing only what lies between them.
        std::vector<IdleCut::Span> pieces{{0, lengthMs}};
        if (report.idleMs) {
            std::vector<std::vector<std::int64_t>> pauses;
            for (const auto& [start, end] : *report.idleMs) pauses.push_back({start, end});
            pieces = IdleCut::kept(IdleCut::stretches(pauses, lengthMs), lengthMs);
        }
        const std::int64_t atMs = std::llround(params.atSeconds.value_or(0) * 1000);
        std::optional<std::int64_t> landed;
        std::int64_t offset = 0;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            APIClient::InsertParams insert;
            insert.into = *params.into;
            insert.sourceVideoID = uploaded.id;
            insert.inMs = pieces[i].lower;
            insert.outMs = pieces[i].upper;
            insert.atMs = atMs + offset;
            // Each piece is its own request, so each needs its own key; without a key
            // there is nothing to make one from.
            if (params.clientKey && pieces.size() > 1)
                insert.clientKey = *params.clientKey + ":" + std::to_string(i);
            else
                insert.clientKey = params.clientKey.value_or("");
            auto at = api.insertTake(insert, stop);
            if (i == 0) landed = at;
            offset += pieces[i].upper - pieces[i].lower;
        }
        if (pieces.size() > 1)
            log_("put the driven take in as " + std::to_string(pieces.size()) + " pieces, without its pauses");
        report.insertedInto = *params.into;
        report.insertedAtMs = landed.value_or(atMs);
        auto base = api.config().apiBase;
        if (auto api = base.find("//api."); api != std::string::npos) base.replace(api, 6, "//app.");
        while (!base.empty() && base.back() == '/') base.pop_back();
        report.uploadURL = base + "/videos/" + *params.into;
    } catch (...) {
        if (!calledOff(std::current_exception(), stop)) throw;
        report.warn("stopped before the upload finished");
    }
}

void Agent::cutIdle(AgentReport& report, std::int64_t lengthMs, const APIClient& api, std::stop_token stop) {
    if (!report.idleMs || !report.uploadID) return;
    std::vector<std::vector<std::int64_t>> pauses;
    for (const auto& [start, end] : *report.idleMs) pauses.push_back({start, end});
    const auto stretches = IdleCut::stretches(pauses, lengthMs);
    if (stretches.empty()) return;
    const int found = static_cast<int>(stretches.size());
    int removed = 0;
    try {
        removed = IdleCut(api, *report.uploadID, *report.uploadID).apply(stretches, stop);
    } catch (const IdleCut::Partial& partial) {
        removed = partial.removed();
        if (removed == 0) {
            std::string reason = partial.what();
            try {
                std::rethrow_exception(partial.underlying());
            } catch (const std::exception& error) {
                reason = error.what();
            } catch (...) {
            }
            report.warn("the pauses were not cut out: " + reason);
            return;
        }
    }
    if (removed > 0)
        log_("cut " + std::to_string(removed) + " pause" + (removed == 1 ? "" : "s") + " out of the driven take");
    // Latest first, so what is left in is the earliest.
    if (removed < found)
        report.warn(std::to_string(removed) + " of " + std::to_string(found) +
                    " pauses were cut out, the earliest ones were left in");
}

} // namespace vanto
