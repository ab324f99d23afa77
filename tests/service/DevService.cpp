#include "DevService.h"

#include "platform/linux/CurlHttp.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace vanto::test {
namespace fs = std::filesystem;

TempFolder::TempFolder(const std::string& prefix) {
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() /
            (prefix + "-" + std::to_string(::getpid()) + "-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(path_);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string DevService::binary() {
    return VANTO_DEVSERVICE;
}

namespace {

std::vector<char*> argv(const std::vector<std::string>& arguments) {
    std::vector<char*> out;
    for (const auto& a : arguments) out.push_back(const_cast<char*>(a.c_str()));
    out.push_back(nullptr);
    return out;
}

std::string readAll(int fd) {
    std::string out;
    char buffer[4096];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0 || (count < 0 && errno == EINTR))
        if (count > 0) out.append(buffer, static_cast<std::size_t>(count));
    return out;
}

} // namespace

std::string runProgram(const std::vector<std::string>& arguments, int* exitStatus) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, pipeFds[1], STDOUT_FILENO);
    pid_t pid = 0;
    auto args = argv(arguments);
    int failed = posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    ::close(pipeFds[1]);
    if (failed != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot run " + arguments[0]);
    }
    auto output = readAll(pipeFds[0]);
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (exitStatus) *exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return output;
}

DevService::DevService(std::vector<std::string> extraArguments) : state_("vanto-devservice-state") {
    logFile_ = state_.path() / "service.log";
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    std::vector<std::string> arguments = {binary(), "serve",   "--port",
                                          "0",      "--state", (state_.path() / "data").string()};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_adddup2(&files, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, logFile_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    auto args = argv(arguments);
    int failed = posix_spawn(&pid_, args[0], &files, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    ::close(pipeFds[1]);
    if (failed != 0) {
        ::close(pipeFds[0]);
        throw std::runtime_error("cannot start " + binary());
    }
    // The first line names the address; reading it also waits until the port is bound.
    std::string line;
    char c;
    while (::read(pipeFds[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(pipeFds[0]);
    static constexpr std::string_view prefix = "listening on ";
    if (!line.starts_with(prefix)) throw std::runtime_error("the devservice did not start: " + log());
    base_ = line.substr(prefix.size());
}

DevService::~DevService() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    // Requests held open by a delay fault may keep it; it has had its chance.
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, &status, 0);
}

std::string DevService::addAccount(const std::optional<std::string>& email, const std::optional<std::string>& name,
                                   const std::optional<std::string>& password) {
    std::vector<std::string> arguments = {binary(), "add-account", "--state", (state_.path() / "data").string()};
    if (email) arguments.insert(arguments.end(), {"--email", *email});
    if (name) arguments.insert(arguments.end(), {"--name", *name});
    if (password) arguments.insert(arguments.end(), {"--password", *password});
    int status = -1;
    auto output = runProgram(arguments, &status);
    if (status != 0) throw std::runtime_error("add-account failed");
    while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
    return output;
}

Http::Response DevService::call(const std::string& method, const std::string& path, const std::string& body,
                                Http::Headers headers) {
    CurlHttp http;
    Http::Request request;
    request.method = method;
    request.url = base_ + path;
    request.body = body;
    request.headers = std::move(headers);
    request.timeout = 10;
    return http.send(request);
}

void DevService::inject(const nlohmann::json& fault) {
    auto response = call("POST", "/__faults", fault.dump(), {{"Content-Type", "application/json"}});
    if (response.status != 201) throw std::runtime_error("the fault was refused: " + response.body);
}

nlohmann::json DevService::requests() {
    return nlohmann::json::parse(call("GET", "/__requests").body)["requests"];
}

std::string DevService::log() {
    std::ifstream in(logFile_);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

} // namespace vanto::test
