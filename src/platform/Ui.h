#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vanto {

// The system colours the panels use; secondary is the grey of secondary labels.
enum class UiColour { yellow, red, orange, green, secondary };

// What the step panel shows; the core decides every text, colour and length.
struct PanelContent {
    std::string caption;
    UiColour captionColour = UiColour::red;
    std::string message;
    double fill = 0; // 0...1 of the track
    UiColour fillColour = UiColour::red;
};

// The on-screen panels: the recording indicator, the step heads-up panel with its Stop
// control, and the picker's question. Main thread only. Backends draw; they decide nothing.
class Ui {
public:
    virtual ~Ui() = default;

    virtual void showIndicator(const std::string& title, UiColour colour, const std::string& tooltip) = 0;
    virtual void hideIndicator() = 0;

    // Shows the panel (creating it on first use) in front, without taking focus.
    virtual void showPanel(const PanelContent& content) = 0;
    // Shows the Stop control above the panel; onPress runs on the main thread.
    virtual void showStopControl(const std::string& title, bool enabled, std::function<void()> onPress) = 0;
    virtual void hidePanels() = 0;
    // The window numbers of every panel (the step panel, the control, the indicator and
    // the picker's question), for leaving them out of recordings.
    virtual std::vector<std::uint32_t> panelWindowIDs() = 0;

    // The picker's floating panel with a question, a hint and a reading line below them,
    // shown in front without taking focus and placed so that it does not cover what the
    // person is pointing at. setPickerReading replaces the reading line.
    virtual void showPicker(const std::string& question, const std::string& hint) = 0;
    virtual void setPickerReading(const std::string& reading, UiColour colour) = 0;
    virtual void hidePicker() = 0;

    // A global key-down monitor: each press with its modifier flags (the design's bits)
    // and its characters ignoring modifiers. False when no monitor can be installed.
    using KeyDown = std::function<void(std::uint64_t flags, const std::string& characters)>;
    virtual bool startKeyMonitor(KeyDown onKeyDown) = 0;
    virtual void stopKeyMonitor() = 0;

    // Lets the panels redraw and handle input for this many seconds.
    virtual void runFor(double seconds) = 0;
};

// Without a display there is nothing to show: every call does nothing, and no windows
// need leaving out of recordings.
class NullUi final : public Ui {
public:
    void showIndicator(const std::string&, UiColour, const std::string&) override {}
    void hideIndicator() override {}
    void showPanel(const PanelContent&) override {}
    void showStopControl(const std::string&, bool, std::function<void()>) override {}
    void hidePanels() override {}
    std::vector<std::uint32_t> panelWindowIDs() override { return {}; }
    void showPicker(const std::string&, const std::string&) override {}
    void setPickerReading(const std::string&, UiColour) override {}
    void hidePicker() override {}
    bool startKeyMonitor(KeyDown) override { return false; }
    void stopKeyMonitor() override {}
    void runFor(double) override {}
};

class MainThread;

// The desktop's panels (the Qt application's), for a process that has a display; the
// main thread is where they live and are redrawn. Defined by the desktop application
// library; a build without it has none to offer.
std::unique_ptr<Ui> makeDesktopPanels(MainThread& mainThread);

} // namespace vanto
