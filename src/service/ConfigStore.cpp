#include "service/ConfigStore.h"

#include "base/AtomicFile.h"
#include "base/Json.h"
#include "base/Text.h"
#include "service/UploadError.h"

#include <fstream>
#include <iterator>

namespace vanto {
namespace fs = std::filesystem;
namespace {

constexpr auto ownerOnlyFolder = fs::perms::owner_all;
constexpr auto ownerOnlyFile = fs::perms::owner_read | fs::perms::owner_write;

std::string reasonOf(const std::error_code& code) {
    return text::asciiLower(code.message());
}

} // namespace

bool isSendableToken(std::string_view token) {
    if (token.empty()) return false;
    for (char c : token) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return false;
    }
    return true;
}

ConfigError ConfigError::cannotEncode() {
    return {Case::cannotEncode, "the configuration could not be encoded as JSON"};
}

ConfigError ConfigError::cannotWrite(const fs::path& file, const std::string& reason) {
    return {Case::cannotWrite, "could not write the configuration file " + file.string() + ": " + reason};
}

ConfigError ConfigError::cannotRemove(const fs::path& file, const std::string& reason) {
    return {Case::cannotRemove, "could not remove the configuration file " + file.string() + ": " + reason};
}

ConfigStore::ConfigStore(Paths& paths, Processes& environment) : paths_(paths), environment_(environment) {}

std::optional<std::string> ConfigStore::variable(const char* name) {
    auto value = environment_.environment(name);
    if (!value || value->empty()) return std::nullopt;
    return value;
}

fs::path ConfigStore::url() {
    if (auto file = variable("VANTO_CONFIG")) return fs::path(*file);
    return paths_.configDir() / "config.json";
}

std::optional<Config> ConfigStore::loadStored() {
    std::ifstream in(url(), std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    auto document = nlohmann::json::parse(bytes, nullptr, false);
    if (!document.is_object()) return std::nullopt;
    try {
        Config config{json::requireString(document, "token"), json::requireString(document, "apiBase")};
        if (!isSendableToken(config.token)) return std::nullopt;
        return config;
    } catch (const DecodeError&) {
        return std::nullopt;
    }
}

std::optional<Config> ConfigStore::load() {
    auto config = loadStored();
    if (!config) return std::nullopt;
    if (auto base = variable("VANTO_API_BASE")) config->apiBase = *base;
    return config;
}

void ConfigStore::save(const Config& config) {
    if (!isSendableToken(config.token)) throw UploadError::unusableToken();
    auto file = url();
    std::string bytes;
    try {
        nlohmann::ordered_json record;
        record["token"] = config.token;
        record["apiBase"] = config.apiBase;
        bytes = record.dump();
    } catch (const nlohmann::json::exception&) {
        // The library's text would quote the offending byte of the token.
        throw ConfigError::cannotEncode();
    }
    try {
        createFolders(file.parent_path(), ownerOnlyFolder);
        // The program's own folder may have been made wider before (by an older version,
        // or by hand); it holds the token, so it is shut again. A folder named through
        // $VANTO_CONFIG is the person's, and keeps its own permissions.
        if (file.parent_path() == paths_.configDir())
            fs::permissions(file.parent_path(), ownerOnlyFolder, fs::perm_options::replace);
        writeAtomically(file, bytes, ownerOnlyFile);
        // The rename kept the new file's mode, but say it again: this is the promise.
        fs::permissions(file, ownerOnlyFile, fs::perm_options::replace);
    } catch (const fs::filesystem_error& error) {
        throw ConfigError::cannotWrite(file, reasonOf(error.code()));
    }
}

void ConfigStore::clear() {
    auto file = url();
    std::error_code error;
    auto status = fs::symlink_status(file, error);
    if (error || !fs::exists(status)) return;
    if (!fs::remove(file, error) && error) throw ConfigError::cannotRemove(file, reasonOf(error));
}

std::string ConfigStore::resolveAPIBase(const std::optional<std::string>& explicitBase) {
    if (explicitBase && !explicitBase->empty()) return *explicitBase;
    if (auto base = variable("VANTO_API_BASE")) return *base;
    if (auto stored = loadStored()) return stored->apiBase;
    return std::string(defaultAPIBase);
}

} // namespace vanto
