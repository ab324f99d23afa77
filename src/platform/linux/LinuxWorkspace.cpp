#include "platform/linux/LinuxWorkspace.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <thread>

extern char** environ;

namespace vanto {
namespace {

std::string substitute(const std::string& word, const std::string& url, bool& used) {
    std::string out;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (word[i] == '%' && i + 1 < word.size()) {
            if (word[i + 1] == 's') {
                out += url;
                used = true;
                ++i;
                continue;
            }
            if (word[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += word[i];
    }
    return out;
}

struct FileActions {
    posix_spawn_file_actions_t actions;
    FileActions() { posix_spawn_file_actions_init(&actions); }
    ~FileActions() { posix_spawn_file_actions_destroy(&actions); }
    FileActions(const FileActions&) = delete;
    FileActions& operator=(const FileActions&) = delete;
};

struct SpawnAttributes {
    posix_spawnattr_t attributes;
    SpawnAttributes() { posix_spawnattr_init(&attributes); }
    ~SpawnAttributes() { posix_spawnattr_destroy(&attributes); }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;
};

bool spawnDetached(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    // Standard output carries the control protocol, so the browser must not write there.
    FileActions files;
    posix_spawn_file_actions_addopen(&files.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files.actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // A session of its own: ending this program must not take the person's browser along.
    SpawnAttributes attributes;
    posix_spawnattr_setflags(&attributes.attributes, POSIX_SPAWN_SETSID);

    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &files.actions, &attributes.attributes, argv.data(), environ) != 0) return false;
    // The browser may run for hours; only its exit status is collected, off to the side.
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace

std::vector<std::vector<std::string>> LinuxWorkspace::browserCommands(const char* browserVariable,
                                                                      const std::string& url) {
    std::vector<std::vector<std::string>> commands;
    std::string variable = browserVariable ? browserVariable : "";
    std::stringstream list(variable);
    std::string command;
    while (std::getline(list, command, ':')) {
        std::stringstream words(command);
        std::vector<std::string> arguments;
        bool used = false;
        for (std::string word; words >> word;) arguments.push_back(substitute(word, url, used));
        if (arguments.empty()) continue;
        if (!used) arguments.push_back(url);
        commands.push_back(std::move(arguments));
    }
    if (commands.empty()) commands.push_back({"xdg-open", url});
    return commands;
}

bool LinuxWorkspace::openURL(const std::string& url) {
    for (const auto& command : browserCommands(std::getenv("BROWSER"), url))
        if (spawnDetached(command)) return true;
    return false;
}

} // namespace vanto
