#pragma once

#include "sheets/DemoProgress.h"
#include "sheets/SheetReport.h"
#include "sheets/TakeOutcome.h"

#include <cstddef>
#include <functional>
#include <optional>

namespace vanto {

// What one take of a sheet came to; landed: it reached the service where it was meant to go.
struct TakeResult {
    TakeOutcome outcome;
    bool landed = false;
};

// Records a sheet that records itself: take after take, with nobody pressing Record, each
// placed where the last one ended. Before each take the report marks it started; after it
// the progress advances, the report takes the outcome and is saved. Ends once the report
// is no longer recording or no take is left pending.
void recordOneAfterAnother(
    SheetReport& report, DemoProgress& progress,
    const std::function<TakeResult(std::size_t scene, const std::optional<DemoProgress::Place>& place)>& record,
    const std::function<void(const SheetReport&)>& save);

} // namespace vanto
