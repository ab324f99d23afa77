#pragma once

#include "platform/Handoff.h"
#include "platform/linux/UniqueFd.h"

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vanto {

// The handoff over a Unix socket in a folder private to the person, one per X display,
// so each desktop session has its own window. A lock file held by the listening window
// says whether one is running: the kernel lets go of it when that window dies, so a
// socket file a crashed window left behind never blocks the next one.
class LinuxHandoff final : public Handoff {
public:
    // This session's: $XDG_RUNTIME_DIR (else /tmp/vanto-UID), and $DISPLAY for the display.
    LinuxHandoff();
    // folder: where the socket and its lock live (none: nowhere, so every offer and
    // listen fails); display: the X display the window is on.
    LinuxHandoff(std::optional<std::filesystem::path> folder, const std::string& display);
    ~LinuxHandoff() override;
    LinuxHandoff(const LinuxHandoff&) = delete;
    LinuxHandoff& operator=(const LinuxHandoff&) = delete;

    bool offer(const HandoffRequest& request) override;
    bool listen(Take take) override;
    void stop() override;

    // The socket's path; empty when there is no folder for it.
    std::filesystem::path socketPath() const { return socket_; }

private:
    void serve(int listening, int wake, Take take);
    void answer(int connection, int wake, const Take& take);

    std::filesystem::path socket_;
    std::filesystem::path lock_;
    std::mutex mutex_; // guards the listening state below
    UniqueFd held_;    // the lock file, locked while this window listens
    UniqueFd listening_;
    UniqueFd wake_; // an eventfd that ends the serving thread
    std::thread server_;
};

} // namespace vanto
