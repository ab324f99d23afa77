#include "base/AtomicFile.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace vanto {
namespace fs = std::filesystem;
namespace {

fs::path temporaryBeside(const fs::path& path) {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return path.parent_path() /
           ("." + path.filename().string() + ".tmp-" + std::to_string(stamp) + "-" + std::to_string(counter++));
}

[[noreturn]] void fail(const std::string& what, const fs::path& path, std::errc code) {
    throw fs::filesystem_error(what, path, std::make_error_code(code));
}

} // namespace

void writeAtomically(const fs::path& path, std::string_view bytes, fs::perms permissions) {
    auto temporary = temporaryBeside(path);
    struct Cleanup {
        fs::path path;
        bool armed = true;
        ~Cleanup() {
            std::error_code ignored;
            if (armed) fs::remove(path, ignored);
        }
    } cleanup{temporary};

    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) fail("cannot create file", temporary, std::errc::io_error);
        // Tightened while still empty, so a secret never sits in a readable file.
        fs::permissions(temporary, permissions, fs::perm_options::replace);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        out.flush();
        if (!out) fail("cannot write file", temporary, std::errc::io_error);
    }
    fs::rename(temporary, path);
    cleanup.armed = false;
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
