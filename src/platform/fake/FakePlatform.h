#pragma once

#include "platform/Platform.h"
#include "platform/RunLoop.h"

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
class VirtualClock final : public Clock {
public:
    explicit VirtualClock(double start = 1000, double wallStart = 1'800'000'000);
    double now() override;
    double wallTime() override;
    bool sleep(double seconds, std::stop_token stop = {}) override;
    void advance(double seconds);
    // Total virtual seconds slept so far, and how many sleeps there were.
    double slept();
    int sleeps();

private:
    std::mutex mutex_;
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

    // Adds an ordinary application window in front of the others.
    void addWindow(std::uint32_t number, const std::string& app, std::int32_t pid, const std::string& title,
                   RectD bounds);

    std::vector<nlohmann::json> windows; // front to back
    std::vector<ScreenInfo> screenList{{1, {0, 0, 1440, 900}, {0, 0, 1440, 900}, 1, true}};
};

struct FakeProcess {
    std::int32_t parent = 1;
    std::string path;
    bool alive = true;
};

class FakeProcesses final : public Processes {
public:
    std::int32_t currentPID() override { return self; }
    std::optional<std::int32_t> parentPID(std::int32_t pid) override;
    std::optional<std::string> executablePath(std::int32_t pid) override;
    bool isAlive(std::int32_t pid) override;
    ProgramOutput run(const std::string& program, const std::vector<std::string>& arguments) override;
    std::optional<std::string> environment(const std::string& name) override;
    std::optional<std::string> bundleIdentifier() override { return bundleID; }

    std::int32_t self = 4242;
    std::map<std::int32_t, FakeProcess> table;
    std::map<std::string, std::string> env;
    std::optional<std::string> bundleID;
    // Answers for run(), by program; every call is recorded.
    std::map<std::string, ProgramOutput> programs;
    std::vector<std::vector<std::string>> ran;
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

private:
    std::filesystem::path root_;
    bool ownsRoot_;
};

} // namespace vanto::fake
