#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vanto {

// Named attributes the system or other programs attach to a file, such as the address a
// browser downloaded it from.
class ExtendedAttributes {
public:
    virtual ~ExtendedAttributes() = default;

    // Whether the file (a symbolic link is followed) carries the attribute, or none when
    // the system could not tell (the file is gone or may not be looked at). A file system
    // that keeps no such attributes, or a name it has no room for, answers false.
    virtual std::optional<bool> has(const std::filesystem::path& file, const std::string& name) = 0;
};

} // namespace vanto
