#include "targets/Targeting.h"

#include "base/Error.h"
#include "base/Text.h"
#include "capture/RecorderError.h"
#include "plan/AgentError.h"
#include "targets/AXRanking.h"
#include "targets/AXRoles.h"

#include <array>
#include <cstddef>
#include <cstdlib>
#include <utility>

namespace vanto {
namespace {

constexpr double pointerTravel = 0.6;
constexpr double reaimTravel = 0.2;
constexpr double clickSettle = 0.25;
constexpr double flipPatience = 1.5;
constexpr double changePatience = 8.0;
constexpr double settlePatience = 6.0;
constexpr double askingPatience = 1.5;
constexpr std::int64_t fingerprintLimit = 400;

// Where to aim, as fractions of the frame, when the middle of an element is not part
// of it (a wide link whose centre falls between two words).
constexpr std::array<std::pair<double, double>, 7> offCentre{
    {{0.25, 0.75}, {0.25, 0.25}, {0.5, 0.75}, {0.5, 0.25}, {0.1, 0.5}, {0.75, 0.75}, {0.75, 0.25}}};

std::string number(double value) {
    return std::to_string(static_cast<std::int64_t>(value));
}

Point centre(const AXElement& element) {
    return {static_cast<double>(element.cx), static_cast<double>(element.cy)};
}

bool differs(const Targeting::Fingerprint& a, const Targeting::Fingerprint& b) {
    if (a.signature != b.signature) return true;
    return a.image && b.image && Pixels::differ(*a.image, *b.image);
}

std::optional<std::string> nonEmpty(const std::optional<std::string>& text) {
    if (text && !text->empty()) return text;
    return std::nullopt;
}

// The element as it stands now: of the elements with its role and text, the one nearest
// to where it was. Every namesake is looked at, not the first few, because the first of
// them is another element as often as not.
std::optional<AXElement> whereItStands(AXResolver& resolver, const Step& step, std::int32_t pid,
                                       const AXElement& element) {
    FindParams params;
    params.pid = pid;
    params.text = element.text;
    params.limit = fingerprintLimit;
    params.near = step.near;
    params.nth = step.nth;
    std::optional<AXElement> nearest;
    std::int64_t shortest = 0;
    for (const auto& found : resolver.find(params)) {
        if (found.role != element.role || found.text != element.text) continue;
        const std::int64_t distance = std::abs(found.x - element.x) + std::abs(found.y - element.y) +
                                      std::abs(found.width - element.width) + std::abs(found.height - element.height);
        if (!nearest || distance < shortest) {
            nearest = found;
            shortest = distance;
        }
    }
    return nearest;
}

} // namespace

bool Targeting::click(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording) {
    const bool canAsk = !recording && callbacks_.ask;
    const std::string target = step.target.value_or("");
    const std::string plansChoice =
        "nobody said which one; going with the plan's " + (step.nth ? std::to_string(*step.nth) : "guess");

    auto list = canAsk ? candidates(step, pid, askingPatience, false) : candidates(step, pid, std::nullopt, true);
    list = meant(std::move(list), step);

    const auto app = applicationID(pid);
    // An answer held for these words is asked about even for a single candidate.
    const bool hadAnswer = app && seams_.corrections.knows(*app, answerKey(step));
    std::vector<AXElement> chosen;
    bool remembered = false;
    bool decided = false;

    if (canAsk && step.nth) {
        // The person chooses among every namesake, not only the one the plan counted to.
        Step everyNamesake = step;
        everyNamesake.nth.reset();
        const auto all = meant(candidates(everyNamesake, pid, std::nullopt, false), everyNamesake);
        if (!all.empty()) {
            decided = true;
            log("several match; asking which");
            auto resolution = whichOne(everyNamesake, pid, all, recording);
            if (resolution.nobodyAnswered) {
                log(plansChoice);
                if (!list.empty()) chosen = {list.front()};
            } else {
                chosen = std::move(resolution.chosen);
                remembered = resolution.fromMemory;
            }
        }
    }
    if (!decided) {
        if (list.size() == 1 && !hadAnswer) {
            chosen = list;
        } else {
            auto resolution = whichOne(step, pid, list, recording);
            if (resolution.nobodyAnswered) {
                log(plansChoice);
                chosen = list;
            } else {
                chosen = std::move(resolution.chosen);
                remembered = resolution.fromMemory;
            }
        }
    }

    if (chosen.empty()) {
        if (canAsk) chosen = meant(candidates(step, pid, std::nullopt, true), step);
        if (chosen.empty() && !target.empty())
            if (auto found = scrollTo(Wanted::from(step), pid)) chosen = {*found};
        if (chosen.empty()) throw AgentError::unresolved(target);
    }

    const auto& first = chosen.front();
    std::string line = "clicking " + first.role + " " + text::quoted(first.text) + " at " + std::to_string(first.cx) +
                       "," + std::to_string(first.cy) + " " + placeOf(first) + " for " + text::quoted(target);
    if (chosen.size() >= 2) line += " (" + std::to_string(chosen.size() - 1) + " more in reserve)";
    log(line);

    for (std::size_t i = 0; i < chosen.size(); ++i) {
        checkStop();
        const auto& candidate = chosen[i];
        const bool more = i + 1 < chosen.size();
        switch (attempt({candidate, step, pid, label, recording, more})) {
        case Attempt::Outcome::clicked:
            return true;
        case Attempt::Outcome::missed:
            log("something else answers where " + text::quoted(candidate.text) + " is; trying the next candidate");
            break;
        case Attempt::Outcome::noEffect:
            if (remembered) {
                log(text::quoted(candidate.text) + " was the remembered answer for " + text::quoted(target) +
                    " and clicking it did nothing - forgetting it");
                seams_.corrections.forget(*app, answerKey(step));
                remembered = false;
            }
            if (more) log("no-op on " + text::quoted(candidate.text) + "; trying the next candidate");
            break;
        }
    }
    return false;
}

std::vector<AXElement> Targeting::candidates(const Step& step, std::int32_t pid, std::optional<double> patience,
                                             bool hunting) {
    // An empty target is no target: searching for no words would click whatever is first.
    const auto target = nonEmpty(step.target);
    if (!target && !nonEmpty(step.role)) throw RecorderError::missingField("target");

    FindParams params;
    params.pid = pid;
    params.text = target;
    params.role = step.role;
    params.limit = 4;
    params.near = step.near;
    params.nth = step.nth;

    const double deadline = seams_.clock.now() + patience.value_or(defaultPatience);
    while (true) {
        checkStop();
        auto found = seams_.resolver.find(params);
        if (!found.empty()) return found;
        if (seams_.clock.now() >= deadline) break;
        pause(pollInterval);
    }

    if (step.nth && step.near) {
        params.nth.reset();
        auto beside = seams_.resolver.find(params);
        if (!beside.empty()) {
            log("there is no number " + std::to_string(*step.nth) + " " + text::quoted(target.value_or("")) +
                " here; " + "took the one beside " + text::quoted(*step.near) + " instead");
            return beside;
        }
    }
    if (hunting && target) return lookByScrolling(step, *target, pid);
    return {};
}

std::vector<AXElement> Targeting::meant(std::vector<AXElement> candidates, const Step& step) {
    if (!step.fromAnswer || !step.target) return candidates;
    const Wanted wanted = Wanted::from(step);
    const std::string target = AXRanking::normalise(*step.target);

    std::vector<AXElement> same;
    for (const auto& candidate : candidates)
        if (AXRanking::normalise(candidate.text) == target) same.push_back(candidate);
    if (!same.empty()) return same;

    std::vector<AXElement> kept;
    for (const auto& candidate : candidates) {
        // A step from an answer is held to the answer's words, which are its target.
        if (!wanted.text || wanted.accepts(candidate)) kept.push_back(candidate);
    }
    if (!kept.empty()) {
        log(text::quoted(*step.target) + " is how " + kept.front().role + " " +
            text::quoted(text::firstCharacters(kept.front().text, 60)) + " begins");
        return kept;
    }
    if (!candidates.empty()) {
        log("nothing here is " + text::quoted(*step.target) + "; still looking");
        for (std::size_t i = 0; i < candidates.size() && i < 5; ++i)
            log("  saw " + candidates[i].role + " " + text::quoted(text::firstCharacters(candidates[i].text, 90)));
    }
    return {};
}

Targeting::Attempt::Outcome Targeting::attempt(const Attempt::Params& params) {
    const std::int32_t pid = params.pid;
    auto& reader = seams_.resolver.reader();
    // The pointer is driven with the stop token; a stop while it travels is the run's stop.
    const auto driving = [this](auto&& act) {
        checkStop();
        try {
            act();
        } catch (const Cancelled&) {
            throw AgentError::stopped();
        }
    };

    AXElement target = broughtIntoView(params.candidate, pid);
    Point point = aim(target, pid);
    const Fingerprint before = snapshot(pid);
    std::optional<Focus> focusBefore;
    try {
        focusBefore = reader.focused(pid);
    } catch (const Error&) {
    }

    driving([&] { seams_.input.move(point, pointerTravel, callbacks_.stop); });
    if (auto moved = reaim(params.step, pid, target, point)) {
        log(text::quoted(target.text) + " moved while the pointer was travelling; aiming again");
        point = *moved;
        driving([&] { seams_.input.move(point, reaimTravel, callbacks_.stop); });
        // Whether the point reaches it is asked of the element where it now is.
        if (auto now = whereItStands(seams_.resolver, params.step, pid, target)) target = *now;
    }
    if (params.checkingReach && !reader.hits(target, point, pid)) return Attempt::Outcome::missed;

    std::optional<std::string> valueBefore;
    if (AXRoles::values().contains(target.role)) {
        try {
            valueBefore = reader.value(point, pid);
        } catch (const Error&) {
        }
    }

    driving([&] { seams_.input.click(point, MouseButton::left, clickSettle, callbacks_.stop); });

    bool effect = false;
    if (valueBefore) {
        // A value that stays is the answer: the screen is not watched for it.
        if (!flipped(point, pid, valueBefore)) {
            log(text::quoted(target.text) + " did not change");
            return Attempt::Outcome::noEffect;
        }
        effect = true;
    } else {
        std::optional<Focus> focusAfter;
        try {
            focusAfter = reader.focused(pid);
        } catch (const Error&) {
        }
        effect = (focusAfter && focusMoved(focusBefore, *focusAfter)) || changed(before, pid, changePatience);
    }
    if (!effect) return Attempt::Outcome::noEffect;
    if (params.recording) seams_.recorder.note("click", params.label, "", point);
    return Attempt::Outcome::clicked;
}

Point Targeting::aim(const AXElement& element, std::int32_t pid) {
    const Point middle = centre(element);
    auto& reader = seams_.resolver.reader();
    if (element.width <= 0 || element.height < 1 || reader.hits(element, middle, pid)) return middle;
    const auto width = static_cast<double>(element.width);
    const auto height = static_cast<double>(element.height);
    for (const auto& [fx, fy] : offCentre) {
        const Point point{static_cast<double>(element.x) + fx * width, static_cast<double>(element.y) + fy * height};
        if (reader.hits(element, point, pid)) {
            log("aiming at " + number(point.x) + "," + number(point.y) + " - the middle of " +
                text::quoted(text::firstCharacters(element.text, 30)) + " is not part of it");
            return point;
        }
    }
    return middle;
}

std::optional<Point> Targeting::reaim(const Step& step, std::int32_t pid, const AXElement& candidate, Point from) {
    const auto now = whereItStands(seams_.resolver, step, pid, candidate);
    if (!now) return std::nullopt;
    const Point point = aim(*now, pid);
    if (point == from) return std::nullopt;
    return point;
}

Targeting::Fingerprint Targeting::snapshot(std::int32_t pid) {
    FindParams params;
    params.pid = pid;
    params.limit = fingerprintLimit;
    Fingerprint fingerprint;
    bool first = true;
    for (const auto& element : seams_.resolver.find(params)) {
        if (!first) fingerprint.signature += "|";
        fingerprint.signature += element.role + ":" + element.text;
        first = false;
    }
    if (const auto window = firstWindow(pid)) fingerprint.image = seams_.pixels.fingerprint(window->windowID);
    return fingerprint;
}

bool Targeting::changed(const Fingerprint& before, std::int32_t pid, double within) {
    const double deadline = seams_.clock.now() + within;
    while (seams_.clock.now() < deadline) {
        checkStop();
        pause(pollInterval);
        if (differs(before, snapshot(pid))) {
            settle(pid);
            return true;
        }
    }
    return false;
}

void Targeting::settle(std::int32_t pid) {
    Fingerprint previous = snapshot(pid);
    const double deadline = seams_.clock.now() + settlePatience;
    while (seams_.clock.now() < deadline) {
        checkStop();
        pause(pollInterval);
        Fingerprint now = snapshot(pid);
        if (!differs(previous, now)) return;
        previous = std::move(now);
    }
}

bool Targeting::waitForFocusToMove(const std::optional<Focus>& before, std::int32_t pid, double within) {
    const double deadline = seams_.clock.now() + within;
    while (true) {
        checkStop();
        std::optional<Focus> now;
        try {
            now = seams_.resolver.reader().focused(pid);
        } catch (const Error&) {
        }
        if (now && focusMoved(before, *now)) return true;
        if (seams_.clock.now() >= deadline) return false;
        pause(pollInterval);
    }
}

bool Targeting::focusMoved(const std::optional<Focus>& before, const Focus& after) {
    if (!before) return !after.role.empty();
    if (before->role != after.role) return true;
    // The same field at the same place only moved when it crossed into or out of the page.
    if (before->value == after.value && before->frame == after.frame) return before->inPage != after.inPage;
    return true;
}

bool Targeting::flipped(Point at, std::int32_t pid, const std::optional<std::string>& before) {
    auto& resolver = seams_.resolver;
    const double deadline = seams_.clock.now() + flipPatience;
    while (true) {
        checkStop();
        if (resolver.access().mayDrive(pid))
            if (const auto value = resolver.reader().value(at, pid); value && value != before) return true;
        if (seams_.clock.now() >= deadline) return false;
        pause(pollInterval);
    }
}

bool Targeting::clickBack(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording) {
    FindParams params;
    params.pid = pid;
    params.text = "Back";
    params.role = "button";
    params.limit = 9;
    // The browser's own toolbar button, never a link on the page that says Back.
    std::optional<AXElement> back;
    for (const auto& found : seams_.resolver.find(params))
        if (!found.inPage) {
            back = found;
            break;
        }
    if (!back) return false;
    log("going back");
    if (attempt({*back, step, pid, label, recording, false}) != Attempt::Outcome::clicked) return false;
    settle(pid);
    return true;
}

bool Targeting::samePage(std::string_view a, std::string_view b) {
    const auto bare = [](std::string_view address) {
        std::string text = text::asciiLower(address);
        for (const std::string_view prefix : {"https://", "http://", "www."})
            if (text.starts_with(prefix)) text.erase(0, prefix.size());
        while (text.ends_with('/')) text.pop_back();
        return text;
    };
    return bare(a) == bare(b);
}

std::string Targeting::kind(std::string_view role) {
    if (role == "AXLink") return "link";
    if (role == "AXButton" || role == "AXPopUpButton" || role == "AXMenuButton") return "button";
    if (role == "AXTextField" || role == "AXTextArea" || role == "AXComboBox") return "input";
    if (role == "AXCheckBox" || role == "AXRadioButton") return "checkbox";
    if (role == "AXMenuItem") return "menuitem";
    return std::string(role);
}

} // namespace vanto
