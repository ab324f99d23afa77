#pragma once

#include <filesystem>
#include <string_view>

namespace vanto {

// Writes the bytes to a temporary file beside path and renames it into place, so a
// reader sees the old file or the new one, never half of one. The temporary file gets
// the permissions before any byte is written, and nobody but the owner can open it
// while it is being written. Throws std::filesystem::filesystem_error.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes,
                     std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_write |
                                                          std::filesystem::perms::group_read |
                                                          std::filesystem::perms::others_read);

// Creates the folder and its missing parents; only the folders made here get the
// permissions, so a folder the person already had keeps its own. Throws on failure.
// A folder made for secrets gets owner-only permissions while still empty.
void createFolders(const std::filesystem::path& folder, std::filesystem::perms permissions);

} // namespace vanto
