// Recording and pictures through the real X11 capture, for comparing with the ffmpeg
// CLI in the same desktop (tests/bench/capture_bench.sh runs both):
//   capture_bench record SECONDS FILE [h264|hevc] [FPS]   the whole first display
//   capture_bench window WINDOW SECONDS FILE [h264|hevc]  one window
//   capture_bench pictures WINDOW                         fingerprint and PNG costs
// Prints one JSON line of numbers.

#include "capture/Pixels.h"
#include "platform/linux/LinuxWindowServer.h"
#include "platform/linux/X11Capture.h"

#include <nlohmann/json.hpp>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

using namespace vanto;

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

class Delegate final : public StreamDelegate {
public:
    void streamDidStopWithError(const CaptureFailure& f) override { remember(f); }
    void recordingOutputDidFailWithError(const CaptureFailure& f) override { remember(f); }
    std::optional<CaptureFailure> failure;
    std::mutex mutex;

private:
    void remember(const CaptureFailure& f) {
        std::lock_guard lock(mutex);
        if (!failure) failure = f;
    }
};

int record(X11Capture& capture, SystemClock& clock, ContentFilter filter, double seconds, const std::string& file,
           VideoCodec codec, int fps) {
    StreamConfiguration configuration;
    configuration.width = static_cast<int>(filter.contentRect.width) & ~1;
    configuration.height = static_cast<int>(filter.contentRect.height) & ~1;
    configuration.minimumFrameInterval = 1.0 / fps;
    auto delegate = std::make_shared<Delegate>();
    auto stream = capture.makeStream(filter, configuration, delegate);
    stream->addRecordingOutput({file, MovieFileType::quickTimeMovie, codec}, delegate);
    const double cpuBefore = cpuSeconds();
    const double start = clock.now();
    stream->startCapture({});
    clock.sleep(seconds);
    stream->stopCapture({});
    const double wall = clock.now() - start;
    const double cpu = cpuSeconds() - cpuBefore;
    auto statistics = stream->statistics();
    nlohmann::ordered_json out{{"seconds", wall},
                               {"framesWritten", statistics.framesWritten},
                               {"framesDropped", statistics.framesDropped},
                               {"cpuSeconds", cpu},
                               {"cpuPercentOfOneCore", 100 * cpu / wall}};
    if (delegate->failure) out["failure"] = delegate->failure->description;
    std::cout << out.dump() << std::endl;
    return delegate->failure ? 1 : 0;
}

std::optional<ShareableWindow> findWindow(X11Capture& capture, std::uint32_t id) {
    for (const auto& window : capture.shareableContent(true, true).windows)
        if (window.windowID == id) return window;
    return std::nullopt;
}

template <class F> double millisecondsPerCall(int calls, F&& f) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) f();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / calls;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: capture_bench record SECONDS FILE [h264|hevc] [FPS] | window WINDOW SECONDS FILE "
                             "[h264|hevc] | pictures WINDOW\n");
        return 2;
    }
    X11Display display;
    LinuxWindowServer windows(display);
    SystemClock clock;
    X11Capture capture(windows, clock);
    const std::string mode = argv[1];
    try {
        if (mode == "record" && argc >= 4) {
            auto content = capture.shareableContent(true, true);
            if (content.displays.empty()) throw std::runtime_error("no display");
            const auto& screen = content.displays.front();
            ContentFilter filter;
            filter.kind = ContentFilter::Kind::display;
            filter.displayID = screen.displayID;
            filter.frame = screen.frame;
            filter.contentRect = {0, 0, screen.frame.width, screen.frame.height};
            const VideoCodec codec = argc > 4 && std::string(argv[4]) == "hevc" ? VideoCodec::hevc : VideoCodec::h264;
            return record(capture, clock, filter, std::atof(argv[2]), argv[3], codec,
                          argc > 5 ? std::atoi(argv[5]) : 30);
        }
        if (mode == "window" && argc >= 5) {
            auto window = findWindow(capture, static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 0)));
            if (!window) throw std::runtime_error("no such window");
            ContentFilter filter;
            filter.windowID = window->windowID;
            filter.frame = window->frame;
            filter.contentRect = {0, 0, window->frame.width, window->frame.height};
            const VideoCodec codec = argc > 5 && std::string(argv[5]) == "hevc" ? VideoCodec::hevc : VideoCodec::h264;
            return record(capture, clock, filter, std::atof(argv[3]), argv[4], codec, 30);
        }
        if (mode == "pictures") {
            const auto id = static_cast<std::uint32_t>(std::strtoul(argv[2], nullptr, 0));
            Pixels pixels(capture, clock);
            if (!pixels.fingerprint(id)) throw std::runtime_error("no fingerprint of that window");
            const double fingerprint = millisecondsPerCall(50, [&] { pixels.fingerprint(id); });
            std::size_t bytes = 0;
            const double png = millisecondsPerCall(10, [&] { bytes = pixels.png(id, std::nullopt, 1440)->size(); });
            std::cout << nlohmann::ordered_json{{"fingerprintMs", fingerprint}, {"png1440Ms", png}, {"pngBytes", bytes}}
                             .dump()
                      << std::endl;
            return 0;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "capture_bench: %s\n", error.what());
        return 1;
    }
    return 2;
}
