#pragma once

#include "base/Random.h"
#include "cloud/CloudClaim.h"
#include "cloud/CloudGuard.h"
#include "cloud/CloudPolicy.h"
#include "sheets/DemoSheet.h"
#include "sheets/Stage.h"

#include <cstdint>
#include <filesystem>
#include <optional>

namespace vanto {

// Turns the sheet a cloud run was given into a demo sheet the window records, with
// the policy that keeps the run on public pages and its own title cards.
class CloudSheetMaker {
public:
    struct Made {
        DemoSheet sheet;
        CloudPolicy policy;
    };

    // The plan every title card of a run is held with, byte for byte.
    static constexpr std::string_view holdPlanText =
        R"({"steps":[{"action":"wait","ms":4000,"description":"shows the title card"}]})";

    // folder: the run's folder; screenHeight: the height of the screen's visible area,
    // none without a screen. `resolve` goes into the policy.
    CloudSheetMaker(CloudSheet cloud, std::filesystem::path folder, std::optional<std::int64_t> screenHeight,
                    Random& random, CloudGuard::Resolve resolve);

    // Writes the title cards and their plan into the folder and validates the sheet.
    // Throws std::filesystem::filesystem_error or DemoSheet::Failure.
    Made make() const;

    // The browser window for the stage: the page area the cloud asked for, scaled down
    // to fit a screen that is too short for it.
    Stage stage(const CloudStage& cloudStage) const;

    // Writes "hold-card.json" into the folder (made when missing); its location.
    std::filesystem::path holdPlan() const;

private:
    CloudSheet cloud_;
    std::filesystem::path folder_;
    std::optional<std::int64_t> screenHeight_;
    Random& random_;
    CloudGuard::Resolve resolve_;
};

} // namespace vanto
