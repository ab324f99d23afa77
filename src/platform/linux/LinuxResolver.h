#pragma once

#include "platform/Resolver.h"

namespace vanto {

// getaddrinfo for stream sockets, each answer turned into numeric host text.
class LinuxResolver final : public Resolver {
public:
    std::vector<std::string> addresses(const std::string& host) override;
};

} // namespace vanto
