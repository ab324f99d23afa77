#include "desk/TakeFlow.h"

#include "base/Text.h"
#include "capture/Input.h"
#include "sheets/Placement.h"

namespace vanto::TakeFlow {

Fields read(const std::string& prompt, const std::string& video, const std::string& time, bool running) {
    Fields fields;
    fields.prompt = prompt;
    fields.video = Placement::videoID(video);
    fields.seconds = Placement::seconds(time);
    fields.time = time;
    fields.running = running;
    return fields;
}

Begun begin(const Fields& fields) {
    const auto prompt = text::trimWhitespaceAndNewlines(fields.prompt);
    if (fields.heldScene)
        return Complaint{"Scene " + std::to_string(*fields.heldScene) + " is a hold, not a take",
                         "A held frame is made in the editor, after every take is in place: put the playhead on "
                         "the frame and press Freeze the frame."};
    if (prompt.empty() || fields.running) return std::monostate{};
    if (!fields.video.empty() && !fields.seconds)
        return Complaint{"Say where in that video this take belongs", "A time like 1:30, or a number of seconds."};
    if (fields.video.empty() && !text::trimSpaces(fields.time).empty())
        return Complaint{"There is no video to put this take in",
                         "Add the video's ID or link, or clear the time to record a take of its own."};
    Take take{prompt, std::nullopt, std::nullopt};
    if (!fields.video.empty()) {
        take.into = fields.video;
        take.atSeconds = fields.seconds;
    }
    return take;
}

RunParams runParams(const Take& take, std::filesystem::path output, bool linked) {
    RunParams params;
    params.prompt = take.prompt;
    params.output = std::move(output);
    params.fps = 30;
    params.upload = linked;
    params.quality = RecordingQuality::standard;
    params.codec = RecordingCodec::h264;
    params.rehearse = true;
    params.into = take.into;
    params.atSeconds = take.atSeconds;
    return params;
}

std::string listed(const Step& step) {
    if (step.label) return *step.label;
    for (const auto* field : {&step.target, &step.url, &step.app})
        if (*field) return step.action + " " + **field;
    return step.action;
}

Alert approval(const std::vector<Step>& steps, const std::string& question) {
    Alert alert;
    alert.message = question;
    // The agent asks in lower case, as a terminal line; an alert reads as a sentence.
    if (!alert.message.empty() && alert.message[0] >= 'a' && alert.message[0] <= 'z') alert.message[0] -= 'a' - 'A';
    if (steps.empty()) {
        alert.informative = "There are no steps in this plan.";
    } else {
        for (std::size_t i = 0; i < steps.size() && i < stepsListed; ++i)
            alert.informative += std::to_string(i + 1) + ". " + listed(steps[i]) + "\n";
        if (steps.size() > stepsListed)
            alert.informative += "\u2026and " + std::to_string(steps.size() - stepsListed) + " more\n";
        alert.informative += "\nEvery step runs twice: once rehearsing, once on the take.";
    }
    alert.buttons = {"Run", "Cancel"};
    return alert;
}

Alert readyToRecord() {
    return {"Ready to record?",
            "The rehearsal ran the whole flow, so the screen is where its last step left it. Put it back the way the "
            "demo should start, then record.",
            {"Record", "Cancel"}};
}

double keyboardSpeed(Defaults& defaults) {
    const auto stored = defaults.get(keyboardSpeedKey);
    return typingSpeed(stored && stored->is_number() ? std::optional<double>(stored->get<double>()) : std::nullopt);
}

bool isWebAddress(const std::string& address) {
    const auto lower = text::asciiLower(address);
    for (const std::string scheme : {"https://", "http://"})
        if (lower.starts_with(scheme) && lower.size() > scheme.size() &&
            lower.find_first_of(" \t\r\n") == std::string::npos)
            return true;
    return false;
}

Alert result(const Outcome& outcome) {
    Alert alert;
    if (outcome.error) {
        alert.message = outcome.plannerAsked ? "Vanto needs to know where to record" : "The run stopped";
        alert.informative = *outcome.error;
        alert.buttons = {"OK"};
    } else if (outcome.uploadURL && isWebAddress(*outcome.uploadURL)) {
        alert.message = "Recorded and uploaded";
        alert.informative = *outcome.uploadURL;
        alert.buttons = {"Open", "Done"};
    } else {
        alert.message = "Recorded";
        alert.informative = outcome.path;
        alert.buttons = {showButton, "Done"};
    }
    if (outcome.learned) alert.buttons.push_back(forgetButton);
    return alert;
}

} // namespace vanto::TakeFlow
