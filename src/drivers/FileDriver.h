#pragma once

#include "base/Error.h"
#include "drivers/TakeDriver.h"
#include "platform/Clock.h"

#include <filesystem>
#include <string>

namespace vanto {

// Talks to a driver through files in one folder: the driver writes "next.json", the
// program answers with "result-<id>.json", each published whole by a rename.
class FileDriver final : public TakeDriver {
public:
    // A command file's bytes as a command; throws Failure::unreadable.
    static DriverCommand parsedCommand(const std::string& bytes);

    class Failure : public Error {
    public:
        enum class Case { unreadable, noFolder };
        static Failure unreadable(const std::string& reason);
        static Failure noFolder();
        Case which() const noexcept { return case_; }

    private:
        Failure(Case which, std::string message) : Error(std::move(message)), case_(which) {}
        Case case_;
    };

    // How often next looks for a command file.
    static constexpr double pollInterval = 0.1;

    FileDriver(std::filesystem::path directory, Clock& clock);

    // demo.json's takes talk through demo.drive beside it.
    static std::filesystem::path folderBeside(const std::filesystem::path& sheet);

    const std::filesystem::path& directory() const noexcept { return directory_; }

    // Empties the folder (stale commands never reach a new take) and makes it again,
    // for the owner only. Throws std::filesystem::filesystem_error.
    void prepare() override;
    DriverCommand next(double timeout, std::stop_token stop = {}) override;
    void answer(const DriverResult& result) override;
    std::filesystem::path screenshotFile(std::int64_t id) override;
    void opened(std::optional<std::int64_t>) override {}
    void closed() override {}

private:
    std::filesystem::path directory_;
    Clock& clock_;
};

} // namespace vanto
