#pragma once

#include "platform/Handoff.h"

#include <mutex>
#include <utility>
#include <vector>

namespace vanto::fake {

// One person's desktop inside the test process: a listener registered here is the
// running window, and an offer reaches it at once, on the offering thread. Requests go
// through the same line codec as between real processes, so a test sees what a real
// window would receive.
class FakeHandoff final : public Handoff {
public:
    bool offer(const HandoffRequest& request) override {
        Take take;
        {
            std::lock_guard lock(mutex_);
            offers.push_back(request);
            take = take_;
        }
        if (!take) return false;
        auto decoded = handoff::decode(handoff::encode(request));
        if (!decoded.request) return false;
        take(std::move(*decoded.request));
        return true;
    }

    bool listen(Take take) override {
        std::lock_guard lock(mutex_);
        if (take_ || anotherWindowListens) return false;
        take_ = std::move(take);
        return true;
    }

    void stop() override {
        std::lock_guard lock(mutex_);
        take_ = nullptr;
    }

    bool listening() {
        std::lock_guard lock(mutex_);
        return static_cast<bool>(take_);
    }

    // Set by a test: a window outside this process already listens, so listen() fails
    // (offers still go to a listener registered here).
    bool anotherWindowListens = false;
    // Every request offered, taken or not.
    std::vector<HandoffRequest> offers;

private:
    std::mutex mutex_;
    Take take_;
};

} // namespace vanto::fake
