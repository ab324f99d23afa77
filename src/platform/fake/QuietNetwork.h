#pragma once

#include "platform/Listener.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <stdexcept>

namespace vanto::fake {

// A listener that never gets a connection, for tests that hand bytes to the server directly
// or that only need the flow around it.
class QuietListener final : public Listener {
public:
    explicit QuietListener(std::uint16_t port) : port_(port) {}
    std::uint16_t port() override { return port_; }
    std::unique_ptr<Connection> accept() override {
        std::unique_lock lock(mutex_);
        wake_.wait(lock, [this] { return cancelled_; });
        return nullptr;
    }
    void cancel() override {
        std::lock_guard lock(mutex_);
        cancelled_ = true;
        wake_.notify_all();
    }

private:
    std::uint16_t port_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool cancelled_ = false;
};

class QuietNetwork final : public LoopbackNetwork {
public:
    std::unique_ptr<Listener> listen() override {
        if (refuse) throw std::runtime_error("no sockets today");
        return std::make_unique<QuietListener>(port);
    }
    bool refuse = false;
    std::uint16_t port = 4711;
};

} // namespace vanto::fake
