#include "platform/JsonFileDefaults.h"

#include "base/AtomicFile.h"
#include "base/Json.h"

#include <fstream>
#include <iterator>

namespace vanto {
namespace fs = std::filesystem;

JsonFileDefaults::JsonFileDefaults(fs::path file) : file_(std::move(file)) {}

// A missing or damaged file reads as no preferences at all, as a fresh store would.
nlohmann::json JsonFileDefaults::read() {
    std::ifstream in(file_, std::ios::binary);
    if (!in) return nlohmann::json::object();
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto all = nlohmann::json::parse(bytes, nullptr, false);
    return all.is_object() ? all : nlohmann::json::object();
}

void JsonFileDefaults::write(const nlohmann::json& all) {
    createFolders(file_.parent_path(), fs::perms::owner_all);
    writeAtomically(file_, json::written(all, 2) + "\n", fs::perms::owner_read | fs::perms::owner_write);
}

std::optional<nlohmann::json> JsonFileDefaults::get(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto all = read();
    auto it = all.find(key);
    if (it == all.end()) return std::nullopt;
    return *it;
}

void JsonFileDefaults::set(const std::string& key, const nlohmann::json& value) {
    std::lock_guard lock(mutex_);
    auto all = read();
    all[key] = value;
    write(all);
}

void JsonFileDefaults::remove(const std::string& key) {
    std::lock_guard lock(mutex_);
    auto all = read();
    if (all.erase(key) == 0) return;
    write(all);
}

} // namespace vanto
