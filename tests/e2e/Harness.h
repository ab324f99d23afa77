#pragma once

// Small tools for driving the real vanto binary and real applications on the
// headless desktop that scripts/headless-desktop.sh sets up around each test run.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace vanto::e2e {

using namespace std::chrono_literals;
using Duration = std::chrono::milliseconds;
// Requests and answers of the control protocol, keys in the order they were written.
using Json = nlohmann::ordered_json;

// The binaries under test, fixed at build time.
std::string vantoBinary();
std::string xtoolBinary();

// A file descriptor that closes itself.
class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) noexcept : fd_(fd) {}
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept;
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }

    int get() const noexcept { return fd_; }
    explicit operator bool() const noexcept { return fd_ >= 0; }
    void reset() noexcept;

private:
    int fd_ = -1;
};

// A fresh folder under $TMPDIR, removed with its contents.
class TempDir {
public:
    explicit TempDir(std::string_view prefix = "vanto-e2e");
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::filesystem::path& path() const noexcept { return path_; }

private:
    std::filesystem::path path_;
};

struct ExitStatus {
    bool exited = false; // false: ended by a signal
    int code = 0;        // exit code, or the signal number
    bool operator==(const ExitStatus&) const = default;
    std::string describe() const;
};
std::ostream& operator<<(std::ostream& out, const ExitStatus& status);
ExitStatus exitedWith(int code);

struct ChildOptions {
    bool pipeStdin = false;
    bool pipeStdout = false;
    bool silenceStderr = false;
    // Browsers fork helpers: a group of its own lets the whole family be ended.
    bool ownProcessGroup = false;
    Duration terminateGrace = 3s;
};

// A process we spawned; ended (SIGTERM, then SIGKILL) and reaped when destroyed.
class Child {
public:
    explicit Child(const std::vector<std::string>& argv, ChildOptions options = {});
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;
    ~Child();

    pid_t pid() const noexcept { return pid_; }

    // Writes all of bytes to the child's stdin; false if it no longer reads.
    bool write(std::string_view bytes);
    void closeStdin() { in_.reset(); }
    // Stops reading the child's output, as a reader that goes away would.
    void closeStdout() {
        out_.reset();
        outputEnded_ = true;
    }

    // One line of output without its "\n"; none on time-out or end of output.
    std::optional<std::string> readLine(Duration timeout);
    // The rest of the output; none if it did not end in time.
    std::optional<std::string> readAll(Duration timeout);
    // Whether output is available within the time (a partial line counts).
    bool outputWithin(Duration timeout);

    std::optional<ExitStatus> wait(Duration timeout);
    void terminate();

private:
    bool fillBuffer(Duration timeout);
    void signal(int number);

    pid_t pid_ = -1;
    ChildOptions options_;
    Fd in_;
    Fd out_;
    std::string buffer_;
    bool outputEnded_ = false;
    std::optional<ExitStatus> status_;
};

struct CommandResult {
    ExitStatus status;
    std::string output;
};
// Runs a command to its end with stdin closed; none if it did not end in time.
std::optional<CommandResult> runCommand(const std::vector<std::string>& argv, Duration timeout = 10s);

// vanto with pipes on stdin and stdout; stderr goes to the test's stderr so that
// sanitizer reports show up in the test log.
class VantoSession {
public:
    explicit VantoSession(std::vector<std::string> arguments = {});

    void send(std::string_view line) { sendRaw(std::string(line) + "\n"); }
    void sendRaw(std::string_view bytes);
    std::optional<std::string> answer(Duration timeout = 10s);
    // send + answer; records a failure and returns "" when no answer comes.
    std::string request(std::string_view line, Duration timeout = 10s);
    // One request and its answer, which must be one compact JSON object: anything else
    // is a test failure and reads as {}.
    Json ask(const Json& request, Duration timeout = 30s);
    // The same for a suite that compares its answers without regard to key order.
    template <class Unordered>
    requires std::is_same_v<Unordered, nlohmann::json> Unordered ask(const Unordered& request, Duration timeout = 30s) {
        return Unordered(ask(Json(request), timeout));
    }
    // A request is JSON, not a line: raw lines go through request().
    Json ask(const char*, Duration = {}) = delete;
    Json ask(const std::string&, Duration = {}) = delete;
    testing::AssertionResult noAnswerWithin(Duration quiet);
    void closeInput() { child_.closeStdin(); }
    void closeOutput() { child_.closeStdout(); }
    std::optional<std::string> remainingOutput(Duration timeout = 10s) { return child_.readAll(timeout); }
    std::optional<ExitStatus> exitStatus(Duration timeout = 10s) { return child_.wait(timeout); }

private:
    Child child_;
};

// A Chromium with a fresh profile, its window placed where asked.
class Chromium {
public:
    Chromium(const std::string& url, int x, int y, int width, int height);
    pid_t pid() const noexcept { return child_.pid(); }

private:
    TempDir profile_; // declared first: removed after the browser has ended
    Child child_;
};
std::unique_ptr<Chromium> startChromium(const std::string& url, int x, int y, int width, int height);

// A local page with the given title and body, written into folder; its file:// URL.
std::string writePage(const std::filesystem::path& folder, std::string_view title, std::string_view body);

// A plain X window drawn by the xtool, open while this lives.
class TestWindow {
public:
    TestWindow(int x, int y, int width, int height, const std::string& title);
    std::uint64_t id() const noexcept { return id_; }
    pid_t pid() const noexcept { return child_.pid(); }

private:
    Child child_;
    std::uint64_t id_ = 0;
};

// Moves the pointer from outside vanto, as a person would.
void warpPointer(int x, int y);
// Asks the window manager to bring the window to the front.
void activateWindow(std::uint64_t windowID);

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0;
};
// The window's geometry on the root window as xwininfo reports it.
std::optional<Geometry> xwininfo(std::uint64_t windowID);

// The top-level windows the window manager lists, bottom to top.
std::vector<std::uint64_t> clientListStacking();

// --- windows and elements as vanto lists them ---------------------------------------

// The windows vanto lists right now, front to back.
Json listWindows(VantoSession& vanto);
std::uint64_t windowIDOf(const Json& window);
// The frontmost listed window of the process (of any process when none) whose title
// holds titlePart.
std::optional<Json> windowOf(VantoSession& vanto, std::optional<pid_t> pid, std::string_view titlePart = "");
std::optional<std::string> titleOf(VantoSession& vanto, pid_t pid);
// Waits until windowOf finds the window.
std::optional<Json> waitForWindowOf(VantoSession& vanto, std::optional<pid_t> pid, std::string_view titlePart,
                                    Duration timeout = 45s);
// The id of the first window of any process whose title holds titlePart, once it is
// listed; 0 when none came.
std::uint64_t waitForWindow(VantoSession& vanto, std::string_view titlePart, Duration timeout = 45s);

// The elements "find" answers with for the text in the process, which must answer ok.
Json find(VantoSession& vanto, pid_t pid, const std::string& text, std::optional<std::string> role = std::nullopt,
          std::optional<int> limit = std::nullopt);
// An element's centre, as a request's "to".
Json centreOf(const Json& element);

// Polls predicate until it holds or the time is up.
bool waitFor(const std::function<bool()>& predicate, Duration timeout, Duration interval = 50ms);

} // namespace vanto::e2e
