#pragma once

// Starts the real vanto-devservice on a free loopback port with a state folder of its
// own, for tests that run the real client against it.

#include "platform/Http.h"

#include <nlohmann/json.hpp>

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vanto::test {

// A fresh folder under the temporary folder, removed with its contents.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix = "vanto-service-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class DevService {
public:
    // extraArguments go to "serve", e.g. {"--auto-sign-in", "a@b.c"}.
    explicit DevService(std::vector<std::string> extraArguments = {});
    ~DevService();
    DevService(const DevService&) = delete;
    DevService& operator=(const DevService&) = delete;

    // http://127.0.0.1:PORT
    const std::string& base() const { return base_; }
    const std::filesystem::path& stateFolder() const { return state_.path(); }

    // Runs "add-account" on the same state folder; the new token.
    std::string addAccount(const std::optional<std::string>& email, const std::optional<std::string>& name,
                           const std::optional<std::string>& password = std::nullopt);

    // POST /__faults with one fault description.
    void inject(const nlohmann::json& fault);
    // GET /__requests: what the service saw.
    nlohmann::json requests();
    // A plain request to the service, without the client's template.
    Http::Response call(const std::string& method, const std::string& path, const std::string& body = "",
                        Http::Headers headers = {});
    // What the service wrote on its standard error so far.
    std::string log();

    // The vanto-devservice this build made.
    static std::string binary();

private:
    TempFolder state_;
    pid_t pid_ = -1;
    std::string base_;
    std::filesystem::path logFile_;
};

// Runs a program to its end; its standard output.
std::string runProgram(const std::vector<std::string>& arguments, int* exitStatus = nullptr);

} // namespace vanto::test
