#pragma once

#include "platform/Platform.h"
#include "platform/RunLoop.h"

#include <memory>

namespace vanto {

// The real backend for an X11 desktop: EWMH windows, X11 pointer, /proc processes,
// the AT-SPI bus for accessibility trust, XDG paths and the kernel's random source.
class LinuxPlatform {
public:
    LinuxPlatform();
    ~LinuxPlatform();
    LinuxPlatform(const LinuxPlatform&) = delete;
    LinuxPlatform& operator=(const LinuxPlatform&) = delete;

    Platform platform();
    // The panels to show from now on; without this call there are none.
    void usePanels(Ui& ui);
    RunLoop& runLoop();

private:
    struct Parts;
    std::unique_ptr<Parts> parts_;
};

} // namespace vanto
