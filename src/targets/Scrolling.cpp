#include "targets/Targeting.h"

#include "base/Error.h"
#include "plan/AgentError.h"
#include "targets/AXRanking.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace vanto {
namespace {

constexpr char quote = '"';

// How long a scroll gesture takes, and how long the pointer takes to reach the window first.
constexpr double scrollDuration = 0.7;
constexpr double pointerToWindow = 0.25;
// A page of hunting or of a planned scroll: most of the window, so that what was at its
// bottom edge is still in sight at the top.
constexpr double pageOfWindow = 0.85;
constexpr std::int64_t pageWithoutWindow = 600;
// An element this close to the window's middle is where scrolling would put it anyway.
constexpr std::int64_t closeEnough = 7;
// A planned scroll looks for its target this many times, scrolling after each miss.
constexpr int plannedSearches = 12;
// A target the planned scroll found this near the window's middle is left where it is.
constexpr std::int64_t plannedSlack = 120;

// Hunting gives up after this many screens: past them the target is more likely not on
// this page at all than far down it, and each screen costs the person over a second.
constexpr int huntingScreens = 10;
// A page scrolls smoothly for a moment after the wheel stops; what is read before it
// settles is where the element was passing, not where it stays.
constexpr double scrollSettle = 0.35;
// Bringing an element into view corrects itself a few times (a wheel comes to whole
// notches, a page may jump as it lays out), then settles for where the element is.
constexpr int intoViewRounds = 4;

Rect frameOf(const AXElement& element) {
    return {static_cast<double>(element.x), static_cast<double>(element.y), static_cast<double>(element.width),
            static_cast<double>(element.height)};
}

Rect frameOf(const WindowInfo& window) {
    return {static_cast<double>(window.x), static_cast<double>(window.y), static_cast<double>(window.width),
            static_cast<double>(window.height)};
}

Point centreOf(const WindowInfo& window) {
    return {static_cast<double>(window.x) + static_cast<double>(window.width) / 2,
            static_cast<double>(window.y) + static_cast<double>(window.height) / 2};
}

std::int64_t pageFor(const std::optional<WindowInfo>& window) {
    if (!window) return pageWithoutWindow;
    return static_cast<std::int64_t>(pageOfWindow * static_cast<double>(window->height));
}

std::optional<std::string> nonEmpty(const std::string& text) {
    if (text.empty()) return std::nullopt;
    return text;
}

} // namespace

std::optional<AXElement> Targeting::scrollTo(const Wanted& wanted, std::int32_t pid) {
    const std::string text = wanted.text.value_or("");
    const auto found = seams_.resolver.find(FindParams{
        .pid = pid, .text = wanted.text, .role = wanted.role, .limit = 9, .near = wanted.near, .unclipped = true});
    if (found.empty()) {
        log("nothing past the fold answers to " + (quote + text + quote));
        return std::nullopt;
    }
    broughtIntoView(found.front(), pid);
    log("scrolled to " + (quote + text + quote) + ", which was off screen");
    const auto there = look(wanted, pid, 9);
    if (there.empty()) return std::nullopt;
    return there.front();
}

std::vector<AXElement> Targeting::lookByScrolling(const Step& step, const std::string& target, std::int32_t pid) {
    const auto window = firstWindow(pid);
    const std::int64_t page = pageFor(window);
    const FindParams search{
        .pid = pid, .text = target, .role = step.role, .limit = 4, .near = step.near, .nth = step.nth};
    const FindParams everything{.pid = pid, .limit = 400};
    auto before = seams_.resolver.find(everything);
    for (int screens = 1; screens <= huntingScreens; ++screens) {
        checkStop();
        scrollBy(page, window);
        pause(0.4);
        auto found = seams_.resolver.find(search);
        if (!found.empty()) {
            log("found " + (quote + target + quote) + " after scrolling " + std::to_string(screens) + " screen(s)");
            return found;
        }
        // A page that no longer moves has reached its end: there is nothing further down.
        auto after = seams_.resolver.find(everything);
        if (after == before) break;
        before = std::move(after);
    }
    return {};
}

AXElement Targeting::broughtIntoView(const AXElement& element, std::int32_t pid) {
    // The browser's own controls never move with the page. An element cut off by the
    // window's edge also reads as outside the page (the visible part of it is no longer
    // the page's element), but one that reaches past the window cannot be the browser's
    // own: only an element wholly inside the window is taken for one.
    if (seams_.resolver.reader().sawWebContent() && !element.inPage) {
        const auto window = firstWindow(pid);
        if (!window || contains(frameOf(*window), frameOf(element))) return element;
    }
    AXElement latest = element;
    for (int round = 0; round < intoViewRounds; ++round) {
        const Rect frame = frameOf(latest);
        const auto scrolled = bringIntoView(frame, pid);
        if (!scrolled) break;
        if (round == 0) log("scrolling " + (quote + element.text + quote) + " into view");
        pause(scrollSettle);
        auto found = whereItWent(latest, *scrolled, frame, pid);
        if (!found) break;
        // An element that stayed where it was is at the end of what the page can scroll.
        const bool moved = frameOf(*found) != frame;
        latest = std::move(*found);
        if (!moved) break;
    }
    return latest;
}

std::optional<std::int64_t> Targeting::bringIntoView(const Rect& rect, std::int32_t pid) {
    const auto window = firstWindow(pid);
    if (!window || isFullyInView(rect, frameOf(*window))) return std::nullopt;
    const double middle = static_cast<double>(window->y) + static_cast<double>(window->height) * 0.5;
    const auto distance = static_cast<std::int64_t>(std::trunc(rect.y + rect.height / 2 - middle));
    if (std::abs(distance) <= closeEnough) return std::nullopt;
    scrollBy(distance, window);
    return distance;
}

std::optional<AXElement> Targeting::whereItWent(const AXElement& element, std::int64_t after, const Rect& from,
                                                std::int32_t pid) {
    // Unclipped, so that an element a short scroll left still past the edge is found
    // and the next round can finish the job.
    const auto found = seams_.resolver.find(FindParams{
        .pid = pid, .text = nonEmpty(element.text), .role = nonEmpty(element.role), .limit = 50, .unclipped = true});
    // Of several namesakes, the one nearest to where the scroll should have taken it:
    // the old frame moved up by the distance scrolled.
    const std::string text = AXRanking::normalise(element.text);
    const double expectedX = from.x, expectedY = from.y - static_cast<double>(after);
    std::optional<AXElement> nearest;
    double best = std::numeric_limits<double>::infinity();
    for (const auto& candidate : found) {
        if (candidate.role != element.role || AXRanking::normalise(candidate.text) != text) continue;
        const double distance = std::abs(static_cast<double>(candidate.x) - expectedX) +
                                std::abs(static_cast<double>(candidate.y) - expectedY);
        if (distance < best) {
            best = distance;
            nearest = candidate;
        }
    }
    return nearest;
}

bool Targeting::isFullyInView(const Rect& rect, const Rect& window) {
    const double y = window.y, h = window.height;
    if (rect.height >= h) return true;
    const double m = std::min(h / 6, 64.0);
    const double top = rect.y, bottom = rect.y + rect.height;
    // A small element must clear the margins, where toolbars and fixed headers sit; one
    // too tall for that is in view when it fits the window at all.
    if (rect.height < h - 2 * m) return top >= y + m && bottom <= y + h - m;
    return top >= y && bottom <= y + h;
}

void Targeting::scrollBy(std::int64_t distance, const std::optional<WindowInfo>& within) {
    checkStop();
    try {
        if (within) seams_.input.move(centreOf(*within), pointerToWindow, callbacks_.stop);
        // One gesture goes only so far; a longer distance is several, one after another,
        // so that the page ends up as far as was asked.
        std::int64_t left = distance;
        do {
            const auto piece = std::clamp(left, -Input::longestScroll, Input::longestScroll);
            seams_.input.scroll(piece, 0, scrollDuration, callbacks_.stop);
            left -= piece;
        } while (left != 0);
    } catch (const Cancelled&) {
        throw AgentError::stopped();
    }
    seams_.scrollTrace.add(distance);
}

bool Targeting::scroll(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording) {
    const auto window = firstWindow(pid);
    const std::int64_t distance = step.dy ? *step.dy : pageFor(window);
    auto noteScroll = [&] {
        if (recording) seams_.recorder.note("scroll", label, "", std::nullopt);
    };
    if (!step.target || step.target->empty()) {
        scrollBy(distance, window);
        noteScroll();
        return true;
    }
    for (int search = 0; search < plannedSearches; ++search) {
        checkStop();
        const auto found = seams_.resolver.find(FindParams{.pid = pid, .text = step.target, .limit = 1});
        if (!found.empty()) {
            if (window) {
                const auto offset = found.front().cy - (window->y + window->height / 2);
                if (std::abs(offset) > plannedSlack) scrollBy(offset, window);
            }
            noteScroll();
            return true;
        }
        scrollBy(distance, window);
    }
    seams_.scrollTrace.distrust();
    return false;
}

void Targeting::escalate(Escalation escalation, std::int32_t pid, const std::string& name) {
    switch (escalation) {
    case Escalation::restoreMinimizedWindows:
        if (seams_.resolver.windows().restoreMinimizedWindows(pid) > 0) log(name + " was minimized; restoring it");
        return;
    case Escalation::openNewWindow:
        log(name + " has no window on this desktop; opening one here");
        checkStop();
        try {
            seams_.input.newWindow(pid, callbacks_.stop);
        } catch (const Cancelled&) {
            throw AgentError::stopped();
        }
        return;
    }
}

} // namespace vanto
