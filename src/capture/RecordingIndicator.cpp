#include "capture/RecordingIndicator.h"

namespace vanto {

RecordingIndicator::Look RecordingIndicator::look(Phase phase) {
    switch (phase) {
    case Phase::planning:
        return {"◐ Planning", UiColour::yellow, "vanto is planning; nothing is recorded yet"};
    case Phase::recording:
        return {"● REC", UiColour::red, "vanto is recording"};
    case Phase::saving:
        return {"◼ Saving", UiColour::orange, "vanto is writing the take to disk"};
    case Phase::uploading:
        break;
    }
    return {"▲ Uploading", UiColour::green, "vanto is uploading the take; the run is not done yet"};
}

void RecordingIndicator::show(Phase phase) {
    const Look shown = look(phase);
    ui_.showIndicator(shown.title, shown.colour, shown.tooltip);
    phase_ = phase;
    // Redraw now: the caller is often about to block.
    ui_.runFor(0.05);
}

void RecordingIndicator::hide() {
    ui_.hideIndicator();
    phase_.reset();
}

} // namespace vanto
