// input_bench [COUNT]: times COUNT key presses (down and up of "a") and COUNT pointer
// moves through LinuxEventSink, then xdotool doing the same in one process each,
// and prints the times and how many times faster the sink is. Both sides end with a
// round trip to the server, so every event has been taken in when the clock stops.
// Needs a display (run it inside scripts/headless-desktop.sh) and xdotool.

#include "platform/linux/LinuxEventSink.h"
#include "platform/linux/LinuxWindowServer.h"

#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Seconds = std::chrono::duration<double>;

template <class F> double timed(F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    return Seconds(std::chrono::steady_clock::now() - start).count();
}

// The n-th point of a path that wanders over the screen without repeating itself soon.
vanto::Point pathPoint(int n) {
    return {100.0 + (n * 7) % 900, 100.0 + (n * 13) % 600};
}

// Runs a program to its end; false when it could not run or failed.
bool run(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void report(const char* what, int count, double sink, double xdotool) {
    std::printf("%-14s sink %8.1f ms (%6.1f us each)   xdotool %8.1f ms (%6.1f us each)   ratio %.2fx\n", what,
                sink * 1e3, sink * 1e6 / count, xdotool * 1e3, xdotool * 1e6 / count, xdotool / sink);
}

} // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (count <= 0) {
        std::fprintf(stderr, "usage: input_bench [COUNT]\n");
        return 2;
    }
    vanto::X11Display display;
    if (!display.available()) {
        std::fprintf(stderr, "input_bench: no X display\n");
        return 1;
    }
    vanto::LinuxEventSink sink(display);
    vanto::LinuxPointer pointer(display);
    constexpr std::uint16_t keyA = 0;

    // Warm both sides up once, so neither pays for first-use costs in the count.
    sink.postKey(keyA, true, 0, std::nullopt);
    sink.postKey(keyA, false, 0, std::nullopt);
    if (!run({"xdotool", "key", "--delay", "0", "a"})) {
        std::fprintf(stderr, "input_bench: xdotool did not run\n");
        return 1;
    }

    const double sinkKeys = timed([&] {
        for (int i = 0; i < count; ++i) {
            sink.postKey(keyA, true, 0, std::nullopt);
            sink.postKey(keyA, false, 0, std::nullopt);
        }
        pointer.position();
    });
    const double sinkMoves = timed([&] {
        for (int i = 0; i < count; ++i) sink.postMouse(vanto::MouseEventType::moved, pathPoint(i), 0);
        pointer.position();
    });

    std::vector<std::string> keys{"xdotool", "key", "--delay", "0"};
    for (int i = 0; i < count; ++i) keys.emplace_back("a");
    std::vector<std::string> moves{"xdotool"};
    for (int i = 0; i < count; ++i) {
        const auto point = pathPoint(i);
        moves.insert(moves.end(), {"mousemove", std::to_string(static_cast<int>(point.x)),
                                   std::to_string(static_cast<int>(point.y))});
    }
    bool ok = true;
    const double xdotoolKeys = timed([&] { ok = run(keys) && ok; });
    const double xdotoolMoves = timed([&] { ok = run(moves) && ok; });
    if (!ok) {
        std::fprintf(stderr, "input_bench: xdotool failed\n");
        return 1;
    }

    std::printf("%d events each; ratio = xdotool time / sink time\n", count);
    report("key presses", count, sinkKeys, xdotoolKeys);
    report("pointer moves", count, sinkMoves, xdotoolMoves);
    return 0;
}
