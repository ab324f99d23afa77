#include "cloud/CloudDriver.h"

#include "base/AtomicFile.h"
#include "base/Files.h"
#include "base/Json.h"
#include "drivers/FileDriver.h"

namespace vanto {
namespace fs = std::filesystem;
CloudDriver::CloudDriver(APIClient api, std::string run, std::string claimToken, fs::path folder, Clock& clock)
    : api_(std::move(api)), run_(std::move(run)), claimToken_(std::move(claimToken)), folder_(std::move(folder)),
      clock_(clock) {}

bool CloudDriver::isTransient(const std::exception& error) {
    if (dynamic_cast<const HttpTransportError*>(&error)) return true;
    const auto* answered = dynamic_cast<const UploadError*>(&error);
    return answered && answered->kind() == UploadError::Case::http && answered->status() >= 500;
}

void CloudDriver::withOneRepeat(const std::function<void()>& request) {
    try {
        request();
        return;
    } catch (const std::exception& error) {
        if (!isTransient(error)) throw;
    }
    clock_.sleep(repeatAfter);
    request();
}

void CloudDriver::prepare() {
    fs::remove_all(folder_);
    createFolders(folder_, fs::perms::owner_all);
}

DriverCommand CloudDriver::next(double timeout, std::stop_token stop) {
    const double deadline = clock_.now() + timeout;
    while (clock_.now() < deadline) {
        const double asked = clock_.now();
        std::optional<std::string> command;
        try {
            command = api_.nextCommand(run_, claimToken_, stop);
        } catch (const std::exception& error) {
            if (!isTransient(error)) throw;
            if (!clock_.sleep(repeatAfter, stop)) throw Cancelled();
            continue;
        }
        if (command) return FileDriver::parsedCommand(*command);
        // The service holds the request until a command comes; one that answers "none"
        // at once is asked at most once a second rather than as fast as it answers.
        if (!clock_.sleep(asked + repeatAfter - clock_.now(), stop)) throw Cancelled();
    }
    return DriverCommand::idle();
}

void CloudDriver::answer(const DriverResult& result) {
    if (result.id < 1) return;
    APIClient::AnswerCommandParams params{run_, claimToken_, result.id, toJSON(result), std::nullopt};
    if (result.look && result.look->screenshot) {
        // The look names a file of this folder, never a path elsewhere.
        auto file = folder_ / fs::path(*result.look->screenshot).filename();
        try {
            auto png = readFile(file);
            if (png.size() <= largestScreenshot) params.screenshot = std::move(png);
        } catch (const fs::filesystem_error&) {
            // The answer goes without the picture rather than not at all.
        }
    }
    withOneRepeat([&] { api_.answerCommand(params); });
}

fs::path CloudDriver::screenshotFile(std::int64_t id) {
    return folder_ / ("look-" + std::to_string(id) + ".png");
}

void CloudDriver::opened(std::optional<std::int64_t> scene) {
    withOneRepeat([&] { api_.setTake(run_, claimToken_, scene); });
}

void CloudDriver::closed() {
    try {
        withOneRepeat([&] { api_.setTake(run_, claimToken_, std::nullopt); });
    } catch (const std::exception&) {
        // The take is over either way; the service learns it from the run's report.
    }
}

} // namespace vanto
