#pragma once

#include "platform/Paths.h"

namespace vanto {

// The program's folders under XDG rules; the getters only compute, never create.
class LinuxPaths final : public Paths {
public:
    std::filesystem::path home() override;
    std::filesystem::path configDir() override;
    std::filesystem::path stateDir() override;
    std::filesystem::path dataDir() override;
    std::filesystem::path tempDir() override;
};

} // namespace vanto
