#include "base/AtomicFile.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace vanto {
namespace fs = std::filesystem;
namespace {

// Unique among this process's writers by the counter, and among other processes
// writing the same file (two copies of the program saving their settings at once) by
// the random part: their counters and clocks may well agree.
fs::path temporaryBeside(const fs::path& path) {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return path.parent_path() / ("." + path.filename().string() + ".tmp-" + std::to_string(stamp) + "-" +
                                 std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
}

[[noreturn]] void fail(const std::string& what, const fs::path& path, std::errc code) {
    throw fs::filesystem_error(what, path, std::make_error_code(code));
}

} // namespace

void writeAtomically(const fs::path& path, std::string_view bytes, fs::perms permissions) {
    // The standard library cannot open a file with a mode, so the file is made inside a
    // fresh folder that only its owner may enter, shut before the file exists. Nobody
    // else can open it there at any moment, whatever its mode is on the way; it gets
    // its own permissions before its first byte and is renamed into place whole.
    auto staging = temporaryBeside(path);
    struct Cleanup {
        fs::path folder;
        bool made = false;
        ~Cleanup() {
            std::error_code ignored;
            if (made) fs::remove_all(folder, ignored);
        }
    } cleanup{staging};
    std::error_code error;
    if (!fs::create_directory(staging, error)) {
        if (error) throw fs::filesystem_error("cannot create folder", staging, error);
        fail("cannot create folder", staging, std::errc::file_exists);
    }
    cleanup.made = true;
    fs::permissions(staging, fs::perms::owner_all, fs::perm_options::replace);
    auto temporary = staging / path.filename();
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) fail("cannot create file", temporary, std::errc::io_error);
        fs::permissions(temporary, permissions, fs::perm_options::replace);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) fail("cannot write file", temporary, std::errc::io_error);
    }
    fs::rename(temporary, path);
}

void createFolders(const fs::path& folder, fs::perms permissions) {
    if (folder.empty()) return;
    std::vector<fs::path> missing;
    for (auto at = folder; !at.empty() && !fs::exists(at); at = at.parent_path()) {
        missing.push_back(at);
        if (at == at.parent_path()) break;
    }
    for (auto it = missing.rbegin(); it != missing.rend(); ++it) {
        std::error_code error;
        if (fs::create_directory(*it, error)) {
            fs::permissions(*it, permissions, fs::perm_options::replace);
        } else if (error) {
            throw fs::filesystem_error("cannot create folder", *it, error);
        }
    }
    if (!fs::is_directory(folder)) fail("not a folder", folder, std::errc::not_a_directory);
}

} // namespace vanto
