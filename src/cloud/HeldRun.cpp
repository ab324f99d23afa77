#include "cloud/HeldRun.h"

#include "base/AtomicFile.h"
#include "base/Files.h"
#include "base/Json.h"

#include <nlohmann/json.hpp>

namespace vanto {
namespace fs = std::filesystem;

fs::path HeldRun::location(const fs::path& configFile) {
    return configFile.parent_path() / "cloud-run.json";
}

void HeldRun::save(const fs::path& location) const {
    nlohmann::ordered_json record;
    record["runID"] = runID;
    record["claimToken"] = claimToken;
    constexpr auto ownerOnly = fs::perms::owner_read | fs::perms::owner_write;
    createFolders(location.parent_path(), fs::perms::owner_all);
    writeAtomically(location, record.dump(), ownerOnly);
    fs::permissions(location, ownerOnly, fs::perm_options::replace);
}

void HeldRun::clear(const fs::path& location) noexcept {
    std::error_code ignored;
    fs::remove(location, ignored);
}

std::optional<HeldRun> HeldRun::read(const fs::path& location) {
    try {
        auto document = nlohmann::json::parse(readFile(location));
        return HeldRun{json::requireString(document, "runID"), json::requireString(document, "claimToken")};
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace vanto
