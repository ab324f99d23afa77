#include "Harness.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

extern char** environ;

namespace vanto::e2e {
namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void fail(const std::string& what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// A child that stops reading must not kill the test with SIGPIPE.
[[maybe_unused]] const bool sigpipeIgnored = [] {
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}();

std::pair<Fd, Fd> makePipe() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) fail("pipe2");
    return {Fd(ends[0]), Fd(ends[1])};
}

int remainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

ExitStatus decode(int status) {
    if (WIFEXITED(status)) return {true, WEXITSTATUS(status)};
    return {false, WTERMSIG(status)};
}

class SpawnActions {
public:
    SpawnActions() {
        if (posix_spawn_file_actions_init(&actions_) != 0) fail("posix_spawn_file_actions_init");
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { posix_spawn_file_actions_destroy(&actions_); }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_;
};

class SpawnAttributes {
public:
    SpawnAttributes() {
        if (posix_spawnattr_init(&attributes_) != 0) fail("posix_spawnattr_init");
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes_); }
    posix_spawnattr_t* get() { return &attributes_; }

private:
    posix_spawnattr_t attributes_;
};

} // namespace

std::string vantoBinary() {
    return VANTO_BINARY;
}
std::string xtoolBinary() {
    return VANTO_E2E_XTOOL;
}

Fd& Fd::operator=(Fd&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

void Fd::reset() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

TempDir::TempDir(std::string_view prefix) {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + std::string(prefix) + ".XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) fail("mkdtemp " + pattern);
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string ExitStatus::describe() const {
    return exited ? "exit status " + std::to_string(code) : "killed by signal " + std::to_string(code);
}

std::ostream& operator<<(std::ostream& out, const ExitStatus& status) {
    return out << status.describe();
}

ExitStatus exitedWith(int code) {
    return {true, code};
}

Child::Child(const std::vector<std::string>& argv, ChildOptions options) : options_(options) {
    if (argv.empty()) throw std::invalid_argument("Child needs a program");
    SpawnActions actions;
    SpawnAttributes attributes;

    Fd childIn, childOut;
    if (options.pipeStdin) {
        std::tie(childIn, in_) = makePipe();
        posix_spawn_file_actions_adddup2(actions.get(), childIn.get(), STDIN_FILENO);
    } else {
        posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    }
    if (options.pipeStdout) {
        std::tie(out_, childOut) = makePipe();
        posix_spawn_file_actions_adddup2(actions.get(), childOut.get(), STDOUT_FILENO);
    }
    if (options.silenceStderr) posix_spawn_file_actions_addopen(actions.get(), STDERR_FILENO, "/dev/null", O_WRONLY, 0);

    // We ignore SIGPIPE; the child must get the default back.
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigset_t noneBlocked;
    sigemptyset(&noneBlocked);
    short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
    if (options.ownProcessGroup) {
        flags |= POSIX_SPAWN_SETPGROUP;
        posix_spawnattr_setpgroup(attributes.get(), 0);
    }
    posix_spawnattr_setsigdefault(attributes.get(), &defaults);
    posix_spawnattr_setsigmask(attributes.get(), &noneBlocked);
    posix_spawnattr_setflags(attributes.get(), flags);

    std::vector<char*> args;
    for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int error = posix_spawnp(&pid_, args[0], actions.get(), attributes.get(), args.data(), environ);
    if (error != 0) {
        errno = error;
        fail("posix_spawnp " + argv[0]);
    }
}

Child::~Child() {
    terminate();
}

void Child::signal(int number) {
    if (pid_ <= 0 || status_) return;
    ::kill(options_.ownProcessGroup ? -pid_ : pid_, number);
}

void Child::terminate() {
    in_.reset();
    if (pid_ <= 0) return;
    if (!status_) {
        signal(SIGTERM);
        if (!wait(options_.terminateGrace)) {
            signal(SIGKILL);
            int status = 0;
            while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            status_ = decode(status);
        }
    }
    // Helpers the browser left behind go with their group.
    if (options_.ownProcessGroup) ::kill(-pid_, SIGKILL);
    out_.reset();
}

bool Child::write(std::string_view bytes) {
    while (!bytes.empty()) {
        if (!in_) return false;
        ssize_t written = ::write(in_.get(), bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

bool Child::fillBuffer(Duration timeout) {
    if (!out_ || outputEnded_) return false;
    pollfd entry{out_.get(), POLLIN, 0};
    int ready = 0;
    auto deadline = Clock::now() + timeout;
    do {
        ready = ::poll(&entry, 1, remainingMs(deadline));
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return false;
    char chunk[4096];
    ssize_t got;
    do {
        got = ::read(out_.get(), chunk, sizeof chunk);
    } while (got < 0 && errno == EINTR);
    if (got <= 0) {
        outputEnded_ = true;
        return false;
    }
    buffer_.append(chunk, static_cast<size_t>(got));
    return true;
}

std::optional<std::string> Child::readLine(Duration timeout) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        auto newline = buffer_.find('\n');
        if (newline != std::string::npos) {
            std::string line = buffer_.substr(0, newline);
            buffer_.erase(0, newline + 1);
            return line;
        }
        if (!fillBuffer(Duration(remainingMs(deadline)))) return std::nullopt;
    }
}

std::optional<std::string> Child::readAll(Duration timeout) {
    auto deadline = Clock::now() + timeout;
    while (!outputEnded_) {
        if (!out_) return std::nullopt;
        if (!fillBuffer(Duration(remainingMs(deadline))) && !outputEnded_) return std::nullopt;
    }
    return std::exchange(buffer_, {});
}

bool Child::outputWithin(Duration timeout) {
    return !buffer_.empty() || fillBuffer(timeout);
}

std::optional<ExitStatus> Child::wait(Duration timeout) {
    if (status_) return status_;
    auto deadline = Clock::now() + timeout;
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = decode(status);
            return status_;
        }
        if (done < 0 && errno == ECHILD) {
            status_ = ExitStatus{false, 0}; // reaped elsewhere: nothing left to wait for
            return status_;
        }
        if (done < 0 && errno != EINTR) fail("waitpid");
        if (Clock::now() >= deadline) return std::nullopt;
        std::this_thread::sleep_for(10ms);
    }
}

std::optional<CommandResult> runCommand(const std::vector<std::string>& argv, Duration timeout) {
    Child child(argv, {.pipeStdout = true});
    auto deadline = Clock::now() + timeout;
    auto output = child.readAll(timeout);
    if (!output) return std::nullopt;
    auto status = child.wait(Duration(remainingMs(deadline)));
    if (!status) return std::nullopt;
    return CommandResult{*status, *output};
}

VantoSession::VantoSession(std::vector<std::string> arguments)
    : child_(
          [&] {
              arguments.insert(arguments.begin(), vantoBinary());
              return arguments;
          }(),
          {.pipeStdin = true, .pipeStdout = true}) {}

void VantoSession::sendRaw(std::string_view bytes) {
    EXPECT_TRUE(child_.write(bytes)) << "vanto no longer reads its input";
}

std::optional<std::string> VantoSession::answer(Duration timeout) {
    return child_.readLine(timeout);
}

std::string VantoSession::request(std::string_view line, Duration timeout) {
    send(line);
    auto reply = answer(timeout);
    if (!reply) {
        ADD_FAILURE() << "no answer to " << line << " within " << timeout.count() << " ms";
        return "";
    }
    return *reply;
}

Json VantoSession::ask(const Json& question, Duration timeout) {
    const std::string line = request(question.dump(), timeout);
    if (line.empty()) return Json::object(); // the failure is recorded
    Json answer = Json::parse(line, nullptr, false);
    if (answer.is_discarded() || !answer.is_object()) {
        ADD_FAILURE() << "not a JSON object: " << line << " (the answer to " << question.dump() << ")";
        return Json::object();
    }
    // Written again, a compact answer is what it was.
    EXPECT_EQ(answer.dump(), line) << "the answer is not compact JSON";
    return answer;
}

testing::AssertionResult VantoSession::noAnswerWithin(Duration quiet) {
    if (!child_.outputWithin(quiet)) return testing::AssertionSuccess();
    auto line = child_.readLine(1s);
    return testing::AssertionFailure() << "unexpected output: " << line.value_or("(a partial line)");
}

Chromium::Chromium(const std::string& url, int x, int y, int width, int height)
    : profile_("vanto-e2e-chromium"),
      child_({"chromium", "--no-sandbox", "--test-type", "--disable-gpu", "--no-first-run",
              "--no-default-browser-check", "--disable-background-networking", "--disable-component-update",
              "--disable-sync", "--disable-quic", "--force-renderer-accessibility",
              "--user-data-dir=" + profile_.path().string(),
              "--window-position=" + std::to_string(x) + "," + std::to_string(y),
              "--window-size=" + std::to_string(width) + "," + std::to_string(height), url},
             {.silenceStderr = true, .ownProcessGroup = true, .terminateGrace = 5s}) {}

std::unique_ptr<Chromium> startChromium(const std::string& url, int x, int y, int width, int height) {
    return std::make_unique<Chromium>(url, x, y, width, height);
}

std::string writePage(const std::filesystem::path& folder, std::string_view title, std::string_view body) {
    auto file = folder / "page.html";
    std::ofstream out(file);
    out << "<!doctype html>\n<html><head><meta charset=\"utf-8\"><title>" << title << "</title></head>\n<body>" << body
        << "</body></html>\n";
    out.close();
    if (!out) throw std::runtime_error("cannot write " + file.string());
    return "file://" + file.string();
}

TestWindow::TestWindow(int x, int y, int width, int height, const std::string& title)
    : child_({xtoolBinary(), "window", std::to_string(x), std::to_string(y), std::to_string(width),
              std::to_string(height), title},
             {.pipeStdout = true}) {
    auto line = child_.readLine(10s);
    if (!line) throw std::runtime_error("the xtool did not report its window");
    id_ = std::stoull(*line, nullptr, 0);
}

void warpPointer(int x, int y) {
    auto result = runCommand({xtoolBinary(), "warp", std::to_string(x), std::to_string(y)});
    ASSERT_TRUE(result && result->status == exitedWith(0)) << "could not move the pointer";
}

void activateWindow(std::uint64_t windowID) {
    auto result = runCommand({xtoolBinary(), "activate", std::to_string(windowID)});
    ASSERT_TRUE(result && result->status == exitedWith(0)) << "could not activate window " << windowID;
}

std::optional<Geometry> xwininfo(std::uint64_t windowID) {
    auto result = runCommand({"xwininfo", "-id", std::to_string(windowID)});
    if (!result || result->status != exitedWith(0)) return std::nullopt;
    Geometry geometry;
    int found = 0;
    std::istringstream lines(result->output);
    const std::regex field(R"(^\s*(Absolute upper-left X|Absolute upper-left Y|Width|Height):\s*(-?\d+)\s*$)");
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (!std::regex_match(line, match, field)) continue;
        int value = std::stoi(match[2]);
        const std::string name = match[1];
        if (name == "Absolute upper-left X")
            geometry.x = value;
        else if (name == "Absolute upper-left Y")
            geometry.y = value;
        else if (name == "Width")
            geometry.width = value;
        else
            geometry.height = value;
        ++found;
    }
    if (found != 4) return std::nullopt;
    return geometry;
}

std::vector<std::uint64_t> clientListStacking() {
    std::vector<std::uint64_t> windows;
    auto result = runCommand({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"});
    if (!result || result->status != exitedWith(0)) return windows;
    // _NET_CLIENT_LIST_STACKING(WINDOW): window id # 0x400007, 0x600003
    auto hash = result->output.find('#');
    if (hash == std::string::npos) return windows;
    const std::regex hex("0x[0-9a-fA-F]+");
    std::string rest = result->output.substr(hash);
    for (std::sregex_iterator it(rest.begin(), rest.end(), hex), end; it != end; ++it)
        windows.push_back(std::stoull(it->str(), nullptr, 16));
    return windows;
}

Json listWindows(VantoSession& vanto) {
    Json answer = vanto.ask({{"cmd", "list-windows"}});
    std::vector<std::string> keys;
    for (const auto& [key, value] : answer.items()) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"ok", "windows"})) << answer.dump();
    if (!answer.contains("windows") || !answer["windows"].is_array()) return Json::array();
    return answer["windows"];
}

std::uint64_t windowIDOf(const Json& window) {
    return window.value("windowID", std::uint64_t{0});
}

std::optional<Json> windowOf(VantoSession& vanto, std::optional<pid_t> pid, std::string_view titlePart) {
    for (const auto& window : listWindows(vanto))
        if ((!pid || window.value("pid", 0) == *pid) && window.value("title", "").find(titlePart) != std::string::npos)
            return window;
    return std::nullopt;
}

std::optional<std::string> titleOf(VantoSession& vanto, pid_t pid) {
    const auto window = windowOf(vanto, pid);
    if (!window || !window->contains("title")) return std::nullopt;
    return (*window)["title"].get<std::string>();
}

std::optional<Json> waitForWindowOf(VantoSession& vanto, std::optional<pid_t> pid, std::string_view titlePart,
                                    Duration timeout) {
    std::optional<Json> found;
    waitFor([&] { return (found = windowOf(vanto, pid, titlePart)).has_value(); }, timeout, 200ms);
    return found;
}

std::uint64_t waitForWindow(VantoSession& vanto, std::string_view titlePart, Duration timeout) {
    const auto window = waitForWindowOf(vanto, std::nullopt, titlePart, timeout);
    return window ? windowIDOf(*window) : 0;
}

Json find(VantoSession& vanto, pid_t pid, const std::string& text, std::optional<std::string> role,
          std::optional<int> limit) {
    Json request = {{"cmd", "find"}, {"pid", pid}, {"text", text}};
    if (role) request["role"] = *role;
    if (limit) request["limit"] = *limit;
    Json answer = vanto.ask(request);
    EXPECT_EQ(answer.value("ok", false), true) << answer.dump();
    return answer.contains("elements") ? answer["elements"] : Json::array();
}

Json centreOf(const Json& element) {
    return {{"x", element["cx"]}, {"y", element["cy"]}};
}

bool waitFor(const std::function<bool()>& predicate, Duration timeout, Duration interval) {
    auto deadline = Clock::now() + timeout;
    for (;;) {
        if (predicate()) return true;
        if (Clock::now() >= deadline) return false;
        std::this_thread::sleep_for(interval);
    }
}

} // namespace vanto::e2e
