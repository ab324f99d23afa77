#include "sheets/SelfRecording.h"

#include <algorithm>

namespace vanto {

void recordOneAfterAnother(
    SheetReport& report, DemoProgress& progress,
    const std::function<TakeResult(std::size_t scene, const std::optional<DemoProgress::Place>& place)>& record,
    const std::function<void(const SheetReport&)>& save) {
    while (report.state == SheetReport::State::recording) {
        // The report, not the progress, says what is left: a take that landed without a
        // video moves no progress, and must not be recorded again.
        auto next = std::find_if(report.takes.begin(), report.takes.end(), [](const SheetReport::Take& take) {
            return take.state == SheetReport::Take::State::pending;
        });
        if (next == report.takes.end()) return;
        const std::size_t scene = next->scene;
        report.started(scene);
        save(report);
        const TakeResult result = record(scene, progress.placement(scene));
        progress.advance(scene, result.outcome);
        report.finished(scene, result.outcome, result.landed);
        save(report);
    }
}

} // namespace vanto
