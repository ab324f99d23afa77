#include "agent/RunRegistry.h"

#include "base/AtomicFile.h"
#include "base/Error.h"
#include "base/Numbers.h"

#include <fstream>
#include <iomanip>
#include <limits>
#include <sstream>

namespace vanto {
namespace {

void sleepOrCancel(Clock& clock, double seconds, std::stop_token stop) {
    if (!clock.sleep(seconds, stop)) throw Cancelled();
}

} // namespace

RunRegistry::RunRegistry(std::filesystem::path directory, Processes& processes, Clock& clock)
    : directory_(std::move(directory)), processes_(processes), clock_(clock) {}

void RunRegistry::registerRun() {
    // The folders made here (the configuration folder among them) hold the token too.
    try {
        createFolders(directory_, std::filesystem::perms::owner_all);
    } catch (const std::filesystem::filesystem_error&) {
    }
    const auto self = processes_.currentPID();
    std::ostringstream content;
    content << std::fixed << std::setprecision(3) << clock_.wallTime();
    // The start tells this process apart from a later one that gets the same ID.
    if (auto start = processes_.startTime(self)) content << "\nstarted " << start->ticks;
    content << "\n";
    // Whole or not at all: another run reading the folder never sees half a registration.
    try {
        writeAtomically(directory_ / std::to_string(self), content.str());
    } catch (const std::filesystem::filesystem_error&) {
    }
}

void RunRegistry::deregister() {
    std::error_code ignored;
    std::filesystem::remove(directory_ / std::to_string(processes_.currentPID()), ignored);
}

std::vector<std::int32_t> RunRegistry::others() {
    std::vector<std::int32_t> live;
    std::error_code error;
    std::filesystem::directory_iterator entries(directory_, error);
    if (error) return live;
    auto self = processes_.currentPID();
    for (const auto& entry : entries) {
        auto pid = parseInteger(entry.path().filename().string());
        if (!pid || *pid < std::numeric_limits<std::int32_t>::min() || *pid > std::numeric_limits<std::int32_t>::max())
            continue;
        auto id = static_cast<std::int32_t>(*pid);
        if (id == self) continue;
        if (isLive(id, entry.path())) {
            live.push_back(id);
        } else {
            std::error_code ignored;
            std::filesystem::remove(entry.path(), ignored);
        }
    }
    return live;
}

bool RunRegistry::isLive(std::int32_t pid, const std::filesystem::path& file) {
    if (!processes_.isAlive(pid)) return false;
    auto start = processes_.startTime(pid);
    if (!start) return true; // the signal is all there is to go by

    std::ifstream in(file);
    std::string registered, started;
    std::getline(in, registered);
    std::getline(in, started);
    if (started.starts_with("started ")) {
        auto ticks = parseInteger(started.substr(8));
        return ticks && *ticks >= 0 && static_cast<std::uint64_t>(*ticks) == start->ticks;
    }
    // A file written before starts were recorded holds only the registration time. Its
    // run had started by then, so a process that started clearly later only reuses the
    // ID. The margin covers the second or so the two clocks may disagree by; a file
    // whose time does not read is judged by the signal alone, as it always was.
    auto at = parseDecimal(registered);
    return !at || start->wallTime <= *at + 5;
}

void waitForOtherRuns(RunRegistry& registry, Clock& clock, const LogLine& log, std::stop_token stop) {
    double deadline = clock.now() + 180;
    while (!registry.others().empty()) {
        if (clock.now() >= deadline) {
            log("a nested run is still going after 180s; recording anyway");
            return;
        }
        log("waiting for a nested vanto run to finish");
        sleepOrCancel(clock, 1, stop);
    }
}

void waitForNestedRun(RunRegistry& registry, Clock& clock, const LogLine& log, std::stop_token stop) {
    double deadline = clock.now() + 12;
    while (clock.now() < deadline) {
        if (!registry.others().empty()) {
            log("recording a nested vanto run; waiting for it to finish");
            waitForOtherRuns(registry, clock, log, stop);
            return;
        }
        sleepOrCancel(clock, 0.5, stop);
    }
}

} // namespace vanto
