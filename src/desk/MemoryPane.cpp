#include "desk/MemoryPane.h"

#include <algorithm>

namespace vanto::MemoryPane {

namespace {
std::string counted(std::size_t count, const std::string& one, const std::string& many) {
    return count == 1 ? "1 " + one : std::to_string(count) + " " + many;
}
} // namespace

std::vector<std::string> applications(const CorrectionStore::Entries& entries) {
    std::vector<std::string> apps;
    for (const auto& [key, entry] : entries) {
        auto app = CorrectionStore::app(key);
        if (std::ranges::find(apps, app) == apps.end()) apps.push_back(std::move(app));
    }
    return apps;
}

std::string status(const CorrectionStore::Entries& entries) {
    if (entries.empty()) return "Nothing yet.";
    return counted(entries.size(), "thing", "things") + ", across " +
           counted(applications(entries).size(), "app", "apps") + ".";
}

} // namespace vanto::MemoryPane
