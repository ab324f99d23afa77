#pragma once

#include "platform/Defaults.h"

#include <filesystem>
#include <mutex>

namespace vanto {

// The defaults store as one JSON object in a file (Paths::configDir()/"defaults.json").
// Every read goes to the file, so changes by other processes are seen; every write
// replaces the file atomically.
class JsonFileDefaults final : public Defaults {
public:
    explicit JsonFileDefaults(std::filesystem::path file);

    std::optional<nlohmann::json> get(const std::string& key) override;
    void set(const std::string& key, const nlohmann::json& value) override;
    void remove(const std::string& key) override;

    static constexpr const char* fileName = "defaults.json";

private:
    nlohmann::json read();
    void write(const nlohmann::json& all);

    std::filesystem::path file_;
    std::mutex mutex_;
};

} // namespace vanto
