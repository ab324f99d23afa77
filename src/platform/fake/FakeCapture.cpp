#include "platform/fake/FakeCapture.h"

#include "base/Error.h"

#include <array>
#include <chrono>
#include <fstream>
#include <set>
#include <thread>

namespace vanto::fake {

bool Gate::hold(std::stop_token stop) {
    std::unique_lock lock(mutex);
    ++entered;
    changed.notify_all();
    changed.wait(lock, stop, [this] { return open; });
    return stop.stop_requested();
}

void Gate::waitForEntries(int n) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return entered >= n; });
}

void Gate::release() {
    {
        std::lock_guard lock(mutex);
        open = true;
    }
    changed.notify_all();
}

// ---- stream

FakeStream::FakeStream(FakeScreenCapture& owner, ContentFilter filter, StreamConfiguration configuration,
                       std::shared_ptr<StreamDelegate> delegate)
    : filter(std::move(filter)), configuration(configuration), owner_(owner), streamDelegate_(std::move(delegate)) {}

void FakeStream::addRecordingOutput(const RecordingOutputConfiguration& configuration,
                                    std::shared_ptr<StreamDelegate> delegate) {
    if (owner_.outputFailure) throw CaptureError(*owner_.outputFailure);
    output = configuration;
    outputDelegate_ = std::move(delegate);
}

void FakeStream::startCapture(std::stop_token stop) {
    if (owner_.hangStart) {
        auto gate = owner_.gate_;
        gate->hold(stop);
        throw Cancelled();
    }
    if (!output) throw CaptureError({"no recording output was added", "FakeCapture", 2});
    // As a real encoder that fails to open, the file is made before the failure.
    std::ofstream(output->outputURL, std::ios::binary | std::ios::trunc);
    if (owner_.startFailure) throw CaptureError(*owner_.startFailure);
    started = true;
    writeFrames(owner_.framesOnStart);
}

void FakeStream::stopCapture(std::stop_token stop) {
    ++stopCalls;
    if (owner_.hangStop) {
        auto gate = owner_.gate_;
        gate->hold(stop);
        throw Cancelled();
    }
    stopped = true;
}

void FakeStream::moveRecordingOutput(const std::filesystem::path& to) {
    std::lock_guard lock(mutex_);
    if (!output) throw CaptureError({"no recording output was added", "FakeCapture", 2});
    std::error_code error;
    std::filesystem::rename(output->outputURL, to, error);
    if (error) throw CaptureError({"cannot move the movie: " + error.message(), "FakeCapture", 3});
    output->outputURL = to;
}

StreamStatistics FakeStream::statistics() {
    std::lock_guard lock(mutex_);
    return statistics_;
}

void FakeStream::writeFrames(int count) {
    std::lock_guard lock(mutex_);
    if (!output || count <= 0) return;
    std::ofstream file(output->outputURL, std::ios::binary | std::ios::app);
    for (int i = 0; i < count; ++i) file << "frame " << statistics_.framesWritten++ << "\n";
}

void FakeStream::dropFrames(int count) {
    std::lock_guard lock(mutex_);
    statistics_.framesDropped += count;
}

void FakeStream::die(const CaptureFailure& failure) {
    stopped = true;
    if (streamDelegate_) streamDelegate_->streamDidStopWithError(failure);
}

void FakeStream::failOutput(const CaptureFailure& failure) {
    if (outputDelegate_) outputDelegate_->recordingOutputDidFailWithError(failure);
}

// ---- capture service

namespace {

// The lock files claimed in this process, standing for the machine's: every fake
// capture service is a process of its own that shares the file system.
std::mutex claimsMutex;
std::set<std::filesystem::path> claimed;

class FakeClaim final : public FileClaim {
public:
    explicit FakeClaim(std::filesystem::path file) : file_(std::move(file)) {}
    ~FakeClaim() override {
        std::lock_guard lock(claimsMutex);
        std::error_code ignored;
        std::filesystem::remove(file_, ignored);
        claimed.erase(file_);
    }

private:
    std::filesystem::path file_;
};

} // namespace

std::unique_ptr<FileClaim> FakeScreenCapture::claimFile(const std::filesystem::path& lockFile) {
    std::lock_guard lock(claimsMutex);
    const auto file = std::filesystem::absolute(lockFile).lexically_normal();
    if (claimed.contains(file)) return nullptr;
    if (!std::ofstream(file, std::ios::app)) throw CaptureError({"cannot make " + file.string(), "FakeCapture", 4});
    claimed.insert(file);
    return std::make_unique<FakeClaim>(file);
}

FakeScreenCapture::~FakeScreenCapture() {
    gate_->release();
    // An operation abandoned at its deadline (a recorder finishing its stream as it goes
    // away, against a clock that runs out at once) may still be on a thread of its own,
    // using a stream that refers to this object: this goes once such threads let go.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    for (const auto& stream : streams_)
        while (stream.use_count() > 1 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

ShareableContent FakeScreenCapture::shareableContent(bool, bool) {
    bool hang = false;
    {
        // Counted with the flag read, so that a test seeing the count knows the call is
        // past every use of this object but the gate's.
        std::lock_guard lock(mutex_);
        ++contentQueries_;
        hang = hangContent;
    }
    if (hang) {
        auto gate = gate_;
        gate->hold();
        throw Cancelled();
    }
    if (contentFailure) throw CaptureError(*contentFailure);
    std::lock_guard lock(mutex_);
    return content;
}

std::shared_ptr<CaptureStream> FakeScreenCapture::makeStream(const ContentFilter& filter,
                                                             const StreamConfiguration& configuration,
                                                             std::shared_ptr<StreamDelegate> delegate) {
    auto stream = std::make_shared<FakeStream>(*this, filter, configuration, std::move(delegate));
    std::lock_guard lock(mutex_);
    streams_.push_back(stream);
    return stream;
}

CapturedImage FakeScreenCapture::captureImage(const ContentFilter& filter, const StreamConfiguration& configuration) {
    bool hang = false;
    {
        std::lock_guard lock(mutex_);
        ++imageCaptures_;
        imageConfigurations_.push_back(configuration);
        hang = hangImage;
    }
    if (hang) {
        auto gate = gate_;
        gate->hold();
        throw Cancelled();
    }
    if (imageFailure) throw CaptureError(*imageFailure);
    if (paint) return paint(filter, configuration);
    CapturedImage image{configuration.width, configuration.height, {}};
    image.bgra.assign(static_cast<std::size_t>(image.width * image.height) * 4, 128);
    return image;
}

std::optional<std::vector<std::uint8_t>> FakeScreenCapture::encodePNG(const CapturedImage& image) {
    if (pngFails) return std::nullopt;
    return storedPNG(image);
}

void FakeScreenCapture::addWindow(std::uint32_t windowID, RectD frame, const std::string& owner, std::int32_t pid) {
    std::lock_guard lock(mutex_);
    content.windows.insert(content.windows.begin(), ShareableWindow{windowID, frame, owner, pid, "", true});
}

int FakeScreenCapture::contentQueries() {
    std::lock_guard lock(mutex_);
    return contentQueries_;
}

int FakeScreenCapture::imageCaptures() {
    std::lock_guard lock(mutex_);
    return imageCaptures_;
}

std::vector<StreamConfiguration> FakeScreenCapture::imageConfigurations() {
    std::lock_guard lock(mutex_);
    return imageConfigurations_;
}

std::shared_ptr<FakeStream> FakeScreenCapture::lastStream() {
    std::lock_guard lock(mutex_);
    return streams_.empty() ? nullptr : streams_.back();
}

int FakeScreenCapture::streamsMade() {
    std::lock_guard lock(mutex_);
    return static_cast<int>(streams_.size());
}

// ---- panels

void FakeUi::showIndicator(const std::string& title, UiColour colour, const std::string& tooltip) {
    indicator = Indicator{title, colour, tooltip};
    indicatorTitles.push_back(title);
    if (onShowIndicator) onShowIndicator();
}

void FakeUi::hideIndicator() {
    indicator.reset();
}

void FakeUi::showPanel(const PanelContent& content) {
    panel = content;
}

void FakeUi::showStopControl(const std::string& title, bool enabled, std::function<void()> onPress) {
    controlTitle = title;
    controlEnabled = enabled;
    onPress_ = std::move(onPress);
}

void FakeUi::hidePanels() {
    panel.reset();
    controlTitle.reset();
    controlEnabled = false;
    onPress_ = nullptr;
}

void FakeUi::showPicker(const std::string& question, const std::string& hint) {
    picker = PickerPanel{question, hint, {}, UiColour::secondary};
}

void FakeUi::setPickerReading(const std::string& reading, UiColour colour) {
    readings.push_back(reading);
    if (!picker) return; // a reading for a panel that is not shown goes nowhere, as on screen
    picker->reading = reading;
    picker->readingColour = colour;
}

bool FakeUi::startKeyMonitor(KeyDown onKeyDown) {
    onKeyDown_ = std::move(onKeyDown);
    monitoring = true;
    return true;
}

void FakeUi::stopKeyMonitor() {
    onKeyDown_ = nullptr;
    monitoring = false;
}

void FakeUi::pressStop() {
    if (controlTitle && controlEnabled && onPress_) {
        auto press = onPress_; // the press may replace the control's action
        press();
    }
}

void FakeUi::pressKeys(std::uint64_t flags, const std::string& characters) {
    if (monitoring && onKeyDown_) {
        auto keyDown = onKeyDown_;
        keyDown(flags, characters);
    }
}

// ---- PNG without compression

namespace {

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
    static const auto table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

void chunk(std::vector<std::uint8_t>& out, const char* type, const std::vector<std::uint8_t>& data) {
    put32(out, static_cast<std::uint32_t>(data.size()));
    std::vector<std::uint8_t> body(type, type + 4);
    body.insert(body.end(), data.begin(), data.end());
    out.insert(out.end(), body.begin(), body.end());
    put32(out, crc32(body.data(), body.size()));
}

} // namespace

std::vector<std::uint8_t> storedPNG(const CapturedImage& image) {
    const auto width = static_cast<std::size_t>(image.width);
    const auto height = static_cast<std::size_t>(image.height);
    std::vector<std::uint8_t> raw; // filter byte 0, then RGB
    raw.reserve(height * (1 + width * 3));
    for (std::size_t y = 0; y < height; ++y) {
        raw.push_back(0);
        for (std::size_t x = 0; x < width; ++x) {
            const auto* p = &image.bgra[(y * width + x) * 4];
            raw.insert(raw.end(), {p[2], p[1], p[0]});
        }
    }
    std::vector<std::uint8_t> zlib{0x78, 0x01};
    std::size_t offset = 0;
    do {
        const std::size_t block = std::min<std::size_t>(65535, raw.size() - offset);
        const bool last = offset + block == raw.size();
        zlib.push_back(last ? 1 : 0);
        zlib.push_back(static_cast<std::uint8_t>(block & 0xFF));
        zlib.push_back(static_cast<std::uint8_t>(block >> 8));
        zlib.push_back(static_cast<std::uint8_t>(~block & 0xFF));
        zlib.push_back(static_cast<std::uint8_t>((~block >> 8) & 0xFF));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(offset),
                    raw.begin() + static_cast<std::ptrdiff_t>(offset + block));
        offset += block;
    } while (offset < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put32(zlib, (b << 16) | a);

    std::vector<std::uint8_t> png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<std::uint8_t> header;
    put32(header, static_cast<std::uint32_t>(width));
    put32(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0}); // 8-bit RGB
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", zlib);
    chunk(png, "IEND", {});
    return png;
}

} // namespace vanto::fake
