#pragma once

#include "platform/ExtendedAttributes.h"

namespace vanto {

// Extended attributes through getxattr(2).
class LinuxExtendedAttributes final : public ExtendedAttributes {
public:
    std::optional<bool> has(const std::filesystem::path& file, const std::string& name) override;
};

} // namespace vanto
