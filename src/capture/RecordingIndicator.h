#pragma once

#include "platform/Ui.h"

#include <optional>
#include <string>

namespace vanto {

// The recording indicator: which phase a run is in. Main thread only.
class RecordingIndicator {
public:
    enum class Phase { planning, recording, saving, uploading };

    struct Look {
        std::string title; // symbol and word
        UiColour colour;
        std::string tooltip;
    };
    static Look look(Phase phase);

    explicit RecordingIndicator(Ui& ui) : ui_(ui) {}

    void show(Phase phase);
    void hide();
    std::optional<Phase> phase() const { return phase_; }

private:
    Ui& ui_;
    std::optional<Phase> phase_;
};

} // namespace vanto
