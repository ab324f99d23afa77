#include "agent/Agent.h"

#include "agent/PlanSteps.h"
#include "base/Text.h"
#include "capture/RecorderError.h"
#include "cloud/CloudGuard.h"
#include "cloud/CloudPolicy.h"
#include "plan/AgentError.h"

#include <algorithm>

namespace vanto {
namespace {

// How long a typed text or a pressed key has to show on screen.
constexpr double effectWithin = 8;
// How long a focus-moving key has to move the focus.
constexpr double focusWithin = 1.5;
// The longest pause a "wait" step makes, and the one it makes without a length.
constexpr std::int64_t longestWaitMs = 10000;
constexpr std::int64_t defaultWaitMs = 800;
// Addresses are typed at this speed when the person set none: fast, but readable.
constexpr double addressCharsPerSecond = 18;
constexpr int mostDeletes = 400;

const std::string& required(const std::optional<std::string>& field, const std::string& key) {
    if (!field) throw RecorderError::missingField(key);
    return *field;
}

// Only ASCII letters fold: the field's text is compared as a person would read it, and
// the rest of the alphabet rarely differs by case alone in what a plan types.
bool holds(const std::string& value, const std::string& text) {
    return !value.empty() && text::asciiLower(value).find(text::asciiLower(text)) != std::string::npos;
}

// A key combination as the input layer names keys: lower case, no spaces.
std::string normalisedKey(const std::string& key) {
    std::string out;
    for (char c : text::asciiLower(key))
        if (c != ' ') out += c;
    return out;
}

} // namespace

Targeting Agent::steps(std::stop_token stop) {
    Targeting::Callbacks callbacks;
    callbacks.log = [this](const std::string& line) { log_(line); };
    callbacks.stopped = callbacks_.stopped;
    callbacks.ask = callbacks_.ask;
    callbacks.stop = stop;
    return seams_.targeting(std::move(callbacks));
}

bool Agent::perform(const Step& step, Session& session, bool recording, std::stop_token stop) {
    if (!session.cloud) return performStep(step, session, recording, stop);
    const auto& policy = *session.cloud;
    policy.admit(step);
    // Typing is allowed into the page's own fields only: the browser's would reach
    // places the page cannot.
    if (step.action == "type" || step.action == "key") {
        const auto focus = seams_.resolver.reader().focused(session.pid);
        if (!focus || focus->role != "AXTextField" || !focus->inPage) throw CloudPolicy::Refusal::browserControls();
    }
    const bool worked = performStep(step, session, recording, stop);
    const auto address = seams_.resolver.reader().pageURL(session.pid);
    CloudGuard::checkShown(address.value_or(""), policy.allowedFiles, policy.resolver());
    return worked;
}

bool Agent::performStep(const Step& step, Session& session, bool recording, std::stop_token stop) {
    Targeting targeting = steps(stop);
    const std::int32_t pid = session.pid;
    const std::string described = PlanSteps::describe(step);
    auto note = [&](const std::string& text) {
        if (recording) seams_.recorder.note(step.action, described, text, std::nullopt);
    };
    auto nothingChanged = [&](bool worked) {
        if (!worked) log_(described + " changed nothing on screen");
        return worked;
    };

    if (step.action == "open") {
        const auto& app = required(step.app, "app");
        seams_.scrollTrace.reset();
        open(app, step.fresh.value_or(false), session, stop);
        note("");
        return true;
    }
    if (step.action == "navigate") {
        const auto& url = required(step.url, "url");
        seams_.scrollTrace.reset();
        return navigate(url, pid, described, recording, stop);
    }
    if (step.action == "back")
        return targeting.clickBack(step, pid, step.label ? step.label : std::optional<std::string>("goes back"),
                                   recording);
    // A step without a label of its own is logged by its description, so the take's
    // event log still knows where every click and scroll happened.
    const auto labelled = step.label ? step.label : std::optional<std::string>(described);
    if (step.action == "click") return targeting.click(step, pid, labelled, recording);
    if (step.action == "scroll") return targeting.scroll(step, pid, labelled, recording);
    if (step.action == "wait") {
        const auto ms = std::clamp<std::int64_t>(step.ms.value_or(defaultWaitMs), 0, longestWaitMs);
        targeting.pause(static_cast<double>(ms) / 1000);
        note("");
        return true;
    }
    if (step.action == "type") {
        const auto& text = required(step.text, "text");
        auto& reader = seams_.resolver.reader();
        if (auto focus = reader.focused(pid); focus && focus->frame.width > 0 && focus->frame.height > 0)
            // A field outside the page of a browser window is the browser's own; scrolling
            // the page would not bring it any closer.
            if (focus->inPage || !reader.sawWebContent()) targeting.bringIntoView(focus->frame, pid);
        const auto before = targeting.snapshot(pid);
        seams_.input.type(text, callbacks_.charsPerSecond.value_or(Input::planTypingSpeed), stop);
        note(text);
        // The text in the field is proof enough, even where the picture barely changes.
        if (auto after = reader.focused(pid); after && holds(after->value, text)) return true;
        return nothingChanged(targeting.changed(before, pid, effectWithin));
    }
    if (step.action == "key") {
        const auto key = normalisedKey(required(step.key, "key"));
        const auto focusBefore = seams_.resolver.reader().focused(pid);
        const auto before = targeting.snapshot(pid);
        log_("pressing " + key);
        seams_.input.press({key}, 0, stop);
        note(key);
        if (key == "tab" || key == "shift+tab")
            return nothingChanged(targeting.waitForFocusToMove(focusBefore, pid, focusWithin));
        return nothingChanged(targeting.changed(before, pid, effectWithin));
    }
    throw AgentError::unknownAction(step.action);
}

bool Agent::navigate(const std::string& url, std::int32_t pid, const std::optional<std::string>& label, bool recording,
                     std::stop_token stop) {
    Targeting targeting = steps(stop);
    // Browsers name their address field for what it holds; Chromium's is "Address and
    // search bar", and the others' names begin alike.
    FindParams params;
    params.pid = pid;
    params.text = "Address";
    params.role = "AXTextField";
    params.limit = 1;
    const auto found = seams_.resolver.find(params);
    if (found.empty()) throw AgentError::unresolved("the address bar");
    const auto before = targeting.snapshot(pid);
    const auto& field = found.front();
    focusAddressBar(Point{double(field.cx), double(field.cy)}, pid, recording, stop);
    for (int i = 0; i < mostDeletes; ++i) {
        auto focus = seams_.resolver.reader().focused(pid);
        if (!focus || focus->value.empty()) break;
        seams_.input.press({"delete"}, 0, stop);
    }
    seams_.input.type(url, callbacks_.charsPerSecond.value_or(addressCharsPerSecond), stop);
    if (recording) seams_.recorder.note("navigate", label ? *label : "navigate " + url, url, std::nullopt);
    targeting.pause(0.35);
    seams_.input.press({"return"}, 0, stop);
    return targeting.changed(before, pid, effectWithin);
}

void Agent::focusAddressBar(Point at, std::int32_t, bool recording, std::stop_token stop) {
    if (recording) log_("focus in the address bar");
    seams_.input.move(at, 0.2, stop);
    seams_.input.click(at, MouseButton::left, 0.25, stop);
}

} // namespace vanto
