#include "platform/linux/LinuxExtendedAttributes.h"

#include <sys/xattr.h>

#include <cerrno>

namespace vanto {

std::optional<bool> LinuxExtendedAttributes::has(const std::filesystem::path& file, const std::string& name) {
    if (::getxattr(file.c_str(), name.c_str(), nullptr, 0) >= 0) return true;
    switch (errno) {
    case ENODATA:    // no such attribute on this file
    case EOPNOTSUPP: // the file system keeps none, or no namespace holds the name
    case ERANGE:     // a name too long to be one
        return false;
    default:
        return std::nullopt;
    }
}

} // namespace vanto
