#pragma once

#include "drivers/TakeDriver.h"
#include "platform/Clock.h"
#include "service/APIClient.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vanto {

// Drives a take with commands from the service: an assistant sends them one at a time
// and reads each answer with its screenshot. The commands and answers are those of a
// file driver; only the way they travel differs.
class CloudDriver final : public TakeDriver {
public:
    // How long to wait before asking again after the service could not answer.
    static constexpr double repeatAfter = 1;
    // The largest screenshot sent with an answer (3 MiB); a larger one is left out.
    static constexpr std::uintmax_t largestScreenshot = 3 * 1024 * 1024;

    // folder: the run's "drive" folder, where the take's screenshots are stored.
    CloudDriver(APIClient api, std::string run, std::string claimToken, std::filesystem::path folder, Clock& clock);

    // Empties the folder and makes it again. Throws std::filesystem::filesystem_error.
    void prepare() override;
    // Long-polls until a command comes or the time is up (idle). A service that cannot
    // answer is asked again a second later; any other failure, a run taken away
    // (Abandoned) included, is thrown, as is a command that cannot be read.
    DriverCommand next(double timeout, std::stop_token stop = {}) override;
    // Sends the answer with its screenshot, once more a second later if the service could
    // not take it. The opening answer (id 0) goes nowhere.
    void answer(const DriverResult& result) override;
    std::filesystem::path screenshotFile(std::int64_t id) override;
    // Tells the service which scene is driven; a failure is thrown.
    void opened(std::optional<std::int64_t> scene) override;
    // Tells the service no scene is driven any more; a failure is ignored.
    void closed() override;

    // A failure worth one more try: no answer at all, or the service's own error (500 and up).
    static bool isTransient(const std::exception& error);

private:
    void withOneRepeat(const std::function<void()>& request);

    APIClient api_;
    std::string run_;
    std::string claimToken_;
    std::filesystem::path folder_;
    Clock& clock_;
};

} // namespace vanto
