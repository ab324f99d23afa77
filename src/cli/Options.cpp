#include "cli/Options.h"

#include "base/Text.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vanto {
namespace {

template <size_t N> std::string joined(const std::array<std::string_view, N>& values) {
    std::string text;
    for (auto v : values) {
        if (!text.empty()) text += ", ";
        text += v;
    }
    return text;
}

} // namespace

std::optional<std::string> value(std::string_view of, const Arguments& in) {
    auto it = std::find(in.begin(), in.end(), of);
    if (it == in.end() || it + 1 == in.end()) return std::nullopt;
    return *(it + 1);
}

bool hasFlag(std::string_view name, const Arguments& in) {
    return std::find(in.begin(), in.end(), name) != in.end();
}

std::string permissionMessage(const std::string& name) {
    return "screen recording and accessibility are granted to the app that "
           "launches vanto, not to vanto itself, and " +
           name + " does not have them. Run it from a terminal that does - or grant " + name +
           " in System Settings > Privacy & Security and restart it.";
}

PromptOptions parsePromptOptions(const Arguments& arguments,
                                 const std::function<std::filesystem::path()>& defaultOutput) {
    PromptOptions options;
    RunParams& p = options.params;
    p.prompt = arguments.at(0);

    auto output = value("--output", arguments);
    p.output = output ? std::filesystem::path(*output) : defaultOutput();

    auto fps = value("--fps", arguments);
    p.fps = fps ? parseInteger(*fps).value_or(30) : 30;

    if (auto quality = value("--quality", arguments)) {
        auto parsed = recordingQuality(text::asciiLower(*quality));
        if (!parsed) throw OptionError("--quality must be one of: " + joined(recordingQualities));
        p.quality = *parsed;
    }
    if (auto codec = value("--codec", arguments)) {
        auto parsed = recordingCodec(text::asciiLower(*codec));
        if (!parsed) throw OptionError("--codec must be one of: " + joined(recordingCodecs));
        p.codec = *parsed;
    }

    auto into = value("--into", arguments);
    auto project = value("--project", arguments);
    if (auto at = value("--at", arguments)) {
        auto seconds = parseDecimal(*at);
        if (!seconds || !std::isfinite(*seconds) || *seconds < 0)
            throw OptionError("--at must be a number of seconds, like --at 8 or --at 8.5");
        if (!into) throw OptionError("--at only means something with --into");
        if (project)
            throw OptionError("--project is for a take that makes a new video; one aimed --into a video is part of it");
        p.atSeconds = seconds;
    } else if (into) {
        throw OptionError("--into needs --at: say where in that video the take belongs");
    } else {
        p.project = project;
    }
    p.into = into;

    // A speed of zero or less would have the input layer crawl at one character a
    // second; nobody asks for that, so it counts as no speed, like one that is unreadable.
    if (auto cps = value("--cps", arguments))
        if (auto speed = parseDecimal(*cps); speed && *speed > 0) options.charsPerSecond = speed;

    p.upload = !hasFlag("--no-upload", arguments);
    if (auto plan = value("--plan", arguments)) p.planFile = std::filesystem::path(*plan);
    p.app = value("--app", arguments);
    if (auto pid = value("--pid", arguments)) {
        auto parsed = parseInteger(*pid);
        if (parsed && *parsed >= std::numeric_limits<std::int32_t>::min() &&
            *parsed <= std::numeric_limits<std::int32_t>::max())
            p.pid = static_cast<std::int32_t>(*parsed);
    }
    p.fullScreen = hasFlag("--screen", arguments);
    p.driveOnly = hasFlag("--no-record", arguments);
    p.assumeYes = hasFlag("--yes", arguments);
    p.applyProjectSettings = !hasFlag("--no-project-settings", arguments);
    p.rehearse = !hasFlag("--no-rehearse", arguments);
    return options;
}

} // namespace vanto
