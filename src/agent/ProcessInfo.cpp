#include "agent/ProcessInfo.h"

#include <functional>
#include <vector>

namespace vanto::ProcessInfo {
namespace {

// Walks up the parent chain at most `steps` times, stopping at a failed lookup or a
// parent ID below 2 (the kernel and init are nobody's launcher). visit returns true to stop.
void walkParents(Processes& processes, int steps, const std::function<bool(std::int32_t)>& visit) {
    std::int32_t pid = processes.currentPID();
    for (int i = 0; i < steps; ++i) {
        auto parent = processes.parentPID(pid);
        if (!parent || *parent < 2) return;
        if (visit(*parent)) return;
        pid = *parent;
    }
}

struct Found {
    std::int32_t pid;
    std::string name;
};

std::optional<Found> responsibleApp(Processes& processes) {
    std::optional<Found> found;
    walkParents(processes, 8, [&](std::int32_t parent) {
        auto path = processes.executablePath(parent);
        if (!path) return false;
        if (auto name = enclosingAppName(path->substr(0, 4096))) {
            found = Found{parent, *name};
            return true;
        }
        return false;
    });
    return found;
}

} // namespace

std::optional<std::string> enclosingAppName(std::string_view path) {
    std::vector<std::string_view> pieces;
    size_t start = 0;
    while (start <= path.size()) {
        auto slash = path.find('/', start);
        auto end = slash == std::string_view::npos ? path.size() : slash;
        if (end > start) pieces.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    constexpr std::string_view suffix = ".app";
    for (auto it = pieces.rbegin(); it != pieces.rend(); ++it)
        if (it->size() >= suffix.size() && it->ends_with(suffix)) return std::string(it->substr(0, it->size() - 4));
    return std::nullopt;
}

std::optional<std::int32_t> responsiblePID(Processes& processes) {
    if (auto found = responsibleApp(processes)) return found->pid;
    return std::nullopt;
}

std::string responsibleName(Processes& processes) {
    if (auto found = responsibleApp(processes)) return found->name;
    if (auto term = processes.environment("TERM_PROGRAM")) return *term;
    return "the application running vanto";
}

std::set<std::int32_t> ancestorPIDs(Processes& processes) {
    std::set<std::int32_t> pids{processes.currentPID()};
    walkParents(processes, 12, [&](std::int32_t parent) {
        pids.insert(parent);
        return false;
    });
    return pids;
}

} // namespace vanto::ProcessInfo
