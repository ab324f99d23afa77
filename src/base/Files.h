#pragma once

#include <filesystem>
#include <string>

namespace vanto {

// The whole file as bytes. Throws std::filesystem::filesystem_error carrying the
// system's reason (no such file, a folder, no permission).
std::string readFile(const std::filesystem::path& file);

} // namespace vanto
