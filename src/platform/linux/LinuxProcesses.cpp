#include "platform/linux/LinuxProcesses.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>
#include <utility>

extern char** environ;

namespace vanto {
namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    // Hands the descriptor to someone else, who closes it.
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

class SpawnActions {
public:
    SpawnActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
    ~SpawnActions() {
        if (ok_) posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    bool ok() const { return ok_; }
    posix_spawn_file_actions_t* get() { return &actions_; }

private:
    posix_spawn_file_actions_t actions_{};
    bool ok_ = false;
};

pid_t waitForExit(pid_t pid, int& status) {
    pid_t result;
    do result = ::waitpid(pid, &status, 0);
    while (result < 0 && errno == EINTR);
    return result;
}

// The fields of /proc/<pid>/stat after the command. "pid (command) state ppid …": the
// command may hold spaces and parentheses, so the fields start after the last ')'.
std::optional<std::istringstream> statFields(std::int32_t pid) {
    if (pid <= 0) return std::nullopt;
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    if (!file) return std::nullopt;
    const std::string stat((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto close = stat.rfind(')');
    if (close == std::string::npos) return std::nullopt;
    return std::istringstream(stat.substr(close + 1));
}

// When the system booted, in seconds since 1970 ("btime" in /proc/stat).
std::optional<double> bootTime() {
    std::ifstream file("/proc/stat");
    std::string line;
    while (std::getline(file, line))
        if (line.starts_with("btime ")) {
            std::istringstream value(line.substr(6));
            double seconds = 0;
            if (value >> seconds) return seconds;
        }
    return std::nullopt;
}

} // namespace

std::int32_t LinuxProcesses::currentPID() {
    return static_cast<std::int32_t>(::getpid());
}

std::optional<std::int32_t> LinuxProcesses::parentPID(std::int32_t pid) {
    auto fields = statFields(pid);
    if (!fields) return std::nullopt;
    std::string state;
    std::int32_t parent = 0;
    if (!(*fields >> state >> parent)) return std::nullopt;
    return parent;
}

std::optional<ProcessStart> LinuxProcesses::startTime(std::int32_t pid) {
    auto fields = statFields(pid);
    if (!fields) return std::nullopt;
    // Field 22, the start in clock ticks since boot, is the 20th after the command.
    std::string skipped;
    for (int i = 0; i < 19; ++i)
        if (!(*fields >> skipped)) return std::nullopt;
    std::uint64_t ticks = 0;
    if (!(*fields >> ticks)) return std::nullopt;
    const long perSecond = ::sysconf(_SC_CLK_TCK);
    auto boot = bootTime();
    if (perSecond <= 0 || !boot) return std::nullopt;
    return ProcessStart{ticks, *boot + static_cast<double>(ticks) / static_cast<double>(perSecond)};
}

std::optional<std::string> LinuxProcesses::executablePath(std::int32_t pid) {
    if (pid <= 0) return std::nullopt;
    std::array<char, 4096> buffer{};
    const auto link = "/proc/" + std::to_string(pid) + "/exe";
    const ssize_t length = ::readlink(link.c_str(), buffer.data(), buffer.size());
    // A full buffer may hold a cut path, which would name the wrong file.
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size()) return std::nullopt;
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

bool LinuxProcesses::isAlive(std::int32_t pid) {
    // kill() gives 0 and negative numbers the meaning of process groups; they are no process.
    if (pid <= 0) return false;
    return ::kill(pid, 0) == 0 || errno == EPERM;
}

ProgramOutput LinuxProcesses::run(const std::string& program, const std::vector<std::string>& arguments) {
    ProgramOutput result;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return result;
    FileDescriptor readEnd(ends[0]);
    FileDescriptor writeEnd(ends[1]);

    SpawnActions actions;
    if (!actions.ok() || posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDOUT_FILENO) != 0)
        return result;

    std::vector<std::string> argvStrings;
    argvStrings.reserve(arguments.size() + 1);
    argvStrings.push_back(program);
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argvStrings) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    if (posix_spawnp(&child, program.c_str(), actions.get(), nullptr, argv.data(), environ) != 0) return result;
    writeEnd.reset(); // so that reading ends when the child closes its copy

    std::array<char, 65536> chunk{};
    for (;;) {
        const ssize_t count = ::read(readEnd.get(), chunk.data(), chunk.size());
        if (count > 0)
            result.output.append(chunk.data(), static_cast<std::size_t>(count));
        else if (count == 0 || errno != EINTR)
            break;
    }

    int status = 0;
    if (waitForExit(child, status) == child && WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    return result;
}

std::optional<std::string> LinuxProcesses::environment(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

std::optional<std::string> LinuxProcesses::bundleIdentifier() {
    // On Linux the counterpart of running from an application bundle is running from our
    // AppImage, whose runtime sets APPIMAGE to the image's path.
    const char* image = std::getenv("APPIMAGE");
    if (!image || !*image) return std::nullopt;
    return std::string("vanto.appimage");
}

// What a launched program may leave in our memory of its error output.
constexpr std::size_t keptErrorOutput = 64 * 1024;

Launch LinuxProcesses::launch(const std::string& program, const std::vector<std::string>& arguments) {
    Launch result;
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.failure = std::strerror(errno);
        return result;
    }
    FileDescriptor readEnd(ends[0]);
    FileDescriptor writeEnd(ends[1]);

    // Standard output goes nowhere: ours may be carrying a report that a chatty
    // application must not write into.
    SpawnActions actions;
    if (!actions.ok() || posix_spawn_file_actions_addopen(actions.get(), STDIN_FILENO, "/dev/null", O_RDONLY, 0) != 0 ||
        posix_spawn_file_actions_addopen(actions.get(), STDOUT_FILENO, "/dev/null", O_WRONLY, 0) != 0 ||
        posix_spawn_file_actions_adddup2(actions.get(), writeEnd.get(), STDERR_FILENO) != 0) {
        result.failure = "could not prepare the new process";
        return result;
    }
    posix_spawnattr_t attributes;
    if (posix_spawnattr_init(&attributes) != 0) {
        result.failure = "could not prepare the new process";
        return result;
    }
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK);

    std::vector<std::string> argvStrings{program};
    argvStrings.insert(argvStrings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argvStrings) argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t child = 0;
    const int failed = posix_spawnp(&child, program.c_str(), actions.get(), &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (failed != 0) {
        result.failure = std::strerror(failed);
        return result;
    }
    writeEnd.reset(); // so that reading ends when the child closes its copy

    auto launched = std::make_shared<Launched>();
    {
        std::lock_guard guard(mutex_);
        launched_[child] = launched;
    }
    // One thread reads the error output until it is closed; another reaps the program
    // when it ends, so that it never lingers as a zombie. They are apart because a
    // launcher that hands over to a child of its own and exits leaves its error output
    // open in that child. Detached: an application may run for hours.
    std::thread([launched, fd = ends[0]] {
        std::array<char, 4096> chunk{};
        for (;;) {
            const ssize_t count = ::read(fd, chunk.data(), chunk.size());
            if (count > 0) {
                std::lock_guard guard(launched->mutex);
                auto& errors = launched->state.errors;
                errors.append(chunk.data(), std::min(static_cast<std::size_t>(count),
                                                     keptErrorOutput - std::min(keptErrorOutput, errors.size())));
            } else if (count == 0 || errno != EINTR) {
                break;
            }
        }
        ::close(fd);
        std::lock_guard guard(launched->mutex);
        launched->reading = false;
        launched->drained.notify_all();
    }).detach();
    std::thread([launched, child] {
        int status = 0;
        const bool reaped = waitForExit(child, status) == child;
        std::unique_lock lock(launched->mutex);
        // What a program said just before failing is why it failed: let the reader catch
        // up, unless a child it left behind keeps the output open.
        launched->drained.wait_for(lock, std::chrono::seconds(1), [&] { return !launched->reading; });
        launched->state.ended = true;
        launched->state.exitStatus = reaped && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }).detach();
    static_cast<void>(readEnd.release());
    result.pid = child;
    return result;
}

LaunchState LinuxProcesses::launched(std::int32_t pid) {
    std::shared_ptr<Launched> launched;
    {
        std::lock_guard guard(mutex_);
        auto found = launched_.find(pid);
        if (found == launched_.end()) return {};
        launched = found->second;
    }
    std::lock_guard guard(launched->mutex);
    return launched->state;
}

bool LinuxProcesses::terminate(std::int32_t pid) {
    if (pid <= 0) return false;
    return ::kill(pid, SIGTERM) == 0;
}

std::vector<std::pair<std::int32_t, std::string>> LinuxProcesses::running() {
    std::vector<std::pair<std::int32_t, std::string>> processes;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const auto name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream file(entry.path() / "comm");
        std::string command;
        if (!std::getline(file, command)) continue; // gone meanwhile
        processes.emplace_back(std::stoi(name), command);
    }
    return processes;
}

} // namespace vanto
