// Recording through the real binary's control protocol on the headless desktop: a
// Chromium window while the pointer moves, clicks and types; what ffprobe reads of the
// movie; the pointer, a covering window and the indicator in the pictures (decoded
// here with FFmpeg's libraries); and a recording cut short by SIGKILL.

#include "Harness.h"
#include "capture/Recorder.h"
#include "capture/RecordingIndicator.h"
#include "capture/StepHUD.h"
#include "platform/linux/LinuxPlatform.h"
#include "targets/AXResolver.h"
#include "targets/Picker.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <future>
#include <optional>
#include <sstream>
#include <thread>
#include <variant>

using namespace vanto::e2e;

namespace {

struct Picture {
    double time = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb; // 3 bytes a pixel

    const std::uint8_t* at(int x, int y) const {
        return &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3];
    }
};

// Every picture of the movie's video, decoded to RGB.
std::vector<Picture> decodeMovie(const std::string& path) {
    std::vector<Picture> pictures;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, path.c_str(), nullptr, nullptr) < 0) return pictures;
    std::unique_ptr<AVFormatContext, void (*)(AVFormatContext*)> input(
        format, [](AVFormatContext* f) { avformat_close_input(&f); });
    if (avformat_find_stream_info(format, nullptr) < 0) return pictures;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0) return pictures;
    AVStream* stream = format->streams[index];
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    std::unique_ptr<AVCodecContext, void (*)(AVCodecContext*)> decoder(
        avcodec_alloc_context3(codec), [](AVCodecContext* c) { avcodec_free_context(&c); });
    avcodec_parameters_to_context(decoder.get(), stream->codecpar);
    if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return pictures;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(av_packet_alloc(), [](AVPacket* p) { av_packet_free(&p); });
    std::unique_ptr<AVFrame, void (*)(AVFrame*)> frame(av_frame_alloc(), [](AVFrame* f) { av_frame_free(&f); });
    auto receive = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) == 0) {
            Picture picture;
            picture.width = frame->width;
            picture.height = frame->height;
            picture.time = static_cast<double>(frame->best_effort_timestamp) * av_q2d(stream->time_base);
            // swscale's vector code may write a little past the last row.
            picture.rgb.resize(static_cast<std::size_t>(frame->width) * static_cast<std::size_t>(frame->height) * 3 +
                               256);
            SwsContext* scale =
                sws_getContext(frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                               frame->height, AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr);
            std::uint8_t* planes[1] = {picture.rgb.data()};
            const int strides[1] = {frame->width * 3};
            sws_scale(scale, frame->data, frame->linesize, 0, frame->height, planes, strides);
            sws_freeContext(scale);
            pictures.push_back(std::move(picture));
        }
    };
    while (av_read_frame(format, packet.get()) >= 0) {
        if (packet->stream_index == index) {
            avcodec_send_packet(decoder.get(), packet.get());
            receive();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receive();
    return pictures;
}

const Picture* pictureNear(const std::vector<Picture>& pictures, double time) {
    const Picture* best = nullptr;
    for (const auto& picture : pictures)
        if (!best || std::abs(picture.time - time) < std::abs(best->time - time)) best = &picture;
    return best;
}

// What ffprobe says about the movie's container and its video track.
Json probe(const std::string& path) {
    auto result = runCommand({"ffprobe", "-v", "error", "-print_format", "json", "-show_format", "-show_streams",
                              "-select_streams", "v:0", path},
                             30s);
    if (!result || result->status != exitedWith(0)) return Json::object();
    return Json::parse(result->output, nullptr, false);
}

double probedDuration(const Json& probed) {
    if (!probed.contains("format") || !probed["format"].contains("duration")) return -1;
    return std::stod(probed["format"]["duration"].get<std::string>());
}

std::string colourPage(const std::string& title, const std::string& colour) {
    return "<style>html,body{margin:0;height:100%;background:" + colour + ";cursor:default}</style>" + title;
}

Json startWindow(std::uint64_t id, const std::string& output, int fps = 30) {
    return {{"cmd", "start"}, {"target", {{"kind", "window"}, {"windowID", id}}}, {"fps", fps}, {"output", output}};
}

using Clock = std::chrono::steady_clock;

// The id of vanto's panel window with the title, when it is on screen.
std::optional<std::uint64_t> panelWindowID(const std::string& title) {
    for (auto window : clientListStacking()) {
        auto result = runCommand({"xprop", "-id", std::to_string(window), "WM_NAME"});
        if (result && result->output.find(title) != std::string::npos) return window;
    }
    return std::nullopt;
}

// Its geometry.
std::optional<Geometry> panelWindow(const std::string& title) {
    auto id = panelWindowID(title);
    return id ? xwininfo(*id) : std::nullopt;
}

bool inside(const Geometry& area, int x, int y) {
    return x >= area.x && y >= area.y && x < area.x + area.width && y < area.y + area.height;
}

// Work asked of the main thread before it parks runs on the asking thread, and Qt
// must live on the parked one: the steps wait for the park first.
void waitForPark(vanto::MainThread& mainThread) {
    std::promise<void> parked;
    mainThread.post([&] { parked.set_value(); });
    parked.get_future().wait();
}

// The panels live on the process's main thread, as in the program: steps run on a
// thread of their own while this one serves as the main thread until they end.
void onPanelsThread(vanto::LinuxPlatform& backend, vanto::Platform& platform, const std::function<void()>& steps) {
    std::thread worker([&] {
        struct Quit {
            vanto::LinuxPlatform& backend;
            ~Quit() { backend.runLoop().quit(); }
        } quit{backend};
        waitForPark(platform.mainThread);
        steps();
    });
    backend.runLoop().park();
    worker.join();
}

} // namespace

TEST(Record, AWindowWhileMovingClickingAndTyping) {
    TempDir folder("vanto-e2e-record");
    auto page = writePage(folder.path(), "Record me",
                          colourPage("<input id=name style='margin:80px;font-size:20px' placeholder=Name>", "#f4f4f4"));
    auto browser = startChromium(page, 60, 40, 800, 600);
    VantoSession vanto;
    const auto id = waitForWindow(vanto, "Record me");
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(1500ms); // the page has painted
    const auto geometry = xwininfo(id);
    ASSERT_TRUE(geometry);

    const std::string output = (folder.path() / "take.mov").string();
    // The take begins while "start" is answered: its five seconds count from the
    // request, as the stop's own latency counts at the other end.
    const auto startedAt = Clock::now();
    Json started = vanto.ask(startWindow(id, output));
    ASSERT_EQ(started, (Json{{"ok", true}})) << started.dump();

    Json status = vanto.ask({{"cmd", "status"}});
    EXPECT_EQ(status["status"]["recording"], true);
    EXPECT_EQ(status["status"]["path"], output);

    const int fieldX = geometry->x + 150, fieldY = geometry->y + 95;
    EXPECT_EQ(vanto.ask(Json{{"cmd", "move"}, {"to", {{"x", fieldX}, {"y", fieldY}}}, {"label", "Name field"}}),
              (Json{{"ok", true}}));
    EXPECT_EQ(vanto.ask(Json{{"cmd", "click"}, {"label", "Name field"}}), (Json{{"ok", true}}));
    EXPECT_EQ(vanto.ask(Json{{"cmd", "type"}, {"text", "Ada"}, {"label", "Name field"}}), (Json{{"ok", true}}));
    EXPECT_EQ(vanto.ask(Json{{"cmd", "move"}, {"to", {{"x", fieldX + 200}, {"y", fieldY + 200}}}}),
              (Json{{"ok", true}})); // no label: not logged
    std::this_thread::sleep_until(startedAt + 5s);

    Json stopped = vanto.ask({{"cmd", "stop"}}, 30s);
    ASSERT_EQ(stopped.value("ok", false), true) << stopped.dump();
    EXPECT_EQ(stopped["stopped"]["path"], output);
    EXPECT_EQ(stopped["stopped"]["events"], 3);
    const double reported = stopped["stopped"]["duration"].get<double>();
    // The take is timed from its first picture, which a loaded machine (the sanitizer
    // tree beside other suites) delivers up to about half a second late.
    EXPECT_NEAR(reported, 5.0, 0.6);
    // A busy machine may lose frames (the benchmark measures that); nothing else may
    // go wrong.
    if (stopped["stopped"].contains("warning")) {
        EXPECT_NE(stopped["stopped"]["warning"].get<std::string>().find(
                      "dropped because the screen could not be captured fast enough"),
                  std::string::npos)
            << stopped.dump();
    }

    Json after = vanto.ask({{"cmd", "status"}});
    EXPECT_EQ(after["status"]["recording"], false);
    EXPECT_EQ(after["status"]["path"], output);
    EXPECT_EQ(after["status"]["events"], 3);
    EXPECT_EQ(vanto.ask({{"cmd", "stop"}}), (Json{{"ok", false}, {"error", "no recording in progress"}}));

    Json probed = probe(output);
    ASSERT_TRUE(probed.contains("streams") && !probed["streams"].empty()) << probed.dump();
    const auto& video = probed["streams"][0];
    EXPECT_EQ(probed["format"]["tags"]["major_brand"], "qt  ");
    EXPECT_EQ(video["codec_name"], "h264");
    EXPECT_EQ(video["pix_fmt"], "yuv420p");
    EXPECT_EQ(video["r_frame_rate"], "30/1");
    EXPECT_NEAR(probedDuration(probed), 5.0, 0.6);
    // The recorder reports the movie's own length, so that the next take is placed where
    // this one really ends.
    EXPECT_NEAR(probedDuration(probed), reported, 0.005) << "the movie and the recorder disagree on its length";
    EXPECT_EQ(video["width"], geometry->width & ~1);
    EXPECT_EQ(video["height"], geometry->height & ~1);
    EXPECT_EQ(video["width"].get<int>() % 2, 0);
    EXPECT_EQ(video["height"].get<int>() % 2, 0);
}

TEST(Record, ThePointerIsInThePictureWhereItMoved) {
    TempDir folder("vanto-e2e-record");
    auto page = writePage(folder.path(), "Pointer page", colourPage("", "#ffffff"));
    auto browser = startChromium(page, 0, 0, 640, 480);
    VantoSession vanto;
    const auto id = waitForWindow(vanto, "Pointer page");
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(1500ms);
    const auto geometry = xwininfo(id);
    ASSERT_TRUE(geometry);
    warpPointer(geometry->x + 100, geometry->y + 300);

    const std::string output = (folder.path() / "pointer.mov").string();
    ASSERT_EQ(vanto.ask(startWindow(id, output)), (Json{{"ok", true}}));
    std::this_thread::sleep_for(1200ms);
    warpPointer(geometry->x + 400, geometry->y + 150);
    std::this_thread::sleep_for(1200ms);
    ASSERT_EQ(vanto.ask({{"cmd", "stop"}}, 30s).value("ok", false), true);

    auto pictures = decodeMovie(output);
    ASSERT_GT(pictures.size(), 30u);
    const Picture* before = pictureNear(pictures, 0.6);
    const Picture* after = pictureNear(pictures, pictures.back().time - 0.4);
    ASSERT_TRUE(before && after);
    // Where the pictures differ: only around the two places the pointer was. The
    // browser's own bar at the top (tabs, address) may redraw, so only the page counts.
    int nearFirst = 0, nearSecond = 0, elsewhere = 0;
    std::string where;
    for (int y = 100; y < before->height; ++y)
        for (int x = 0; x < before->width; ++x) {
            const auto* a = before->at(x, y);
            const auto* b = after->at(x, y);
            if (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) < 60) continue;
            // The pointer image reaches about 32 pixels right of and below its hot spot.
            if (x >= 90 && x < 140 && y >= 290 && y < 340)
                ++nearFirst;
            else if (x >= 390 && x < 440 && y >= 140 && y < 190)
                ++nearSecond;
            else if (++elsewhere < 20)
                where += " " + std::to_string(x) + "," + std::to_string(y);
        }
    EXPECT_GT(nearFirst, 20);
    EXPECT_GT(nearSecond, 20);
    EXPECT_LT(elsewhere, 10) << "also changed at" << where;
}

TEST(Record, AWindowPlacedOverTheRecordedOneIsNotInIt) {
    TempDir folder("vanto-e2e-record");
    auto page = writePage(folder.path(), "Covered page", colourPage("", "#2050c0"));
    auto browser = startChromium(page, 100, 100, 640, 480);
    VantoSession vanto;
    const auto id = waitForWindow(vanto, "Covered page");
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(1500ms);
    const auto geometry = xwininfo(id);
    ASSERT_TRUE(geometry);

    const std::string output = (folder.path() / "covered.mov").string();
    Json start = startWindow(id, output);
    start["showsCursor"] = false;
    ASSERT_EQ(vanto.ask(start), (Json{{"ok", true}}));
    std::this_thread::sleep_for(700ms);
    TestWindow cover(geometry->x + 100, geometry->y + 100, 300, 200, "Cover");
    activateWindow(cover.id());
    std::this_thread::sleep_for(1500ms);
    ASSERT_EQ(vanto.ask({{"cmd", "stop"}}, 30s).value("ok", false), true);

    auto pictures = decodeMovie(output);
    ASSERT_FALSE(pictures.empty());
    const Picture& last = pictures.back();
    // The cover is white; the page under it stays blue in the movie.
    int blue = 0, total = 0;
    for (int y = 150; y < 250; ++y)
        for (int x = 150; x < 350; ++x, ++total) {
            const auto* p = last.at(x, y);
            if (p[2] > 150 && p[0] < 80) ++blue;
        }
    EXPECT_GT(blue, total * 95 / 100);
}

TEST(Record, ADisplayRecordingLeavesOutTheIndicator) {
    TempDir folder("vanto-e2e-record");
    auto page = writePage(folder.path(), "Whole screen", colourPage("", "#20a040"));
    auto browser = startChromium(page, 0, 0, 1440, 900);
    VantoSession vanto;
    const auto id = waitForWindow(vanto, "Whole screen");
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(1500ms);

    const std::string output = (folder.path() / "display.mov").string();
    Json start{{"cmd", "start"}, {"target", {{"kind", "display"}}}, {"output", output}, {"showsCursor", false}};
    ASSERT_EQ(vanto.ask(start), (Json{{"ok", true}}));
    std::this_thread::sleep_for(500ms);
    // Without a system tray the indicator is a small label in front of every window.
    const std::optional<Geometry> indicator = panelWindow("Vanto recording indicator");
    std::this_thread::sleep_for(1000ms);
    ASSERT_EQ(vanto.ask({{"cmd", "stop"}}, 30s).value("ok", false), true);
    ASSERT_TRUE(indicator) << "the indicator label is not on screen";

    // What the browser's window holds under the label, from a window recording, which
    // never shows other windows.
    const std::string windowOutput = (folder.path() / "window.mov").string();
    Json windowStart = startWindow(id, windowOutput);
    windowStart["showsCursor"] = false;
    ASSERT_EQ(vanto.ask(windowStart), (Json{{"ok", true}}));
    std::this_thread::sleep_for(1000ms);
    ASSERT_EQ(vanto.ask({{"cmd", "stop"}}, 30s).value("ok", false), true);
    const auto geometry = xwininfo(id);
    ASSERT_TRUE(geometry);

    auto display = decodeMovie(output);
    auto window = decodeMovie(windowOutput);
    ASSERT_FALSE(display.empty());
    ASSERT_FALSE(window.empty());
    EXPECT_EQ(display.back().width, 1440);
    EXPECT_EQ(display.back().height, 900);
    int same = 0, total = 0;
    for (int y = indicator->y; y < indicator->y + indicator->height; ++y)
        for (int x = indicator->x; x < indicator->x + indicator->width; ++x) {
            const int wx = x - geometry->x, wy = y - geometry->y;
            if (wx < 0 || wy < 0 || wx >= window.back().width || wy >= window.back().height) continue;
            ++total;
            const auto* a = display.back().at(x, y);
            const auto* b = window.back().at(wx, wy);
            if (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) < 40) ++same;
        }
    ASSERT_GT(total, 100);
    // Two encodings of the browser's sharp bar text differ a little at its edges; the
    // dark label itself would differ almost everywhere.
    EXPECT_GT(same, total * 85 / 100) << "the display recording shows something else where the indicator is";
}

TEST(Record, AKilledRecordingLeavesAPlayableMovie) {
    TempDir folder("vanto-e2e-record");
    auto page = writePage(folder.path(), "Killed take", colourPage("<h1 style='margin:40px'>still here</h1>", "#fff"));
    auto browser = startChromium(page, 0, 0, 640, 480);
    std::string output = (folder.path() / "killed.mov").string();
    double elapsed = 0;
    {
        VantoSession lister;
        ASSERT_NE(waitForWindow(lister, "Killed take"), 0u);
    }
    Child vanto({vantoBinary()}, {.pipeStdin = true, .pipeStdout = true});
    vanto.write(R"({"cmd":"list-windows"})"
                "\n");
    auto listed = vanto.readLine(10s);
    ASSERT_TRUE(listed);
    std::uint64_t id = 0;
    const Json windows = Json::parse(*listed)["windows"];
    for (const auto& window : windows)
        if (window.value("title", "").find("Killed take") != std::string::npos) id = window["windowID"];
    ASSERT_NE(id, 0u) << *listed;
    vanto.write(startWindow(id, output).dump() + "\n");
    auto answer = vanto.readLine(20s);
    ASSERT_EQ(answer, R"({"ok":true})");
    const auto started = Clock::now();
    std::this_thread::sleep_for(2500ms);
    ::kill(vanto.pid(), SIGKILL);
    elapsed = std::chrono::duration<double>(Clock::now() - started).count();
    auto status = vanto.wait(10s);
    ASSERT_TRUE(status);
    EXPECT_FALSE(status->exited);

    Json probed = probe(output);
    ASSERT_TRUE(probed.contains("streams") && !probed["streams"].empty()) << probed.dump();
    EXPECT_EQ(probed["streams"][0]["codec_name"], "h264");
    EXPECT_GE(probedDuration(probed), elapsed - 1.0);
    EXPECT_GT(decodeMovie(output).size(), static_cast<std::size_t>((elapsed - 1.0) * 30));
}

// Two processes, one movie: the second is refused while the first records, and what
// is at the output is replaced only by a movie that really started, and only if it is a
// file.
TEST(Record, OneMovieFileTakesOneRecordingAndOnlyAFileIsReplaced) {
    TempDir folder("vanto-e2e-record");
    auto page = writePage(folder.path(), "Shared take", colourPage("<h1 style='margin:40px'>one take</h1>", "#fff"));
    auto browser = startChromium(page, 0, 0, 640, 480);
    VantoSession first;
    VantoSession second;
    const auto id = waitForWindow(first, "Shared take");
    ASSERT_NE(id, 0u);
    std::this_thread::sleep_for(1000ms);

    const std::string output = (folder.path() / "take.mov").string();
    ASSERT_EQ(first.ask(startWindow(id, output)), (Json{{"ok", true}}));
    EXPECT_EQ(second.ask(startWindow(id, output)),
              (Json{{"ok", false}, {"error", "another recording is already writing to " + output}}));
    std::this_thread::sleep_for(2s);
    Json stopped = first.ask({{"cmd", "stop"}}, 30s);
    ASSERT_EQ(stopped.value("ok", false), true) << stopped.dump();
    const double duration = stopped["stopped"]["duration"].get<double>();
    Json probed = probe(output);
    ASSERT_TRUE(probed.contains("streams") && !probed["streams"].empty()) << probed.dump();
    EXPECT_NEAR(probedDuration(probed), duration, 0.2);
    const auto size = std::filesystem::file_size(output);

    // A start that fails after the encoder was asked for leaves the take as it was.
    Json huge{{"cmd", "start"},
              {"target", {{"kind", "display"}, {"rect", {{"x", 0}, {"y", 0}, {"width", 1e9}, {"height", 100}}}}},
              {"output", output}};
    Json failed = second.ask(huge, 30s);
    EXPECT_EQ(failed.value("ok", true), false);
    EXPECT_NE(failed.value("error", "").find("cannot open the encoder"), std::string::npos) << failed.dump();
    EXPECT_EQ(std::filesystem::file_size(output), size);
    EXPECT_NEAR(probedDuration(probe(output)), duration, 0.2);

    // A folder is never taken for an old take.
    const auto shelf = folder.path() / "shelf";
    std::filesystem::create_directory(shelf);
    EXPECT_EQ(second.ask(startWindow(id, shelf.string())),
              (Json{{"ok", false},
                    {"error", "cannot record to " + shelf.string() + ": it is a folder; name a movie file in it"}}));
    EXPECT_TRUE(std::filesystem::is_directory(shelf));

    // Once free, the file takes the second process's recording.
    ASSERT_EQ(second.ask(startWindow(id, output)), (Json{{"ok", true}}));
    std::this_thread::sleep_for(1s);
    ASSERT_EQ(second.ask({{"cmd", "stop"}}, 30s).value("ok", false), true);
    EXPECT_LT(probedDuration(probe(output)), duration - 0.5);
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        if (entry.path().filename().string().starts_with(".take.mov")) left.push_back(entry.path().string());
    EXPECT_TRUE(left.empty()) << left.front();
}

namespace {

// The recorder over the real Linux backend in this process, its main thread served by
// a thread of its own: for what the control protocol cannot ask for (the codec) or
// does not show (the event log).
struct InProcessRecorder {
    vanto::LinuxPlatform backend;
    vanto::Platform platform = backend.platform();
    vanto::RecordingIndicator indicator{platform.ui};
    vanto::StepHUD hud{platform.ui};
    std::jthread mainThread{[this] { backend.runLoop().park(); }};
    vanto::Recorder recorder{platform.capture, platform.clock, platform.mainThread, indicator, hud};
    ~InProcessRecorder() { backend.runLoop().quit(); }
};

// A page in Chromium at the top left of the desktop, and its window's number (0 when
// it never showed).
struct ShownPage {
    std::unique_ptr<Chromium> browser;
    std::uint64_t id = 0;
};

ShownPage showPage(const TempDir& folder, const std::string& title, const std::string& body, int width = 640,
                   int height = 480) {
    ShownPage shown;
    shown.browser = startChromium(writePage(folder.path(), title, body), 0, 0, width, height);
    VantoSession lister;
    shown.id = waitForWindow(lister, title);
    return shown;
}

vanto::Target windowTarget(std::uint64_t id) {
    vanto::Target target;
    target.kind = vanto::Target::Kind::window;
    target.windowID = static_cast<std::uint32_t>(id);
    return target;
}

} // namespace

TEST(RecordInProcess, HevcWhenAskedIsAQuickTimeHvc1Movie) {
    TempDir folder("vanto-e2e-record");
    auto page = showPage(folder, "Hevc page", colourPage("<h1 style='margin:40px'>hevc</h1>", "#ffe0a0"));
    ASSERT_NE(page.id, 0u);
    InProcessRecorder in;
    vanto::Recorder::StartParams params;
    params.target = windowTarget(page.id);
    params.fps = 24;
    params.output = folder.path() / "hevc.mov";
    params.codec = vanto::RecordingCodec::hevc;
    in.recorder.start(params);
    std::this_thread::sleep_for(2s);
    auto stopped = in.recorder.stop();
    EXPECT_EQ(stopped.path, params.output.string());

    Json probed = probe(params.output.string());
    ASSERT_TRUE(probed.contains("streams") && !probed["streams"].empty()) << probed.dump();
    EXPECT_EQ(probed["format"]["tags"]["major_brand"], "qt  ");
    EXPECT_EQ(probed["streams"][0]["codec_name"], "hevc");
    EXPECT_EQ(probed["streams"][0]["codec_tag_string"], "hvc1");
    EXPECT_EQ(probed["streams"][0]["r_frame_rate"], "24/1");
    EXPECT_NEAR(probedDuration(probed), 2.0, 0.3);
}

TEST(RecordInProcess, EventsCarryPositionsInTheRecordedAreaOnlyForDisplayRecordings) {
    TempDir folder("vanto-e2e-record");
    auto page = showPage(folder, "Events page", colourPage("", "#ffffff"));
    ASSERT_NE(page.id, 0u);
    InProcessRecorder in;

    // Part of the display, from (100, 50): a click at (300, 200) on the desktop is at
    // (200, 150) in the movie; one outside the part has no position.
    vanto::Recorder::StartParams display;
    display.target.kind = vanto::Target::Kind::display;
    display.target.rect = vanto::Rect{100, 50, 800, 600};
    display.output = folder.path() / "part.mov";
    in.recorder.start(display);
    in.recorder.note("click", "Inside", "", vanto::Point{300, 200});
    in.recorder.note("click", "Outside", "", vanto::Point{50, 20});
    std::this_thread::sleep_for(1s);
    in.recorder.stop();
    auto events = in.recorder.events();
    ASSERT_EQ(events.size(), 2u);
    ASSERT_TRUE(events[0].at && events[0].area);
    EXPECT_EQ(*events[0].at, (vanto::Point{200, 150}));
    EXPECT_EQ(*events[0].area, (vanto::Size{800, 600}));
    EXPECT_FALSE(events[1].at) << "a click outside the recorded part has a position";
    Json probed = probe(display.output.string());
    ASSERT_TRUE(probed.contains("streams") && !probed["streams"].empty()) << probed.dump();
    EXPECT_EQ(probed["streams"][0]["width"], 800);
    EXPECT_EQ(probed["streams"][0]["height"], 600);

    vanto::Recorder::StartParams window;
    window.target = windowTarget(page.id);
    window.output = folder.path() / "window.mov";
    in.recorder.start(window);
    in.recorder.note("click", "In the window", "", vanto::Point{100, 100});
    std::this_thread::sleep_for(1s);
    in.recorder.stop();
    events = in.recorder.events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_FALSE(events[0].at) << "a window recording's event has a position";
}

TEST(RecordInProcess, ADisplayRecordingLeavesOutTheStepPanel) {
    TempDir folder("vanto-e2e-record");
    auto page = showPage(folder, "Panel page", colourPage("", "#20a040"), 1440, 900);
    ASSERT_NE(page.id, 0u);
    std::this_thread::sleep_for(1000ms);

    vanto::LinuxPlatform backend;
    auto panels = vanto::makeDesktopPanels(backend.runLoop());
    backend.usePanels(*panels);
    auto platform = backend.platform();
    vanto::RecordingIndicator indicator(platform.ui);
    vanto::StepHUD hud(platform.ui);
    vanto::Recorder recorder(platform.capture, platform.clock, platform.mainThread, indicator, hud);

    std::vector<Picture> whole, alone;
    std::optional<Geometry> panel, geometry;
    onPanelsThread(backend, platform, [&] {
        platform.mainThread.run(
            [&] { hud.show(vanto::RecordingIndicator::Phase::planning, "step 1 of 3", "Click Save", 0.3); });
        waitFor([&] { return (panel = panelWindow("Vanto step panel")).has_value(); }, 10s, 200ms);
        if (!panel) return;
        std::this_thread::sleep_for(500ms); // drawn

        vanto::Recorder::StartParams display;
        display.target.kind = vanto::Target::Kind::display;
        display.output = folder.path() / "display.mov";
        display.showsCursor = false;
        recorder.start(display);
        std::this_thread::sleep_for(1s);
        recorder.stop();
        platform.mainThread.run([&] { hud.hide(); });

        vanto::Recorder::StartParams window;
        window.target = windowTarget(page.id);
        window.output = folder.path() / "window.mov";
        window.showsCursor = false;
        recorder.start(window);
        std::this_thread::sleep_for(1s);
        recorder.stop();
        geometry = xwininfo(page.id);
        whole = decodeMovie(display.output.string());
        alone = decodeMovie(window.output.string());
    });

    ASSERT_TRUE(panel) << "the step panel is not on screen";
    ASSERT_TRUE(geometry);
    ASSERT_FALSE(whole.empty());
    ASSERT_FALSE(alone.empty());
    int same = 0, total = 0;
    for (int y = panel->y; y < panel->y + panel->height; ++y)
        for (int x = panel->x; x < panel->x + panel->width; ++x) {
            const int wx = x - geometry->x, wy = y - geometry->y;
            if (wx < 0 || wy < 0 || wx >= alone.back().width || wy >= alone.back().height) continue;
            ++total;
            const auto* a = whole.back().at(x, y);
            const auto* b = alone.back().at(wx, wy);
            if (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) < 40) ++same;
        }
    ASSERT_GT(total, 100);
    EXPECT_GT(same, total * 90 / 100) << "the display recording shows the step panel";
}

// --- the panels ---------------------------------------------------------------

// The step panel only informs: a click on it lands in the page beneath (a cookie
// banner in the corner). The Stop control takes clicks, and Ctrl+Alt+. stops too, but
// only while stopping is allowed; otherwise the chord is the page's. Clicks and keys
// come from the vanto binary, the panels from this process's main thread.
TEST(Panels, ClicksPassTheStepPanelWhileTheControlAndTheChordStop) {
    TempDir folder("vanto-e2e-panels");
    const std::string body =
        R"(<button onclick="document.title='Accepted'" style="position:fixed;right:40px;bottom:30px;)"
        R"(width:300px;height:50px">Accept cookies</button><script>let chords = 0;
addEventListener('keydown', e => { if (e.key === '.' && e.ctrlKey && e.altKey) document.title = 'Chord ' + ++chords; });
</script>)";
    auto browser = startChromium(writePage(folder.path(), "Cookie page", body), 0, 0, 1440, 900);
    VantoSession vanto;
    ASSERT_NE(waitForWindow(vanto, "Cookie page"), 0u);
    Json cookie;
    ASSERT_TRUE(waitFor(
        [&] {
            const Json found = find(vanto, browser->pid(), "Accept cookies");
            if (found.empty()) return false;
            cookie = found[0];
            return true;
        },
        60s, 500ms));
    const int x = cookie["cx"].get<int>(), y = cookie["cy"].get<int>();
    auto click = [&](int atX, int atY) { return vanto.ask(Json{{"cmd", "click"}, {"to", {{"x", atX}, {"y", atY}}}}); };
    const Json chord = Json::parse(R"({"cmd":"key","keys":["ctrl+alt+."]})");

    vanto::LinuxPlatform backend;
    auto panels = vanto::makeDesktopPanels(backend.runLoop());
    backend.usePanels(*panels);
    auto platform = backend.platform();
    vanto::StepHUD hud(platform.ui);
    std::atomic<int> stops = 0;
    onPanelsThread(backend, platform, [&] {
        platform.mainThread.run([&] {
            hud.show(vanto::RecordingIndicator::Phase::recording, "step 1 of 2", "Accept the cookies", 0.5);
            hud.allowStopping([&] { ++stops; });
        });
        std::optional<Geometry> panel, control;
        ASSERT_TRUE(waitFor(
            [&] {
                panel = panelWindow("Vanto step panel");
                control = panelWindow("Vanto stop control");
                return panel && control;
            },
            10s, 200ms));
        ASSERT_TRUE(inside(*panel, x, y)) << "the banner's button is not under the panel";
        std::this_thread::sleep_for(500ms); // drawn

        EXPECT_EQ(click(x, y), (Json{{"ok", true}}));
        EXPECT_NE(waitForWindow(vanto, "Accepted"), 0u) << "the click did not reach the page under the panel";

        // Suspended: the chord is the page's.
        platform.mainThread.run([&] { hud.suspendStopping("Saving the take"); });
        EXPECT_EQ(vanto.ask(chord), (Json{{"ok", true}}));
        EXPECT_NE(waitForWindow(vanto, "Chord 1"), 0u) << "the chord did not reach the page";
        EXPECT_EQ(stops, 0);

        platform.mainThread.run([&] { hud.resumeStopping(); });
        EXPECT_EQ(vanto.ask(chord), (Json{{"ok", true}}));
        EXPECT_TRUE(waitFor([&] { return stops == 1; }, 10s)) << "Ctrl+Alt+. did not stop";

        platform.mainThread.run([&] { hud.allowStopping([&] { stops += 10; }); });
        EXPECT_EQ(click(control->x + control->width / 2, control->y + control->height / 2), (Json{{"ok", true}}));
        EXPECT_TRUE(waitFor([&] { return stops == 11; }, 10s)) << "the Stop control did not stop";
        platform.mainThread.run([&] { hud.hide(); });

        // Once hidden the chord is the page's again, and nothing stops.
        EXPECT_EQ(vanto.ask(chord), (Json{{"ok", true}}));
        EXPECT_NE(waitForWindow(vanto, "Chord 2"), 0u) << "the chord stayed taken";
        EXPECT_EQ(stops, 11);
    });
}

// The picker on the real desktop: its panel keeps clear of the pointer and is left out
// of recordings, and Space pressed through XTest (the vanto binary's key command) over
// the page's button answers with that button, takes the panel away and never reaches
// the page.
TEST(Panels, ThePickerAnswersSpaceOverAButtonWithThatButton) {
    TempDir folder("vanto-e2e-panels");
    const std::string body =
        R"(<button style="position:fixed;left:1100px;top:700px;width:200px;height:60px">Send it</button>)"
        R"(<script>addEventListener('keydown', e => { document.title = 'Key ' + e.code; });</script>)";
    auto browser = startChromium(writePage(folder.path(), "Picker page", body), 0, 0, 1440, 900);
    VantoSession vanto;
    ASSERT_NE(waitForWindow(vanto, "Picker page"), 0u);
    Json button;
    ASSERT_TRUE(waitFor(
        [&] {
            const Json found = find(vanto, browser->pid(), "Send it", "button");
            if (found.empty()) return false;
            button = found[0];
            return true;
        },
        60s, 500ms));
    const int x = button["cx"].get<int>(), y = button["cy"].get<int>();
    warpPointer(x, y);

    vanto::LinuxPlatform backend;
    auto panels = vanto::makeDesktopPanels(backend.runLoop());
    backend.usePanels(*panels);
    auto platform = backend.platform();
    vanto::AXResolver resolver(platform.accessibility, platform.processes, platform.clock);
    vanto::Picker picker({platform.mainThread, platform.clock, platform.ui, platform.keys, platform.pointer, resolver},
                         {});
    std::optional<vanto::Picker::Outcome> outcome;
    std::optional<Geometry> panel;
    std::optional<std::uint64_t> panelID;
    std::vector<std::uint32_t> leftOut;
    bool panelWent = false;
    onPanelsThread(backend, platform, [&] {
        auto answer = std::async(std::launch::async, [&] { return picker.ask("Which one is Send?", browser->pid()); });
        waitFor([&] { return (panel = panelWindow("Vanto picker")).has_value(); }, 20s, 200ms);
        panelID = panelWindowID("Vanto picker");
        platform.mainThread.run([&] { leftOut = platform.ui.panelWindowIDs(); });
        std::this_thread::sleep_for(1s); // drawn, and the pointer read
        EXPECT_EQ(vanto.ask(Json{{"cmd", "key"}, {"keys", {"space"}}}), (Json{{"ok", true}}));
        if (answer.wait_for(40s) == std::future_status::ready) outcome = answer.get();
        panelWent = waitFor([&] { return !panelWindow("Vanto picker"); }, 10s, 200ms);
    });

    ASSERT_TRUE(panel) << "the picker's panel is not on screen";
    EXPECT_FALSE(inside(*panel, x, y)) << "the panel covers what the person points at";
    ASSERT_TRUE(panelID);
    EXPECT_NE(std::find(leftOut.begin(), leftOut.end(), *panelID), leftOut.end())
        << "a recording made while the question is open would show the panel";
    ASSERT_TRUE(outcome) << "no answer to Space";
    const auto* picked = std::get_if<vanto::Picker::Picked>(&*outcome);
    ASSERT_NE(picked, nullptr) << "Space did not pick the button; outcome " << outcome->index();
    EXPECT_EQ(picked->element.text, "Send it");
    EXPECT_TRUE(panelWent) << "the panel stayed after the answer";
    EXPECT_EQ(waitForWindow(vanto, "Key Space", 2s), 0u) << "the page saw the Space";
}

// Qt's own warnings (no XDG_RUNTIME_DIR for root, say) stay out of what vanto writes.
TEST(Panels, OnlyVantosOwnLinesReachThePerson) {
    TempDir folder("vanto-e2e-panels");
    Child vanto({"env", "-u", "XDG_RUNTIME_DIR", "sh", "-c", "exec \"$0\" 2>&1", vantoBinary()},
                {.pipeStdin = true, .pipeStdout = true});
    const std::string output = (folder.path() / "display.mov").string();
    ASSERT_TRUE(
        vanto.write(Json{{"cmd", "start"}, {"target", {{"kind", "display"}}}, {"output", output}}.dump() + "\n"));
    EXPECT_TRUE(waitFor([] { return panelWindow("Vanto recording indicator").has_value(); }, 10s, 200ms));
    ASSERT_TRUE(vanto.write("{\"cmd\":\"stop\"}\n"));
    vanto.closeStdin();
    const auto all = vanto.readAll(60s);
    ASSERT_TRUE(all);
    std::istringstream lines(*all);
    int answers = 0;
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.find("QStandardPaths"), std::string::npos) << line;
        const Json answer = Json::parse(line, nullptr, false);
        if (answer.is_object() && answer.value("ok", false)) ++answers;
    }
    EXPECT_EQ(answers, 2) << *all;
}
