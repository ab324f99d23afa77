#include "platform/linux/LinuxPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <vector>

namespace vanto {
namespace {

// XDG asks that relative values be ignored.
std::optional<std::filesystem::path> absoluteVariable(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    std::filesystem::path path(value);
    if (!path.is_absolute()) return std::nullopt;
    return path;
}

std::filesystem::path accountHome() {
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "/"; // what login gives an account without a home folder
}

} // namespace

std::filesystem::path LinuxPaths::home() {
    const char* value = std::getenv("HOME");
    if (value && *value) return value;
    return accountHome();
}

// Fixed rather than $XDG_CONFIG_HOME: the program's files are documented at this place.
std::filesystem::path LinuxPaths::configDir() {
    return home() / ".config" / "vanto";
}

std::filesystem::path LinuxPaths::stateDir() {
    return absoluteVariable("XDG_STATE_HOME").value_or(home() / ".local" / "state") / "vanto";
}

std::filesystem::path LinuxPaths::dataDir() {
    return absoluteVariable("XDG_DATA_HOME").value_or(home() / ".local" / "share") / "vanto";
}

std::filesystem::path LinuxPaths::tempDir() {
    return absoluteVariable("TMPDIR").value_or("/tmp");
}

} // namespace vanto
