#pragma once

#include "platform/Listener.h"

namespace vanto {

// Loopback listeners over POSIX sockets: bound to 127.0.0.1 on a port the kernel
// picks, never to another interface.
class PosixLoopbackNetwork final : public LoopbackNetwork {
public:
    std::unique_ptr<Listener> listen() override;
};

} // namespace vanto
