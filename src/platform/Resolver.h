#pragma once

#include <string>
#include <vector>

namespace vanto {

// The system's name lookup.
class Resolver {
public:
    virtual ~Resolver() = default;

    // The host's addresses as numeric text ("93.184.216.34", "fe80::1%eth0"); empty
    // when the lookup fails. Blocks for as long as the lookup takes.
    virtual std::vector<std::string> addresses(const std::string& host) = 0;
};

} // namespace vanto
