#pragma once

#include "base/Error.h"
#include "platform/Paths.h"
#include "platform/Processes.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vanto {

// The link between this machine and an account. The token is a secret: it is never
// logged and never part of a message.
struct Config {
    std::string token;
    std::string apiBase;
    bool operator==(const Config&) const = default;
};

// Whether a token can go into a request header as it is: not empty and without control
// characters, since a line break would add header lines of its own and a NUL would cut
// the token short. Nothing else is sent or stored.
bool isSendableToken(std::string_view token);

class ConfigError : public Error {
public:
    enum class Case { cannotEncode, cannotWrite, cannotRemove };

    static ConfigError cannotEncode();
    static ConfigError cannotWrite(const std::filesystem::path& file, const std::string& reason);
    static ConfigError cannotRemove(const std::filesystem::path& file, const std::string& reason);

    Case kind() const { return case_; }

private:
    ConfigError(Case c, std::string message) : Error(std::move(message)), case_(c) {}
    Case case_;
};

// Finds, reads, writes and deletes the configuration file, and decides which API base
// a run talks to. Environment overrides let a developer or a test point the program
// at another service or another file.
class ConfigStore {
public:
    static constexpr std::string_view defaultAPIBase = "https://api.vanto.video";

    ConfigStore(Paths& paths, Processes& environment);

    // $VANTO_CONFIG when set and not empty, else ~/.config/vanto/config.json.
    std::filesystem::path url();

    // None when the file is missing, unreadable or not a full configuration (a token
    // that is not sendable included); a
    // non-empty $VANTO_API_BASE replaces the stored API base.
    std::optional<Config> load();

    // Creates the folder 0700 and the file 0600, tightening a file that was wider, and
    // the program's own configuration folder when it was wider. A token that is not
    // sendable is refused (UploadError::unusableToken).
    void save(const Config& config);

    // Removes the file; nothing to do when there is none.
    void clear();

    // The explicit value when not empty, else $VANTO_API_BASE when not empty, else the
    // stored API base, else the default.
    std::string resolveAPIBase(const std::optional<std::string>& explicitBase);

private:
    std::optional<std::string> variable(const char* name);
    std::optional<Config> loadStored();

    Paths& paths_;
    Processes& environment_;
};

} // namespace vanto
