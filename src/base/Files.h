#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace vanto {

// The most readFile takes: far more than any sheet, plan or driver command needs, and
// little enough to hold in memory.
inline constexpr std::uintmax_t largestReadableFile = 16 * 1024 * 1024;

// The whole file as bytes. Only a regular file (a symbolic link is followed) of at most
// largestReadableFile bytes is read: a device, pipe or socket could feed bytes forever or never answer.
// Throws std::filesystem::filesystem_error whose code's message is the reason for a
// person (no such file, a folder, no permission, not a regular file, too large).
std::string readFile(const std::filesystem::path& file);

} // namespace vanto
