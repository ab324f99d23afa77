// ax_bench: times a snapshot (cut to the window, as a find reads it) and ranking of a
// Chromium page of about 500 and about 2,000 accessibility elements through the AT-SPI
// backend, the same snapshot unclipped, and a plain pyatspi walk of
// the same tree (name, role, description, states, extents and children of every
// element, one blocking call at a time) in the same run; then ranks 6,000 scripted
// elements ("ax_bench rank" does only that; "ax_bench 2000" only the large page). Needs a display with accessibility on
// (run it inside scripts/headless-desktop.sh), chromium and /usr/bin/python3 with pyatspi.

#include "platform/Clock.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/LinuxPermissions.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxWindowServer.h"
#include "targets/AXRanking.h"
#include "targets/AXResolver.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Seconds = std::chrono::duration<double>;
namespace fs = std::filesystem;

template <class F> double timed(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return Seconds(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

pid_t spawn(const std::vector<std::string>& argv, bool quiet) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (quiet) {
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    }
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP); // its own group, ended as one
    pid_t pid = -1;
    if (posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return pid;
}

// A Chromium showing one page, ended with its helpers when this goes.
class Browser {
public:
    Browser(const fs::path& profile, const std::string& url)
        : pid_(spawn({"chromium", "--no-sandbox", "--test-type", "--disable-gpu", "--no-first-run",
                      "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
                      "--disable-sync", "--disable-quic", "--force-renderer-accessibility",
                      "--user-data-dir=" + profile.string(), "--window-position=0,0", "--window-size=1280,860", url},
                     true)) {}
    ~Browser() {
        if (pid_ <= 0) return;
        kill(-pid_, SIGTERM);
        for (int i = 0; i < 100 && waitpid(pid_, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(-pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    pid_t pid() const { return pid_; }

private:
    pid_t pid_;
};

// groups of: a paragraph, a button, a link, a labelled field; about 8 elements each.
std::string page(int groups) {
    std::string body;
    for (int i = 0; i < groups; ++i) {
        const auto n = std::to_string(i);
        body += "<p>Paragraph " + n + " of the page</p><button id=\"b" + n + "\">Button " + n +
                "</button><a href=\"#x" + n + "\">Link " + n + "</a><label for=\"f" + n + "\">Field " + n +
                "</label><input id=\"f" + n + "\" placeholder=\"type " + n + "\"><br>";
    }
    return "<!doctype html><html><head><meta charset=\"utf-8\"><title>Bench</title></head><body>" + body +
           "<h1>End of page</h1></body></html>";
}

const char* pyatspiWalk = R"(
import sys, time, pyatspi
pid = int(sys.argv[1])
desktop = pyatspi.Registry.getDesktop(0)
app = next(a for a in desktop if a is not None and a.get_process_id() == pid)
frame = next(f for f in app if f is not None and f.getState().contains(pyatspi.STATE_ACTIVE))
count = 0
def walk(node, depth):
    global count
    if depth > 40 or count > 6000: return
    count += 1
    node.name; node.getRole(); node.description; node.getState()
    try: node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    except Exception: pass
    for child in node:
        if child is not None: walk(child, depth + 1)
start = time.time()
walk(frame, 0)
print(count, time.time() - start)
)";

struct PyResult {
    int count = 0;
    double seconds = 0;
};

PyResult pythonWalk(pid_t browser, const fs::path& folder) {
    const fs::path script = folder / "walk.py", out = folder / "walk.txt";
    std::ofstream(script) << pyatspiWalk;
    const std::string command =
        "/usr/bin/python3 " + script.string() + " " + std::to_string(browser) + " > " + out.string() + " 2>/dev/null";
    PyResult result;
    if (std::system(command.c_str()) != 0) return result;
    std::ifstream(out) >> result.count >> result.seconds;
    return result;
}

// The backend's pieces; made fresh for each measurement, as a new vanto process would be.
struct Backend {
    vanto::SystemClock clock;
    vanto::X11Display display;
    vanto::LinuxPermissions permissions{display};
    vanto::LinuxProcesses processes;
    vanto::AtspiAccessibility accessibility{display, permissions, processes, clock};
    vanto::AXResolver resolver{accessibility, processes, clock};
};

bool windowShown(pid_t pid) {
    vanto::X11Display display;
    vanto::LinuxWindowServer windows(display);
    for (const auto& window : windows.onScreenWindows())
        if (window.value(vanto::windowkey::ownerPID, 0) == pid &&
            window.value(vanto::windowkey::name, std::string()).find("Bench") != std::string::npos)
            return true;
    return false;
}

// early: vanto is running before the browser starts; otherwise it starts once the page shows.
void benchPage(const fs::path& folder, int groups, const std::string& query, bool early) {
    const std::string tag = std::to_string(groups) + (early ? "early" : "late");
    const fs::path html = folder / ("page" + tag + ".html");
    std::ofstream(html) << page(groups);
    std::unique_ptr<Backend> backend;
    if (early) backend = std::make_unique<Backend>();
    Browser browser(folder / ("profile" + tag), "file://" + html.string());
    for (int i = 0; i < 120 && !windowShown(browser.pid()); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    std::this_thread::sleep_for(std::chrono::seconds(3));
    if (!backend) backend = std::make_unique<Backend>();
    auto& resolver = backend->resolver;
    vanto::AXResolver::FindParams params;
    params.pid = browser.pid();
    params.text = query;

    // Ready when the last heading of the page is there.
    bool ready = false;
    for (int i = 0; i < 120 && !ready; ++i) {
        try {
            auto found = resolver.find({.pid = browser.pid(), .text = "End of page", .limit = 1, .unclipped = true});
            ready = !found.empty();
        } catch (const std::exception&) {
        }
        if (!ready) std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    if (!ready) {
        std::printf("page of %d groups: never appeared\n", groups);
        return;
    }

    std::vector<double> snapshots, ranks, totals;
    std::size_t listed = 0, matches = 0;
    for (int run = 0; run < 7; ++run) {
        vanto::AXResolver::Snapshot taken;
        std::vector<vanto::AXElement> ranked;
        const double snap = timed([&] { taken = resolver.reader().snapshot(params); });
        const double rank =
            timed([&] { ranked = vanto::AXRanking::rank(vanto::AXRanking::clip(taken.elements, taken.clip), params); });
        snapshots.push_back(snap);
        ranks.push_back(rank);
        totals.push_back(snap + rank);
        listed = taken.elements.size();
        matches = ranked.size();
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    // The same tree read whole, as a search past the window's edges reads it.
    std::vector<double> wholes;
    std::size_t wholeListed = 0;
    auto everywhere = params;
    everywhere.unclipped = true;
    for (int run = 0; run < 7; ++run) {
        wholes.push_back(timed([&] { wholeListed = resolver.reader().snapshot(everywhere).elements.size(); }));
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    backend.reset();
    const PyResult python = pythonWalk(browser.pid(), folder);
    const double ours = median(totals);
    std::printf("page of %d groups, vanto started %s the browser: %d elements walked by pyatspi in %.1f ms; "
                "snapshot %.1f ms + rank %.2f ms = %.1f ms (median of 7; %zu listed, %zu matches); %.1fx faster; "
                "unclipped snapshot %.1f ms (%zu listed)\n",
                groups, early ? "before" : "after", python.count, python.seconds * 1000, median(snapshots) * 1000,
                median(ranks) * 1000, ours * 1000, listed, matches, ours > 0 ? python.seconds / ours : 0,
                median(wholes) * 1000, wholeListed);
}

void benchFakeRank() {
    const char* words[] = {"Save", "Open", "Close", "Settings", "Delete", "Sign in", "Next", "Search", "Édition", "OK"};
    std::vector<vanto::AXElement> elements;
    for (int i = 0; i < 6000; ++i) {
        auto element = vanto::AXElement::withFrame(i % 3 ? "AXStaticText" : "AXButton",
                                                   std::string(words[i % 10]) + " item " + std::to_string(i),
                                                   (i % 40) * 30.0, (i / 40) * 20.0, 28, 18);
        if (i % 7 == 0) element->alt = "more about " + std::to_string(i);
        elements.push_back(*element);
    }
    vanto::AXResolver::FindParams params;
    params.text = "sign in item 42";
    std::vector<double> times;
    std::size_t found = 0;
    for (int run = 0; run < 51; ++run)
        times.push_back(timed([&] { found = vanto::AXRanking::rank(elements, params).size(); }));
    std::printf("rank of 6000 scripted elements: %.3f ms (median of 51, %zu matches)\n", median(times) * 1000, found);
}

} // namespace

int main(int argc, char** argv) {
    benchFakeRank();
    if (argc > 1 && std::string(argv[1]) == "rank") return 0;
    if (!Backend().accessibility.isProcessTrusted()) {
        std::printf("accessibility is off on this desktop\n");
        return 1;
    }
    const fs::path folder = fs::temp_directory_path() / ("vanto-ax-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    // "ax_bench 2000" measures only the large page, started after the browser.
    const bool largeOnly = argc > 1 && std::string(argv[1]) == "2000";
    for (bool early : {false, true}) {
        if (largeOnly && early) break;
        if (!largeOnly) benchPage(folder, 34, "Button 3", early);
        benchPage(folder, 220, "Button 7", early);
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
