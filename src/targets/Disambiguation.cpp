#include "targets/Targeting.h"

#include "base/Text.h"
#include "plan/AgentError.h"
#include "targets/AXRanking.h"
#include "targets/AXRoles.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <variant>

namespace vanto {
namespace {

// How long a remembered answer is looked for before going back to where it was shown.
constexpr double rememberedPatience = 2.0;
// How long matches may keep changing before the latest list is taken as it is.
constexpr double stablePatience = Targeting::defaultPatience;
// A remembered place this close to where the page is now needs no scroll.
constexpr std::int64_t closeEnough = 120;
// Time for the page to draw after scrolling back.
constexpr double afterScrollingBack = 0.35;
constexpr std::int64_t wideSearch = 400;
constexpr std::int64_t fewMatches = 9;
constexpr std::size_t neighboursTried = 8;

bool filled(const std::optional<std::string>& text) {
    return text && !text->empty();
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text::asciiLower(text.substr(0, prefix.size())) == prefix;
}

bool sameElement(const AXElement& a, const AXElement& b) {
    return a.role == b.role && a.text == b.text && a.x == b.x && a.y == b.y && a.width == b.width &&
           a.height == b.height;
}

std::vector<AXElement> inReadingOrder(std::vector<AXElement> elements) {
    return AXRanking::ordered(elements, std::nullopt);
}

} // namespace

Targeting::Resolution Targeting::whichOne(const Step& step, std::int32_t pid, const std::vector<AXElement>& among,
                                          bool recording) {
    if (!filled(step.target) && !filled(step.role)) return {among, false};
    const std::string key = answerKey(step);
    const auto app = applicationID(pid);
    std::vector<AXElement> candidates = among;

    if (auto correction = app ? seams_.corrections.lookUp(*app, key) : std::nullopt) {
        const Wanted remembered = Wanted::from(*correction);
        const double deadline = seams_.clock.now() + rememberedPatience;
        for (;;) {
            checkStop();
            if (auto hit = answering(*correction, look(remembered, pid, fewMatches))) {
                log("resolved " + text::quoted(key) + " to " + text::quoted(correction->label) +
                    " from a previous answer");
                return {{*hit}, false, true};
            }
            if (seams_.clock.now() >= deadline) break;
            pause(pollInterval);
        }
        if (auto back = backToWhereItWasShown(*correction, pid)) {
            log("resolved " + text::quoted(key) + " to " + text::quoted(correction->label) + " by going back to " +
                "where it was pointed at");
            return {{*back}, false, true};
        }
        log(text::quoted(correction->label) + " answered " + text::quoted(key) + " earlier, and nothing " +
            "on this screen answers to it now");
        const auto seen = seams_.resolver.find(FindParams{.pid = pid, .text = step.target, .limit = 5});
        for (const auto& element : seen)
            log("  saw " + element.role + " " + text::quoted(text::firstCharacters(element.text, 60)));
        if (seen.empty()) log("  nothing here matches " + text::quoted(key) + " at all");
        candidates = look(Wanted::from(step), pid, fewMatches);
        if (candidates.size() == 1) return {candidates, false};
        if (recording && candidates.size() > 1)
            throw AgentError::ambiguous(key, static_cast<std::int64_t>(candidates.size()));
    } else if (candidates.size() == 1) {
        return {candidates, false};
    }

    if (recording || !callbacks_.ask) return {{}, true};

    std::vector<AXElement> matches;
    if (!candidates.empty()) {
        matches = stableMatches(step, pid, step.target);
    } else {
        Wanted wanted = Wanted::from(step);
        matches = Picker::distinct(look(wanted, pid, fewMatches));
        if (matches.empty() && (wanted.near || wanted.nth)) {
            wanted.near.reset();
            wanted.nth.reset();
            matches = Picker::distinct(look(wanted, pid, fewMatches));
        }
    }
    // One match left after waiting is the answer; a question with one choice asks nothing.
    if (matches.size() == 1) return {matches, false};

    std::string question;
    if (!matches.empty()) {
        question = "Which one is " + asking(step) + "?";
    } else {
        log("nothing on screen matches " + text::quoted(key));
        question = "Nothing here looks like " + asking(step) + ". Which one is it?";
    }
    checkStop();
    const Picker::Outcome outcome = callbacks_.ask(question, pid);

    if (const auto* picked = std::get_if<Picker::Picked>(&outcome)) {
        const AXElement& element = picked->element;
        const auto near = anchorText(element, pid);
        const auto nth = near ? std::nullopt : ordinal(element, pid);
        if (app) {
            const auto trace = seams_.scrollTrace.state();
            Correction correction;
            correction.label = element.text;
            correction.role = element.role;
            correction.identity = element.identity;
            correction.nth = nth;
            correction.near = near;
            if (trace.trusted) correction.scrolledBy = trace.travelled;
            correction.inPage = element.inPage;
            // Words of a role alone name nothing this application keeps: good for this run.
            correction.forThisRunOnly = !filled(step.target);
            seams_.corrections.remember(*app, key, correction);
        }
        if (nth) log(text::quoted(element.text) + " is number " + std::to_string(*nth) + " of its kind");
        if (near) log(text::quoted(element.text) + " is the one beside " + text::quoted(*near));
        log("learned " + text::quoted(key) + " means " + text::quoted(element.text) + " for this recording");
        return {{element}, false};
    }
    if (std::holds_alternative<Picker::Unnamed>(outcome))
        log(text::quoted(key) + " was pointed at, but the page gives it no name to remember");
    return {{}, true};
}

std::vector<Step> Targeting::answered(std::vector<Step> steps, std::int32_t pid) {
    const auto app = applicationID(pid);
    if (!app) return steps;
    for (auto& step : steps) {
        // The key without the label: a step that names no target has nothing to rewrite.
        if (!filled(step.target) && !filled(step.role)) continue;
        const auto correction = seams_.corrections.lookUp(*app, answerKey(step));
        if (!correction) continue;
        // A step of a role alone is said in the line by its role, not by an empty target.
        const std::string planned = filled(step.target) ? *step.target : *step.role;
        if (correction->label != planned)
            log("the take will look for " + text::quoted(correction->label) + " where the plan said " +
                text::quoted(planned));
        step.target = correction->label;
        step.role = correction->role;
        step.near = correction->near;
        step.nth = correction->nth;
        step.fromAnswer = true;
    }
    return steps;
}

std::optional<AXElement> Targeting::answering(const Correction& correction, const std::vector<AXElement>& elements) {
    if (!correction.identity.empty()) {
        for (const auto& element : elements)
            if (element.identity == correction.identity) return element;
        // An identity a page made up anew on reload names nothing now: the words and the
        // place among namesakes still do.
    }
    const std::string label = AXRanking::normalise(correction.label);
    std::vector<AXElement> named;
    for (const auto& element : elements)
        if (element.role == correction.role && AXRanking::normalise(element.text) == label) named.push_back(element);
    if (named.empty())
        for (const auto& element : elements)
            if (Wanted::from(correction).acceptsByPrefix(element)) named.push_back(element);
    if (named.empty()) return std::nullopt;
    if (!correction.nth) return named.front(); // the search's best
    // The place among namesakes counts in reading order. A search that was given the
    // place already answers with that one element alone.
    const auto ordered = inReadingOrder(named);
    const auto place = *correction.nth;
    if (place >= 1 && place <= static_cast<std::int64_t>(ordered.size()))
        return ordered[static_cast<std::size_t>(place - 1)];
    if (named.size() == 1) return named.front();
    return std::nullopt;
}

std::vector<AXElement> Targeting::look(const Wanted& wanted, std::int32_t pid, std::int64_t limit) {
    std::vector<AXElement> found;
    try {
        found = seams_.resolver.find(FindParams{.pid = pid,
                                                .text = wanted.text,
                                                .role = wanted.role,
                                                .limit = limit,
                                                .near = wanted.near,
                                                .nth = wanted.nth});
    } catch (const AgentError&) {
        throw;
    } catch (const Error&) {
        return {};
    }
    std::erase_if(found, [&](const AXElement& element) { return !wanted.accepts(element); });
    return found;
}

std::vector<AXElement> Targeting::stableMatches(const Step& step, std::int32_t pid,
                                                const std::optional<std::string>& text) {
    Wanted wanted = Wanted::from(step);
    wanted.text = text;
    // Bounded: a page that never stops changing (a ticker, an animation) must not hold
    // the run forever; after the patience its latest matches are the matches.
    const double deadline = seams_.clock.now() + stablePatience;
    std::optional<std::vector<AXElement>> before;
    for (;;) {
        checkStop();
        auto now = look(wanted, pid, fewMatches);
        if (!now.empty() && before == now) return now;
        if (seams_.clock.now() >= deadline) return now;
        before = std::move(now);
        pause(pollInterval);
    }
}

std::optional<AXElement> Targeting::backToWhereItWasShown(const Correction& correction, std::int32_t pid) {
    const auto trace = seams_.scrollTrace.state();
    if (!correction.scrolledBy || !trace.trusted) return std::nullopt;
    const std::int64_t distance = *correction.scrolledBy - trace.travelled;
    if (std::llabs(distance) > closeEnough) {
        log("going back to where " + text::quoted(correction.label) + " was pointed at");
        scrollBy(distance, firstWindow(pid));
        pause(afterScrollingBack);
    }
    auto found = look(Wanted::from(correction), pid, fewMatches);
    if (found.empty()) return std::nullopt;
    return found.front();
}

std::optional<std::string> Targeting::anchorText(const AXElement& element, std::int32_t pid) {
    const auto search = [&](FindParams params) -> std::vector<AXElement> {
        params.pid = pid;
        try {
            return seams_.resolver.find(params);
        } catch (const AgentError&) {
            throw;
        } catch (const Error&) {
            return {};
        }
    };
    if (search({.text = element.text, .role = element.role, .limit = wideSearch}).size() <= 1) return std::nullopt;

    const std::string own = AXRanking::normalise(element.text);
    std::vector<AXElement> neighbours;
    for (auto& other : search({.limit = wideSearch}))
        if (!other.text.empty() && AXRanking::normalise(other.text) != own) neighbours.push_back(std::move(other));
    const auto distance = [&](const AXElement& other) {
        return std::llabs(other.cx - element.cx) + std::llabs(other.cy - element.cy);
    };
    std::stable_sort(neighbours.begin(), neighbours.end(),
                     [&](const AXElement& a, const AXElement& b) { return distance(a) < distance(b); });
    if (neighbours.size() > neighboursTried) neighbours.resize(neighboursTried);
    for (const auto& neighbour : neighbours) {
        const auto found = search({.text = element.text, .role = element.role, .limit = 1, .near = neighbour.text});
        if (!found.empty() && sameElement(found.front(), element)) return neighbour.text;
    }
    return std::nullopt;
}

std::optional<std::int64_t> Targeting::ordinal(const AXElement& element, std::int32_t pid) {
    std::vector<AXElement> namesakes;
    try {
        namesakes = seams_.resolver.find(
            FindParams{.pid = pid, .text = element.text, .role = element.role, .limit = wideSearch});
    } catch (const AgentError&) {
        throw;
    } catch (const Error&) {
        return std::nullopt;
    }
    if (namesakes.size() < 2) return std::nullopt;
    const auto ordered = inReadingOrder(std::move(namesakes));
    for (std::size_t i = 0; i < ordered.size(); ++i)
        if (ordered[i].role == element.role && ordered[i].text == element.text && ordered[i].x == element.x &&
            ordered[i].y == element.y)
            return static_cast<std::int64_t>(i + 1);
    return std::nullopt;
}

std::string Targeting::answerKey(const Step& step) {
    const std::optional<std::string>& words = filled(step.target) ? step.target : step.role;
    if (!filled(words)) return step.label.value_or("");
    return *words + (step.occurrence >= 2 ? " #" + std::to_string(step.occurrence) : "");
}

std::string Targeting::asking(const Step& step) {
    const std::string label = step.label ? text::trimWhitespaceAndNewlines(*step.label) : "";
    if (label.empty()) return filled(step.target) ? text::quoted(*step.target) : "it";
    for (std::string_view verb : {"clicks ", "clicking ", "click "})
        if (startsWithIgnoringCase(label, verb)) return label.substr(verb.size());
    return label;
}

} // namespace vanto
