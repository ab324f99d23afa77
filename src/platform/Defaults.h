#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

namespace vanto {

// The user-defaults store: small preferences by key, shared by every process of the
// program (the last writer wins).
class Defaults {
public:
    virtual ~Defaults() = default;

    virtual std::optional<nlohmann::json> get(const std::string& key) = 0;
    // Throws when the store cannot be written.
    virtual void set(const std::string& key, const nlohmann::json& value) = 0;
    virtual void remove(const std::string& key) = 0;

    // A Boolean preference, or fallback when it is not set or not a Boolean.
    bool boolValue(const std::string& key, bool fallback) {
        auto value = get(key);
        return value && value->is_boolean() ? value->get<bool>() : fallback;
    }
};

} // namespace vanto
