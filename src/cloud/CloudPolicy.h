#pragma once

#include "plan/Step.h"
#include "base/Error.h"
#include "cloud/CloudGuard.h"

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

// Which steps a run an assistant asked for may take: none that leave the stage
// browser, load a blocked address or press the browser's own shortcuts.
class CloudPolicy {
public:
    class Refusal : public Error {
    public:
        enum class Case { leavesTheStage, browserShortcut, browserControls };
        static Refusal leavesTheStage(const std::string& app);
        static Refusal browserShortcut(const std::string& key);
        static Refusal browserControls();
        Case which() const noexcept { return case_; }

    private:
        Refusal(Case which, std::string message) : Error(std::move(message)), case_(which) {}
        Case case_;
    };

    // `resolve` is the system's lookup (CloudGuard::resolve) outside tests.
    CloudPolicy(std::vector<std::filesystem::path> allowedFiles, CloudGuard::Resolve resolve);

    // The title cards the run wrote: the only local files it may show.
    std::vector<std::filesystem::path> allowedFiles;

    // Returns when the step may run; throws Refusal or CloudGuard::Refusal.
    void admit(const Step& step) const;

    // Any chord with a modifier other than shift, and F6, which focuses the address bar.
    static bool isBrowserShortcut(std::string_view key);

    const CloudGuard::Resolve& resolver() const noexcept { return resolve_; }

private:
    CloudGuard::Resolve resolve_;
};

} // namespace vanto
