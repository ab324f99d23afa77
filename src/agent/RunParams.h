#pragma once

#include "capture/RecordingFormat.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace vanto {

class CloudPolicy;
class TakeDriver;

// Everything one run needs to know, from prompt to upload.
struct RunParams {
    std::string prompt;           // also the upload's narration
    std::filesystem::path output; // where the recording is written
    std::int64_t fps = 30;
    bool upload = true;
    std::optional<std::filesystem::path> planFile; // read the plan instead of asking the planner
    std::optional<std::string> app;                // the application the demo is about
    std::optional<std::int32_t> pid;               // pins the session to this process
    bool fullScreen = false;
    bool driveOnly = false;
    bool assumeYes = false;
    RecordingQuality quality = RecordingQuality::standard;
    RecordingCodec codec = RecordingCodec::h264;
    std::optional<std::string> into;    // the video the take is inserted into
    std::optional<std::string> project; // project for a new video
    bool applyProjectSettings = true;
    std::optional<double> atSeconds; // where in `into` the take goes
    bool rehearse = true;
    std::optional<std::string> startURL;      // a page already open in the stage browser
    bool pageOnly = false;                    // frame only the web page
    std::shared_ptr<const CloudPolicy> cloud; // set when the run serves an assistant's request
    std::optional<std::string> clientKey;     // idempotency key for the upload
    std::shared_ptr<TakeDriver> driver;       // steps come from an outside driver
    std::optional<std::int64_t> scene;        // the demo-sheet scene of this take
};

} // namespace vanto
