#include "platform/fake/FakePlatform.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <string>

namespace vanto::fake {

VirtualClock::VirtualClock(double start, double wallStart) : now_(start), wallOffset_(wallStart - start) {}

double VirtualClock::now() {
    std::lock_guard lock(mutex_);
    return now_;
}

double VirtualClock::wallTime() {
    std::lock_guard lock(mutex_);
    return now_ + wallOffset_;
}

bool VirtualClock::sleep(double seconds, std::stop_token stop) {
    if (stop.stop_requested()) return false;
    if (!(seconds > 0)) return true;
    std::unique_lock lock(mutex_);
    double span = std::isfinite(seconds) ? seconds : 1e9;
    ++sleeps_;
    changed_.notify_all();
    if (autoAdvance_) {
        now_ += span;
        slept_ += span;
        return true;
    }
    double wake = now_ + span;
    ++sleepers_;
    changed_.notify_all();
    bool woke = changed_.wait(lock, stop, [&] { return now_ >= wake; });
    --sleepers_;
    if (woke) slept_ += span;
    return woke;
}

void VirtualClock::advance(double seconds) {
    {
        std::lock_guard lock(mutex_);
        now_ += seconds;
    }
    changed_.notify_all();
}

void VirtualClock::setAutoAdvance(bool on) {
    std::lock_guard lock(mutex_);
    autoAdvance_ = on;
}

void VirtualClock::waitForSleepers(int n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return sleepers_ >= n; });
}

void VirtualClock::waitForSleeps(int n) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return sleeps_ >= n; });
}

double VirtualClock::slept() {
    std::lock_guard lock(mutex_);
    return slept_;
}

int VirtualClock::sleeps() {
    std::lock_guard lock(mutex_);
    return sleeps_;
}

SeededRandom::SeededRandom(std::uint64_t seed) : state_(seed ? seed : 1) {}

void SeededRandom::fill(std::span<std::uint8_t> bytes) {
    for (auto& byte : bytes) {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        byte = static_cast<std::uint8_t>(state_ >> 24);
    }
}

void FakeWindowServer::addWindow(std::uint32_t number, const std::string& app, std::int32_t pid,
                                 const std::string& title, RectD bounds) {
    windows.insert(
        windows.begin(),
        nlohmann::json{
            {windowkey::number, number},
            {windowkey::layer, 0},
            {windowkey::bounds, {{"x", bounds.x}, {"y", bounds.y}, {"width", bounds.width}, {"height", bounds.height}}},
            {windowkey::ownerName, app},
            {windowkey::ownerPID, pid},
            {windowkey::name, title}});
}

std::optional<std::int32_t> FakeProcesses::parentPID(std::int32_t pid) {
    auto it = table.find(pid);
    if (it == table.end()) return std::nullopt;
    return it->second.parent;
}

std::optional<std::string> FakeProcesses::executablePath(std::int32_t pid) {
    auto it = table.find(pid);
    if (it == table.end() || it->second.path.empty()) return std::nullopt;
    return it->second.path;
}

bool FakeProcesses::isAlive(std::int32_t pid) {
    if (pid == self) return true;
    auto it = table.find(pid);
    return it != table.end() && it->second.alive;
}

std::optional<ProcessStart> FakeProcesses::startTime(std::int32_t pid) {
    auto it = starts.find(pid);
    if (it == starts.end()) return std::nullopt;
    return it->second;
}

ProgramOutput FakeProcesses::run(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> call{program};
    call.insert(call.end(), arguments.begin(), arguments.end());
    ran.push_back(call);
    auto it = programs.find(program);
    return it == programs.end() ? ProgramOutput{} : it->second;
}

Launch FakeProcesses::launch(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<std::string> command{program};
    command.insert(command.end(), arguments.begin(), arguments.end());
    launches.push_back(command);
    if (onLaunch) return onLaunch(command);
    const auto pid = nextPID++;
    table[pid] = {.parent = self, .path = program, .alive = true};
    return {.pid = pid, .failure = {}};
}

LaunchState FakeProcesses::launched(std::int32_t pid) {
    auto it = launchStates.find(pid);
    return it == launchStates.end() ? LaunchState{} : it->second;
}

bool FakeProcesses::terminate(std::int32_t pid) {
    auto it = table.find(pid);
    if (it == table.end() || !it->second.alive) return false;
    it->second.alive = false;
    terminated.push_back(pid);
    return true;
}

std::vector<std::pair<std::int32_t, std::string>> FakeProcesses::running() {
    std::vector<std::pair<std::int32_t, std::string>> alive;
    for (const auto& [pid, process] : table)
        if (process.alive) alive.emplace_back(pid, std::filesystem::path(process.path).filename().string());
    return alive;
}

std::optional<std::string> FakeProcesses::environment(const std::string& name) {
    auto it = env.find(name);
    if (it == env.end()) return std::nullopt;
    return it->second;
}

bool FakePermissions::accessibilityTrusted(bool prompt) {
    asked.push_back(prompt ? "accessibility-prompt" : "accessibility");
    return accessibility;
}

bool FakePermissions::requestScreenCapture() {
    asked.push_back("screen-request");
    return screenCapture;
}

PostedEvent FakeEventSink::stamped(PostedEvent::Kind kind) {
    PostedEvent event;
    event.kind = kind;
    event.time = clock_.now();
    return event;
}

void FakeEventSink::record(PostedEvent event) {
    events.push_back(event);
    if (onPost) onPost(event); // a copy: the reaction may post more
}

void FakeEventSink::postMouse(MouseEventType type, Point at, int clickState) {
    auto event = stamped(PostedEvent::Kind::mouse);
    event.mouse = type;
    event.at = at;
    event.clickState = clickState;
    pointer_.at = at;
    record(event);
}

void FakeEventSink::postKey(std::uint16_t virtualKey, bool down, std::uint64_t flags,
                            const std::optional<std::string>& text) {
    auto event = stamped(PostedEvent::Kind::key);
    event.keyCode = virtualKey;
    event.down = down;
    event.flags = flags;
    event.text = text;
    record(event);
}

void FakeEventSink::postFlagsChanged(std::uint16_t virtualKey, std::uint64_t flags) {
    auto event = stamped(PostedEvent::Kind::flagsChanged);
    event.keyCode = virtualKey;
    event.flags = flags;
    record(event);
}

void FakeEventSink::postScroll(std::int32_t vertical, std::int32_t horizontal) {
    auto event = stamped(PostedEvent::Kind::scroll);
    event.vertical = vertical;
    event.horizontal = horizontal;
    record(event);
}

void FakeEventSink::postKeyToProcess(std::int32_t pid, std::uint16_t virtualKey, bool down, std::uint64_t flags) {
    auto event = stamped(PostedEvent::Kind::keyToProcess);
    event.pid = pid;
    event.keyCode = virtualKey;
    event.down = down;
    event.flags = flags;
    record(event);
}

bool FakeKeyListener::start(Consume consume) {
    if (!available) return false;
    consume_ = std::move(consume);
    return true;
}

void FakeKeyListener::stop() {
    consume_ = nullptr;
    ++stops;
}

bool FakeKeyListener::press(std::uint16_t code, const std::string& characters) {
    return consume_ && consume_(code, characters);
}

FakePaths::FakePaths(std::filesystem::path root) : root_(std::move(root)) {}

namespace {

std::filesystem::path freshRoot() {
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    auto root = std::filesystem::temp_directory_path() /
                ("vanto-fake-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(root / "tmp");
    std::filesystem::create_directories(root / "home");
    return root;
}

} // namespace

FakePlatform::FakePlatform(std::filesystem::path root)
    : paths(root.empty() ? freshRoot() : root), root_(root.empty() ? paths.tempDir().parent_path() : root),
      ownsRoot_(root.empty()) {}

FakePlatform::~FakePlatform() {
    if (ownsRoot_) {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
}

Platform FakePlatform::platform() {
    return Platform{clock,    random, mainThread, windows,   processes,     permissions,
                    pointer,  paths,  events,     keys,      accessibility, capture,
                    ui,       http,   network,    workspace, defaults,      extendedAttributes,
                    terminal, handoff};
}

} // namespace vanto::fake
