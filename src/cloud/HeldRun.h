#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vanto {

// The claim this machine holds, kept on disk while a run is under way so that a run
// cut short by a crash or a quit can be settled at the next start.
struct HeldRun {
    std::string runID;
    std::string claimToken;

    bool operator==(const HeldRun&) const = default;

    // "cloud-run.json" beside the configuration file (normally ~/.config/vanto).
    static std::filesystem::path location(const std::filesystem::path& configFile);

    // Creates the folder (0700 where it makes one) and writes the record as compact JSON,
    // atomically and readable by the owner only: the claim token is a credential.
    // Throws std::filesystem::filesystem_error.
    void save(const std::filesystem::path& location) const;

    // Deletes the file; a failure (no file, say) is ignored.
    static void clear(const std::filesystem::path& location) noexcept;

    // The record, or none when the file is missing, unreadable or not a held run.
    static std::optional<HeldRun> read(const std::filesystem::path& location);
};

} // namespace vanto
