#include "stage/StageBrowser.h"

#include "base/AtomicFile.h"
#include "base/Text.h"
#include "targets/WindowList.h"

#include <charconv>
#include <cmath>

namespace vanto {
namespace fs = std::filesystem;
namespace {

std::string whole(double value) {
    return std::to_string(std::llround(value));
}

} // namespace

StageBrowser::Failure StageBrowser::Failure::couldNotLaunch(const std::string& reason) {
    return {Case::couldNotLaunch, "could not start the stage browser: " + reason};
}

StageBrowser::Failure StageBrowser::Failure::noWindow() {
    return {Case::noWindow, "the stage browser started, but no window of it appeared on this desktop"};
}

fs::path StageBrowser::profile(Paths& paths) {
    return paths.dataDir() / "Stage" / "Chrome";
}

std::optional<std::int32_t> StageBrowser::pid(std::string_view listing, const fs::path& profile) {
    const std::string key = "--user-data-dir=" + profile.string();
    std::size_t start = 0;
    while (start < listing.size()) {
        auto end = listing.find('\n', start);
        if (end == std::string_view::npos) end = listing.size();
        auto line = text::trimSpaces(listing.substr(start, end - start));
        start = end + 1;
        auto blank = line.find(' ');
        if (line.empty() || blank == std::string::npos) continue;
        std::int32_t id = 0;
        auto [parsed, error] = std::from_chars(line.data(), line.data() + blank, id);
        if (error != std::errc() || parsed != line.data() + blank) continue;
        std::string_view command = std::string_view(line).substr(blank + 1);
        if (command.find(" --type=") != std::string_view::npos) continue; // a helper process
        // The profile must end where the key does: ".../Chrome2" is another browser.
        for (auto at = command.find(key); at != std::string_view::npos; at = command.find(key, at + 1)) {
            auto after = command.substr(at + key.size());
            if (after.empty() || after.starts_with(" -")) return id;
        }
    }
    return std::nullopt;
}

std::optional<std::int32_t> StageBrowser::running(Processes& processes, const fs::path& profile) {
    auto listing = processes.run("/bin/ps", {"-axww", "-o", "pid=,args="});
    if (listing.exitStatus != 0) return std::nullopt;
    return pid(listing.output, profile);
}

Rect StageBrowser::frame(const Stage& stage, const std::optional<Rect>& visible) {
    const auto stageWidth = static_cast<double>(stage.width), stageHeight = static_cast<double>(stage.height);
    if (!visible) return Rect{0, 0, stageWidth, stageHeight};
    const double width = std::min(visible->width, stageWidth);
    const double height = std::min(visible->height, stageHeight);
    // The screens come with their origin at the top left already, as the browser places
    // windows, so the visible area's own top is where centring starts.
    return Rect{std::round(visible->x + (visible->width - width) / 2),
                std::round(visible->y + (visible->height - height) / 2), width, height};
}

Rect StageBrowser::placement(const Stage& stage, WindowServer& windows) {
    auto screens = windows.screens();
    if (screens.empty()) return frame(stage, std::nullopt);
    const ScreenInfo* chosen = &screens.front();
    for (const auto& screen : screens)
        if (screen.main) {
            chosen = &screen;
            break;
        }
    return frame(stage, chosen->visibleFrame);
}

std::vector<std::string> StageBrowser::arguments(const Rect& frame, const fs::path& profile, bool asRoot) {
    std::vector<std::string> arguments;
    if (asRoot) arguments.insert(arguments.end(), {"--no-sandbox", "--test-type"});
    arguments.push_back("--force-renderer-accessibility");
    arguments.insert(arguments.end(), {"--user-data-dir=" + profile.string(), "--restore-last-session",
                                       "--no-first-run", "--no-default-browser-check", "--hide-crash-restore-bubble",
                                       "--window-size=" + whole(frame.width) + "," + whole(frame.height),
                                       "--window-position=" + whole(frame.x) + "," + whole(frame.y), "about:blank"});
    return arguments;
}

void StageBrowser::forgetTabs(const fs::path& profile) noexcept {
    std::error_code ignored;
    fs::remove_all(profile / "Default" / "Sessions", ignored);
    fs::remove_all(profile / "Default" / "Sessions_Encrypted", ignored);
}

bool StageBrowser::runsAsRoot(Processes& processes) {
    auto id = processes.run("/usr/bin/id", {"-u"});
    return id.exitStatus == 0 && text::trimWhitespaceAndNewlines(id.output) == "0";
}

bool StageBrowser::hasWindow(std::int32_t pid, WindowServer& windows) {
    for (const auto& window : WindowList::onScreen(windows))
        if (window.pid == pid) return true;
    return false;
}

std::int32_t StageBrowser::launch(const Rect& frame, const fs::path& profile, Processes& processes) {
    auto started = processes.launch(std::string(program), arguments(frame, profile, runsAsRoot(processes)));
    if (!started.pid) throw Failure::couldNotLaunch(started.failure);
    return *started.pid;
}

std::int32_t StageBrowser::ensure(const Stage& stage, const fs::path& profile, Desktop& desktop, std::stop_token stop) {
    const auto frame = placement(stage, desktop.windows);
    try {
        createFolders(profile, fs::perms::owner_all);
    } catch (const fs::filesystem_error& error) {
        throw Failure::couldNotLaunch(text::asciiLower(error.code().message()));
    }
    auto placed = [&]() -> std::optional<std::int32_t> {
        auto pid = running(desktop.processes, profile);
        if (!pid || !hasWindow(*pid, desktop.windows)) return std::nullopt;
        desktop.place(*pid, frame);
        return pid;
    };
    if (auto pid = placed()) return *pid;

    forgetTabs(profile);
    const auto started = launch(frame, profile, desktop.processes);
    const double deadline = desktop.clock.now() + windowWait;
    while (true) {
        if (auto pid = placed()) return *pid;
        // The browser is started directly, so it is its own failure that ends it. A
        // browser of this profile that already ran takes the launch over, and the
        // process started for it ends with status 0: its window is still to come.
        auto state = desktop.processes.launched(started);
        if (state.ended && state.exitStatus != 0) {
            auto reason = text::trimWhitespaceAndNewlines(state.errors);
            throw Failure::couldNotLaunch(reason.empty() ? "it ended with status " + std::to_string(state.exitStatus)
                                                         : reason);
        }
        if (desktop.clock.now() >= deadline) break;
        if (!desktop.clock.sleep(lookAgain, stop)) throw Cancelled();
    }
    throw Failure::noWindow();
}

void StageBrowser::closeForAFreshRun(const fs::path& profile, Desktop& desktop, std::stop_token stop) {
    auto pid = running(desktop.processes, profile);
    if (!pid) return;
    desktop.processes.terminate(*pid);
    for (int check = 0; check < closeChecks; ++check) {
        if (!desktop.clock.sleep(closeCheckEvery, stop)) throw Cancelled();
        if (running(desktop.processes, profile) != pid) return;
    }
    desktop.processes.run("/bin/kill", {"-KILL", std::to_string(*pid)});
}

} // namespace vanto
