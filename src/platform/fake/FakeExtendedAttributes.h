#pragma once

#include "platform/ExtendedAttributes.h"

#include <map>
#include <mutex>
#include <set>

namespace vanto::fake {

// Attributes by file, as tests put them; files listed in `unknown` cannot be looked at.
class FakeExtendedAttributes final : public ExtendedAttributes {
public:
    std::optional<bool> has(const std::filesystem::path& file, const std::string& name) override {
        std::lock_guard lock(mutex_);
        if (unknown.count(file)) return std::nullopt;
        auto it = attributes.find(file);
        return it != attributes.end() && it->second.count(name) > 0;
    }

    std::map<std::filesystem::path, std::set<std::string>> attributes;
    std::set<std::filesystem::path> unknown;

private:
    std::mutex mutex_;
};

} // namespace vanto::fake
