#pragma once

#include "platform/EventSink.h"
#include "platform/Platform.h"
#include "platform/RunLoop.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeCapture.h"
#include "platform/fake/FakeExtendedAttributes.h"
#include "platform/fake/FakeHandoff.h"
#include "platform/fake/FakeTerminal.h"
#include "platform/fake/FakeWorkspace.h"
#include "platform/fake/MemoryDefaults.h"
#include "platform/fake/QuietNetwork.h"
#include "platform/fake/ScriptedHttp.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vanto::fake {

// A clock whose time moves only when somebody sleeps on it or advances it, so that
// minutes of waiting take no real time. Safe to use from several threads.
// With autoAdvance off, a sleeper instead waits until advance() reaches its wake-up
// time, which makes races between threads (an operation against its deadline) exact.
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(double start = 1000, double wallStart = 1'800'000'000);
    void setAutoAdvance(bool on);
    // Waits (in real time) until n threads are asleep on the clock.
    void waitForSleepers(int n);
    // Waits (in real time) until sleeps() reaches n: a sleeper woken by advance() has
    // done what it does at that time once it sleeps again.
    void waitForSleeps(int n);
    double now() override;
    double wallTime() override;
    bool sleep(double seconds, std::stop_token stop = {}) override;
    void advance(double seconds);
    // Total virtual seconds slept so far, and how many sleeps there were.
    double slept();
    int sleeps();

private:
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool autoAdvance_ = true;
    int sleepers_ = 0;
    double now_;
    double wallOffset_;
    double slept_ = 0;
    int sleeps_ = 0;
};

// Deterministic bytes from a seed (xorshift), so UUIDs in tests are repeatable.
class SeededRandom final : public Random {
public:
    explicit SeededRandom(std::uint64_t seed = 0x5eed);
    void fill(std::span<std::uint8_t> bytes) override;

private:
    std::uint64_t state_;
};

class FakeWindowServer final : public WindowServer {
public:
    std::vector<nlohmann::json> onScreenWindows() override { return windows; }
    std::vector<ScreenInfo> screens() override { return screenList; }
    // Records the request; onClose says what the application does about it.
    bool closeWindow(std::uint32_t window) override {
        closed.push_back(window);
        if (onClose) onClose(window);
        return true;
    }

    // Adds an ordinary application window in front of the others.
    void addWindow(std::uint32_t number, const std::string& app, std::int32_t pid, const std::string& title,
                   RectD bounds);

    std::vector<nlohmann::json> windows; // front to back
    std::vector<std::uint32_t> closed;
    std::function<void(std::uint32_t window)> onClose;
    std::vector<ScreenInfo> screenList{{1, {0, 0, 1440, 900}, {0, 0, 1440, 900}, 1, true}};
};

struct FakeProcess {
    std::int32_t parent = 1;
    std::string path;
    bool alive = true; // running() lists it by its path's file name
};

class FakeProcesses final : public Processes {
public:
    std::int32_t currentPID() override { return self; }
    std::optional<std::int32_t> parentPID(std::int32_t pid) override;
    std::optional<std::string> executablePath(std::int32_t pid) override;
    bool isAlive(std::int32_t pid) override;
    std::optional<ProcessStart> startTime(std::int32_t pid) override;
    ProgramOutput run(const std::string& program, const std::vector<std::string>& arguments) override;
    std::optional<std::string> environment(const std::string& name) override;
    std::optional<std::string> bundleIdentifier() override { return bundleID; }
    // A launch records the command and, unless onLaunch says otherwise, starts a living
    // process of that program, numbered from nextPID.
    Launch launch(const std::string& program, const std::vector<std::string>& arguments) override;
    LaunchState launched(std::int32_t pid) override;
    bool terminate(std::int32_t pid) override;
    std::vector<std::pair<std::int32_t, std::string>> running() override;

    std::int32_t self = 4242;
    std::map<std::int32_t, FakeProcess> table;
    std::map<std::int32_t, ProcessStart> starts; // when each process started, where known
    std::map<std::string, std::string> env;
    std::optional<std::string> bundleID;
    // Answers for run(), by program; every call is recorded.
    std::map<std::string, ProgramOutput> programs;
    std::vector<std::vector<std::string>> ran;
    std::function<Launch(const std::vector<std::string>& command)> onLaunch;
    std::vector<std::vector<std::string>> launches;
    std::map<std::int32_t, LaunchState> launchStates;
    std::vector<std::int32_t> terminated;
    std::int32_t nextPID = 9000;
};

class FakePermissions final : public Permissions {
public:
    bool accessibilityTrusted(bool prompt) override;
    bool screenCapturePreflight() override { return screenCapture; }
    bool requestScreenCapture() override;

    bool accessibility = true;
    bool screenCapture = true;
    // What was asked, in order: "accessibility", "accessibility-prompt", "screen-request".
    std::vector<std::string> asked;
};

class FakePointer final : public Pointer {
public:
    PointD position() override { return at; }
    PointD at{};
};

// One posted input event, as the fake sink records it.
struct PostedEvent {
    enum class Kind { mouse, key, flagsChanged, scroll, keyToProcess };
    Kind kind = Kind::mouse;
    MouseEventType mouse = MouseEventType::moved;
    Point at{};
    int clickState = 0;
    std::uint16_t keyCode = 0;
    bool down = false;
    std::uint64_t flags = 0;
    std::optional<std::string> text;
    std::int32_t vertical = 0;
    std::int32_t horizontal = 0;
    std::int32_t pid = 0;
    double time = 0; // the clock's now() when it was posted
};

// Records every event in order; pointer moves also move the fake pointer.
class FakeEventSink final : public EventSink {
public:
    FakeEventSink(Clock& clock, FakePointer& pointer) : clock_(clock), pointer_(pointer) {}
    void postMouse(MouseEventType type, Point at, int clickState) override;
    void postKey(std::uint16_t virtualKey, bool down, std::uint64_t flags,
                 const std::optional<std::string>& text) override;
    void postFlagsChanged(std::uint16_t virtualKey, std::uint64_t flags) override;
    void postScroll(std::int32_t vertical, std::int32_t horizontal) override;
    void postKeyToProcess(std::int32_t pid, std::uint16_t virtualKey, bool down, std::uint64_t flags) override;

    std::vector<PostedEvent> events;
    // Called after each event is recorded, so a scripted desktop can react to it (a
    // click that flips a checkbox, a scroll that moves the page).
    std::function<void(const PostedEvent& event)> onPost;

private:
    void record(PostedEvent event);
    PostedEvent stamped(PostedEvent::Kind kind);
    Clock& clock_;
    FakePointer& pointer_;
};

// A key listener driven by the test: press() offers a key to the consumer.
class FakeKeyListener final : public KeyListener {
public:
    bool start(Consume consume) override;
    void stop() override;
    // True when the key was swallowed.
    bool press(std::uint16_t code, const std::string& characters);

    bool available = true;
    int stops = 0;

private:
    Consume consume_;
};

// Paths rooted in one folder, so tests never touch the real home folder.
class FakePaths final : public Paths {
public:
    explicit FakePaths(std::filesystem::path root);
    std::filesystem::path home() override { return root_ / "home"; }
    std::filesystem::path configDir() override { return home() / ".config" / "vanto"; }
    std::filesystem::path stateDir() override { return home() / ".local" / "state" / "vanto"; }
    std::filesystem::path dataDir() override { return home() / ".local" / "share" / "vanto"; }
    std::filesystem::path tempDir() override { return root_ / "tmp"; }

private:
    std::filesystem::path root_;
};

// A whole scripted desktop. Members are public so tests arrange the scene directly.
class FakePlatform {
public:
    // root: a folder for the fake home and temporary files; a fresh one is made when empty.
    explicit FakePlatform(std::filesystem::path root = {});
    ~FakePlatform();
    Platform platform();

    VirtualClock clock;
    SeededRandom random;
    RunLoop mainThread;
    FakeWindowServer windows;
    FakeProcesses processes;
    FakePermissions permissions;
    FakePointer pointer;
    FakePaths paths;
    FakeEventSink events{clock, pointer};
    FakeKeyListener keys;
    FakeAccessibility accessibility;
    FakeScreenCapture capture;
    FakeUi ui;
    ScriptedHttp http{&clock};
    QuietNetwork network;
    FakeWorkspace workspace;
    MemoryDefaults defaults;
    FakeExtendedAttributes extendedAttributes;
    FakeTerminal terminal;
    FakeHandoff handoff;

private:
    std::filesystem::path root_;
    bool ownsRoot_;
};

} // namespace vanto::fake
