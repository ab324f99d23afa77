#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

extern char** environ;

namespace vanto::test {

// Sets or clears an environment variable for the scope of a test, then restores it.
class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
        if (const char* old = std::getenv(name_.c_str())) old_ = old;
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~ScopedEnv() {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A child process that is killed and reaped when the test ends, however it ends.
class Child {
public:
    // environment: the full environment, or none to inherit ours.
    explicit Child(const std::vector<std::string>& argv,
                   const std::optional<std::vector<std::string>>& environment = std::nullopt,
                   posix_spawn_file_actions_t* actions = nullptr) {
        std::vector<std::string> args = argv;
        std::vector<char*> argp;
        for (auto& a : args) argp.push_back(a.data());
        argp.push_back(nullptr);
        std::vector<std::string> env = environment.value_or(std::vector<std::string>{});
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        if (posix_spawnp(&pid_, args[0].c_str(), actions, nullptr, argp.data(), environment ? envp.data() : environ) !=
            0)
            pid_ = -1;
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    pid_t pid() const { return pid_; }

    // Kills and reaps the child; afterwards its pid names no process of ours.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
};

// Our environment with some variables replaced (value) or removed (none).
inline std::vector<std::string>
environmentWith(const std::vector<std::pair<std::string, std::optional<std::string>>>& changes) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool changed = false;
        for (const auto& change : changes) changed = changed || change.first == name;
        if (!changed) result.push_back(text);
    }
    for (const auto& [name, value] : changes)
        if (value) result.push_back(name + "=" + *value);
    return result;
}

} // namespace vanto::test
