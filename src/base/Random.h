#pragma once

#include <cstdint>
#include <span>

namespace vanto {

// One injectable source of randomness for UUIDs and nonces; the real one is the
// operating system's secure generator.
class Random {
public:
    virtual ~Random() = default;
    virtual void fill(std::span<std::uint8_t> bytes) = 0;
};

} // namespace vanto
