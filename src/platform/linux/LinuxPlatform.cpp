#include "platform/linux/LinuxPlatform.h"

#include "platform/JsonFileDefaults.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/CurlHttp.h"
#include "platform/linux/LinuxEventSink.h"
#include "platform/linux/LinuxExtendedAttributes.h"
#include "platform/linux/LinuxHandoff.h"
#include "platform/linux/LinuxKeyListener.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxPermissions.h"
#include "platform/linux/LinuxProcesses.h"
#include "platform/linux/LinuxTerminal.h"
#include "platform/linux/LinuxWindowServer.h"
#include "platform/linux/LinuxWorkspace.h"
#include "platform/linux/PosixListener.h"
#include "platform/linux/X11Capture.h"

#include <sys/random.h>

#include <cerrno>
#include <system_error>

namespace vanto {
namespace {

// The kernel's generator: secure, and never blocking once the system has booted.
class KernelRandom final : public Random {
public:
    void fill(std::span<std::uint8_t> bytes) override {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t count = ::getrandom(bytes.data() + done, bytes.size() - done, 0);
            if (count > 0)
                done += static_cast<std::size_t>(count);
            else if (count < 0 && errno != EINTR)
                throw std::system_error(errno, std::system_category(), "getrandom");
        }
    }
};

} // namespace

struct LinuxPlatform::Parts {
    SystemClock clock;
    KernelRandom random;
    RunLoop runLoop;
    X11Display display;
    LinuxWindowServer windows{display};
    LinuxPointer pointer{display};
    LinuxProcesses processes;
    LinuxPermissions permissions{display};
    LinuxPaths paths;
    LinuxEventSink events{display};
    LinuxKeyListener keys;
    AtspiAccessibility accessibility{display, permissions, processes, clock};
    X11Capture capture{windows, clock};
    NullUi noPanels;
    Ui* ui = &noPanels;
    CurlHttp http;
    PosixLoopbackNetwork network;
    LinuxWorkspace workspace;
    JsonFileDefaults defaults{paths.configDir() / JsonFileDefaults::fileName};
    LinuxExtendedAttributes extendedAttributes;
    LinuxTerminal terminal;
    LinuxHandoff handoff;
};

LinuxPlatform::LinuxPlatform() : parts_(std::make_unique<Parts>()) {}

LinuxPlatform::~LinuxPlatform() = default;

Platform LinuxPlatform::platform() {
    Parts& p = *parts_;
    return Platform{p.clock,    p.random, p.runLoop, p.windows,   p.processes,     p.permissions,
                    p.pointer,  p.paths,  p.events,  p.keys,      p.accessibility, p.capture,
                    *p.ui,      p.http,   p.network, p.workspace, p.defaults,      p.extendedAttributes,
                    p.terminal, p.handoff};
}

void LinuxPlatform::usePanels(Ui& ui) {
    parts_->ui = &ui;
}

RunLoop& LinuxPlatform::runLoop() {
    return parts_->runLoop;
}

} // namespace vanto
