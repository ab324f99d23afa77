#include "capture/StepHUD.h"

#include "platform/EventSink.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace vanto {

double StepHUD::filled(double fraction) {
    if (std::isnan(fraction)) return 0;
    return std::clamp(fraction, 0.0, 1.0);
}

bool StepHUD::isStopShortcut(std::uint64_t flags, const std::string& characters) {
    const std::uint64_t both = modifier::command | modifier::option;
    return (flags & both) == both && characters == ".";
}

void StepHUD::show(RecordingIndicator::Phase phase, const std::string& caption, const std::string& label,
                   double fraction) {
    const auto look = RecordingIndicator::look(phase);
    PanelContent content;
    content.caption = look.title + captionSeparator + caption;
    content.captionColour = look.colour;
    content.message = label;
    content.fill = filled(fraction);
    content.fillColour = look.colour;
    ui_.showPanel(content);
    ui_.runFor(0.05);
}

void StepHUD::showThinking() {
    // Nobody knows how many steps a driven take has, so the bar stays empty.
    show(RecordingIndicator::Phase::recording, "driven by an agent", "the agent is thinking…", 0);
}

void StepHUD::allowStopping(std::function<void()> onStop) {
    onStop_ = std::move(onStop);
    suspended_ = false;
    ui_.showStopControl(stopTitle, true, [this] { stopOnce(); });
    watchShortcut();
}

// The shortcut is watched only while stopping is allowed: a desktop that can watch
// keys only by taking them from the application in front gets them back at once.
void StepHUD::watchShortcut() {
    ui_.startKeyMonitor([this](std::uint64_t flags, const std::string& characters) {
        // While stopping is suspended the run is in a phase that must not be cut
        // short, so the shortcut waits like the button does.
        if (!suspended_ && isStopShortcut(flags, characters)) stopOnce();
    });
}

void StepHUD::stopOnce() {
    if (!onStop_) return;
    auto action = std::exchange(onStop_, nullptr);
    ui_.stopKeyMonitor();
    ui_.showStopControl(stoppingTitle, false, [] {});
    action();
}

void StepHUD::suspendStopping(const std::string& because) {
    if (!onStop_) return;
    suspended_ = true;
    ui_.stopKeyMonitor();
    ui_.showStopControl(because, false, [] {});
    ui_.runFor(0.05);
}

void StepHUD::resumeStopping() {
    if (!onStop_) return;
    suspended_ = false;
    ui_.showStopControl(stopTitle, true, [this] { stopOnce(); });
    watchShortcut();
    ui_.runFor(0.05);
}

void StepHUD::hide() {
    ui_.hidePanels();
    ui_.stopKeyMonitor();
    onStop_ = nullptr;
    suspended_ = false;
}

} // namespace vanto
