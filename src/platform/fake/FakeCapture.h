#pragma once

#include "platform/Capture.h"
#include "platform/Ui.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vanto::fake {

class FakeScreenCapture;

// Holds back calls that "never answer" until they are asked to stop or the fake goes
// away; shared so that an abandoned call can still wake after its owner is gone.
struct Gate {
    std::mutex mutex;
    std::condition_variable_any changed;
    bool open = false;
    int entered = 0; // calls that have reached the gate, ever
    // Blocks until the gate opens or stop is requested; true when stopped.
    bool hold(std::stop_token stop = {});
    void release();
    // Waits (in real time) until n calls in all have reached the gate.
    void waitForEntries(int n);
};

// A stream that writes a real small file: its output is created at start and every
// written frame appends bytes, so a stopped take has a size to report.
class FakeStream final : public CaptureStream {
public:
    FakeStream(FakeScreenCapture& owner, ContentFilter filter, StreamConfiguration configuration,
               std::shared_ptr<StreamDelegate> delegate);

    void addRecordingOutput(const RecordingOutputConfiguration& configuration,
                            std::shared_ptr<StreamDelegate> delegate) override;
    void startCapture(std::stop_token stop) override;
    void stopCapture(std::stop_token stop) override;
    void moveRecordingOutput(const std::filesystem::path& to) override;
    StreamStatistics statistics() override;

    // What a test does to a running stream.
    void writeFrames(int count);
    void dropFrames(int count);
    // The stream stops by itself (window closed, capture failed).
    void die(const CaptureFailure& failure);
    void failOutput(const CaptureFailure& failure);

    const ContentFilter filter;
    const StreamConfiguration configuration;
    std::optional<RecordingOutputConfiguration> output;
    bool started = false;
    bool stopped = false;
    int stopCalls = 0;

private:
    FakeScreenCapture& owner_;
    std::shared_ptr<StreamDelegate> streamDelegate_;
    std::shared_ptr<StreamDelegate> outputDelegate_;
    std::mutex mutex_;
    StreamStatistics statistics_;
};

// The capture service of the scripted desktop.
class FakeScreenCapture final : public ScreenCapture {
public:
    ShareableContent shareableContent(bool excludingDesktopWindows, bool onScreenWindowsOnly) override;
    std::shared_ptr<CaptureStream> makeStream(const ContentFilter& filter, const StreamConfiguration& configuration,
                                              std::shared_ptr<StreamDelegate> delegate) override;
    CapturedImage captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) override;
    std::unique_ptr<FileClaim> claimFile(const std::filesystem::path& lockFile) override;
    std::optional<std::vector<std::uint8_t>> encodePNG(const CapturedImage& image) override;

    // Adds an on-screen window in front of the others.
    void addWindow(std::uint32_t windowID, RectD frame, const std::string& owner = "App", std::int32_t pid = 100);

    ShareableContent content{{}, {{1, {0, 0, 1440, 900}, 1}}};
    // Frames written when a capture starts; 0 leaves the file empty.
    int framesOnStart = 1;
    // Calls that never answer until they are asked to stop.
    bool hangContent = false;
    bool hangStart = false;
    bool hangStop = false;
    bool hangImage = false;
    std::optional<CaptureFailure> contentFailure;
    std::optional<CaptureFailure> outputFailure; // addRecordingOutput refuses
    std::optional<CaptureFailure> startFailure;
    std::optional<CaptureFailure> imageFailure;
    bool pngFails = false;
    // Paints the picture of a window; by default every pixel is mid-grey.
    std::function<CapturedImage(const ContentFilter&, const StreamConfiguration&)> paint;

    FakeScreenCapture() = default;
    ~FakeScreenCapture() override;
    FakeScreenCapture(const FakeScreenCapture&) = delete;
    FakeScreenCapture& operator=(const FakeScreenCapture&) = delete;

    // What was asked.
    int contentQueries();
    int imageCaptures();
    std::vector<StreamConfiguration> imageConfigurations();
    std::shared_ptr<FakeStream> lastStream();
    int streamsMade();
    // Where the calls that never answer wait.
    Gate& gate() { return *gate_; }

private:
    friend class FakeStream;
    std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();
    std::mutex mutex_;
    int contentQueries_ = 0;
    int imageCaptures_ = 0;
    std::vector<StreamConfiguration> imageConfigurations_;
    std::vector<std::shared_ptr<FakeStream>> streams_;
};

// Remembers what the panels show, for tests; the Stop button and keys are pressed by
// the test.
class FakeUi final : public Ui {
public:
    void showIndicator(const std::string& title, UiColour colour, const std::string& tooltip) override;
    void hideIndicator() override;
    void showPanel(const PanelContent& content) override;
    void showStopControl(const std::string& title, bool enabled, std::function<void()> onPress) override;
    void hidePanels() override;
    std::vector<std::uint32_t> panelWindowIDs() override { return windowIDs; }
    void showPicker(const std::string& question, const std::string& hint) override;
    void setPickerReading(const std::string& reading, UiColour colour) override;
    void hidePicker() override { picker.reset(); }
    bool startKeyMonitor(KeyDown onKeyDown) override;
    void stopKeyMonitor() override;
    void runFor(double seconds) override { ran += seconds; }

    // The person clicks Stop (only an enabled, shown button reacts) or presses keys.
    void pressStop();
    void pressKeys(std::uint64_t flags, const std::string& characters);

    struct Indicator {
        std::string title;
        UiColour colour;
        std::string tooltip;
    };
    std::optional<Indicator> indicator;
    std::vector<std::string> indicatorTitles; // every title shown, in order
    std::function<void()> onShowIndicator;    // e.g. a slow desktop taking its time
    std::optional<PanelContent> panel;
    struct PickerPanel {
        std::string question;
        std::string hint;
        std::string reading;
        UiColour readingColour = UiColour::secondary;
    };
    std::optional<PickerPanel> picker;
    std::vector<std::string> readings; // every reading shown, in order
    std::optional<std::string> controlTitle;
    bool controlEnabled = false;
    bool monitoring = false;
    std::vector<std::uint32_t> windowIDs;
    double ran = 0;

private:
    std::function<void()> onPress_;
    KeyDown onKeyDown_;
};

// A PNG file with stored (uncompressed) image data: valid for any reader, made without
// a compression library.
std::vector<std::uint8_t> storedPNG(const CapturedImage& image);

} // namespace vanto::fake
