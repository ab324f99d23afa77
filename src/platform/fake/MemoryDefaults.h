#pragma once

#include "platform/Defaults.h"

#include <map>
#include <mutex>

namespace vanto::fake {

// The defaults store in memory; tests read `values` directly.
class MemoryDefaults final : public Defaults {
public:
    std::optional<nlohmann::json> get(const std::string& key) override {
        std::lock_guard lock(mutex_);
        auto it = values.find(key);
        if (it == values.end()) return std::nullopt;
        return it->second;
    }
    void set(const std::string& key, const nlohmann::json& value) override {
        std::lock_guard lock(mutex_);
        values[key] = value;
    }
    void remove(const std::string& key) override {
        std::lock_guard lock(mutex_);
        values.erase(key);
    }

    std::map<std::string, nlohmann::json> values;

private:
    std::mutex mutex_;
};

} // namespace vanto::fake
