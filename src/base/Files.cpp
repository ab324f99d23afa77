#include "base/Files.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <system_error>

namespace vanto {
namespace {

namespace fs = std::filesystem;

enum class Refusal { device = 1, pipe, socket, notRegular, tooLarge };

class RefusalCategory final : public std::error_category {
public:
    const char* name() const noexcept override { return "vanto.files"; }
    std::string message(int code) const override {
        switch (static_cast<Refusal>(code)) {
        case Refusal::device:
            return "it is a device, not a regular file";
        case Refusal::pipe:
            return "it is a pipe, not a regular file";
        case Refusal::socket:
            return "it is a socket, not a regular file";
        case Refusal::notRegular:
            return "it is not a regular file";
        case Refusal::tooLarge:
            break;
        }
        return "it is larger than " + std::to_string(largestReadableFile / (1024 * 1024)) + " MiB";
    }
};

std::error_code refusal(Refusal why) {
    static const RefusalCategory category;
    return {static_cast<int>(why), category};
}

std::error_code lastError() {
    int code = errno;
    return code ? std::error_code(code, std::generic_category()) : std::make_error_code(std::errc::io_error);
}

[[noreturn]] void fail(const char* what, const fs::path& file, std::error_code why) {
    throw fs::filesystem_error(what, file, why);
}

} // namespace

std::string readFile(const fs::path& file) {
    constexpr auto limit = largestReadableFile;
    std::error_code error;
    auto status = fs::status(file, error);
    if (error) fail("cannot open", file, error);
    switch (status.type()) {
    case fs::file_type::regular:
        break;
    case fs::file_type::directory:
        fail("cannot read", file, std::make_error_code(std::errc::is_a_directory));
    case fs::file_type::block:
    case fs::file_type::character:
        fail("cannot read", file, refusal(Refusal::device));
    case fs::file_type::fifo:
        fail("cannot read", file, refusal(Refusal::pipe));
    case fs::file_type::socket:
        fail("cannot read", file, refusal(Refusal::socket));
    default:
        fail("cannot read", file, refusal(Refusal::notRegular));
    }
    auto size = fs::file_size(file, error);
    if (error) fail("cannot read", file, error);
    if (size > limit) fail("cannot read", file, refusal(Refusal::tooLarge));

    errno = 0;
    std::ifstream in(file, std::ios::binary);
    if (!in) fail("cannot open", file, lastError());
    // The file may have grown since its size was read; one byte past the limit tells.
    std::string bytes(static_cast<std::size_t>(size) + 1, '\0');
    std::size_t filled = 0;
    for (;;) {
        errno = 0;
        in.read(bytes.data() + filled, static_cast<std::streamsize>(bytes.size() - filled));
        filled += static_cast<std::size_t>(in.gcount());
        if (in.bad()) fail("cannot read", file, lastError());
        if (in.eof()) break;
        if (filled > limit) fail("cannot read", file, refusal(Refusal::tooLarge));
        bytes.resize(std::min<std::uintmax_t>(bytes.size() * 2, limit + 1));
    }
    bytes.resize(filled);
    return bytes;
}

} // namespace vanto
