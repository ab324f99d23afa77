#include "base/Files.h"

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

namespace vanto {
namespace {

std::error_code lastError() {
    int code = errno;
    return code ? std::error_code(code, std::generic_category()) : std::make_error_code(std::errc::io_error);
}

} // namespace

std::string readFile(const std::filesystem::path& file) {
    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::filesystem::filesystem_error("cannot open", file, lastError());
    errno = 0;
    std::string bytes;
    try {
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    } catch (const std::ios_base::failure&) {
        // A folder opens like a file and fails at the first read.
        throw std::filesystem::filesystem_error("cannot read", file, lastError());
    }
    if (in.bad()) throw std::filesystem::filesystem_error("cannot read", file, lastError());
    return bytes;
}

} // namespace vanto
