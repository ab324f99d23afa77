#pragma once

#include "capture/RecordingIndicator.h"
#include "platform/Ui.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vanto {

// How the step panel is laid out, in points; the panels draw exactly this.
namespace hudlayout {
inline constexpr int panelWidth = 340;
inline constexpr int panelHeight = 78;
inline constexpr int cornerRadius = 12;
inline constexpr int screenMargin = 24; // from the right and bottom of the visible frame
inline constexpr int insetLeft = 16;
inline constexpr int contentWidth = 308;
inline constexpr int captionY = 48; // from the panel's bottom
inline constexpr int captionHeight = 16;
inline constexpr int captionPointSize = 11;
inline constexpr int messageY = 26;
inline constexpr int messageHeight = 18;
inline constexpr int messagePointSize = 13;
inline constexpr int trackY = 14;
inline constexpr int trackHeight = 5;
inline constexpr double trackCornerRadius = 2.5;
inline constexpr int controlWidth = 104;
inline constexpr int controlBottom = 110; // above the bottom of the visible frame
} // namespace hudlayout

// The heads-up step panel and its Stop control. Main thread only.
class StepHUD {
public:
    static constexpr const char* stopTitle = "Stop  ⌘⌥.";
    static constexpr const char* stoppingTitle = "Stopping…";
    static constexpr const char* captionSeparator = "   ";

    explicit StepHUD(Ui& ui) : ui_(ui) {}

    void show(RecordingIndicator::Phase phase, const std::string& caption, const std::string& label, double fraction);
    // A driven take between steps: the agent driving it is deciding what to do next.
    void showThinking();
    void hide();

    void allowStopping(std::function<void()> onStop);
    void suspendStopping(const std::string& because);
    void resumeStopping();

    // The panels' window numbers, for leaving them out of display recordings.
    std::vector<std::uint32_t> windowIDs() { return ui_.panelWindowIDs(); }

    // The fraction of the track that is filled: clamped to 0...1, nothing for NaN.
    static double filled(double fraction);
    // Command and option held, and "." typed.
    static bool isStopShortcut(std::uint64_t flags, const std::string& characters);

    bool stoppingArmed() const { return static_cast<bool>(onStop_); }

private:
    void watchShortcut();
    void stopOnce();

    Ui& ui_;
    std::function<void()> onStop_;
    bool suspended_ = false;
};

} // namespace vanto
