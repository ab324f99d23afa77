#pragma once

#include "platform/Workspace.h"

#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vanto::fake {

// Records every address it is asked to open; onOpen stands in for the browser.
class FakeWorkspace final : public Workspace {
public:
    bool openURL(const std::string& url) override {
        {
            std::lock_guard lock(mutex_);
            opened.push_back(url);
        }
        if (onOpen) onOpen(url);
        return browserAvailable;
    }

    std::vector<std::string> openedURLs() {
        std::lock_guard lock(mutex_);
        return opened;
    }

    std::function<void(const std::string&)> onOpen;
    bool browserAvailable = true;

private:
    std::mutex mutex_;
    std::vector<std::string> opened;
};

} // namespace vanto::fake
