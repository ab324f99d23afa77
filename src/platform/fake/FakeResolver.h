#pragma once

#include "platform/Resolver.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vanto::fake {

// Scripted name lookups; a host with no entry does not resolve. Every lookup is
// recorded, so a test can tell whether a name was looked up at all.
class FakeResolver final : public Resolver {
public:
    std::vector<std::string> addresses(const std::string& host) override {
        std::lock_guard lock(mutex_);
        lookedUp.push_back(host);
        auto it = hosts.find(host);
        return it == hosts.end() ? std::vector<std::string>{} : it->second;
    }

    std::map<std::string, std::vector<std::string>> hosts;
    std::vector<std::string> lookedUp;

private:
    std::mutex mutex_;
};

} // namespace vanto::fake
