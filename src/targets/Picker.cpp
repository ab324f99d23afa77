#include "targets/Picker.h"

#include "base/Text.h"
#include "targets/AXRanking.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>
#include <utility>

namespace vanto {
namespace {

std::string whole(double coordinate) {
    return std::to_string(static_cast<long long>(std::trunc(coordinate)));
}

std::string position(Point at) {
    return whole(at.x) + "," + whole(at.y);
}

// In doubles: exact for any screen, and no overflow for absurd frames.
double area(const AXElement& element) {
    return static_cast<double>(element.width) * static_cast<double>(element.height);
}

Rect frameOf(const AXElement& element) {
    return {static_cast<double>(element.x), static_cast<double>(element.y), static_cast<double>(element.width),
            static_cast<double>(element.height)};
}

} // namespace

std::string placeOf(const AXElement& element) {
    return "[" + std::to_string(element.width) + "x" + std::to_string(element.height) + " at " +
           std::to_string(element.x) + "," + std::to_string(element.y) + ", " + (element.inPage ? "page" : "browser") +
           "]";
}

Picker::Picker(Seams seams, Log log) : seams_(seams), log_(std::move(log)) {}

Picker::~Picker() {
    // Only reached without a question open, or after ask() saw the panel and the
    // listener gone; stopping again is harmless.
    if (keys_) keys_->stop();
}

bool Picker::isSurface(std::string_view role) {
    return std::find(surfaces.begin(), surfaces.end(), role) != surfaces.end();
}

std::optional<AXElement> Picker::smallest(Point containing, const std::vector<AXElement>& among) {
    const AXElement* best = nullptr;
    for (const auto& element : among)
        if (contains(frameOf(element), containing) && (!best || area(element) < area(*best))) best = &element;
    if (!best) return std::nullopt;
    return *best;
}

std::vector<AXElement> Picker::distinct(const std::vector<AXElement>& elements) {
    std::vector<std::string> texts;
    texts.reserve(elements.size());
    for (const auto& element : elements) texts.push_back(AXRanking::normalise(element.text));
    std::vector<AXElement> kept;
    for (std::size_t i = 0; i < elements.size(); ++i) {
        bool redundant = false;
        for (std::size_t j = 0; j < elements.size() && !redundant; ++j)
            redundant = j != i && area(elements[j]) < area(elements[i]) &&
                        contains(frameOf(elements[i]), frameOf(elements[j])) &&
                        texts[j].find(texts[i]) != std::string::npos;
        if (!redundant) kept.push_back(elements[i]);
    }
    return kept;
}

Picker::Outcome Picker::ask(const std::string& question, std::int32_t pid, std::stop_token stop) {
    seams_.mainThread.run([&] { open(question, pid); });
    {
        // A run stopped while the question is open lets the run decide, now.
        std::stop_callback onStop(stop, [this] { seams_.mainThread.post([this] { finish(Cancelled{}); }); });
        const double deadline = seams_.clock.now() + timeLimit;
        const std::stop_token answered = answered_.get_token();
        // The pointer is read on a short timer rather than followed through a motion
        // monitor: the pointer seam answers on every desktop, X11 reports motion over
        // other clients' windows to nobody but them, and this timer is also what gives up.
        while (!answered.stop_requested()) {
            const double left = deadline - seams_.clock.now();
            if (left <= 0) {
                seams_.mainThread.run([this] { finish(TimedOut{}); });
                break;
            }
            if (!seams_.clock.sleep(std::min(lookInterval, left), answered)) break;
            if (!lookPending_.exchange(true))
                seams_.mainThread.post([this] {
                    lookPending_ = false;
                    look();
                });
        }
    }
    // Whatever was handed to the main thread for this question has run once this has,
    // and the answer was given there.
    Outcome outcome = Cancelled{};
    seams_.mainThread.run([&] { outcome = *outcome_; });
    return outcome;
}

void Picker::open(const std::string& question, std::int32_t pid) {
    refresh(pid);
    seams_.ui.showPicker(question, std::string(hint));
    if (!listen(pid)) {
        // Without Space and Escape nobody can answer: waiting would only hold the run up.
        if (log_.record) log_.record("picker: cannot listen for Space and Escape; the run decides");
        finish(Cancelled{});
        return;
    }
    look();
}

// Space and Escape are taken from whichever application has the focus, and only
// while the question is open; every other key goes on to it. The listener may call
// from a thread of its own and must be answered at once, so the press is handed to
// the main thread.
bool Picker::listen(std::int32_t pid) {
    keys_.emplace(seams_.keys, [this, pid](std::uint16_t code, const std::string&) {
        if ((code != spaceKey && code != escapeKey) || answered_.stop_requested()) return false;
        seams_.mainThread.post([this, code, pid] { onKey(code, pid); });
        return true;
    });
    return keys_->start();
}

void Picker::onKey(std::uint16_t code, std::int32_t pid) {
    if (code == escapeKey)
        finish(Cancelled{});
    else if (!outcome_) // answered already: no looking again, no lines about it
        finish(whatIsUnderTheMouse(pid));
}

void Picker::refresh(std::int32_t pid) {
    FindParams params;
    params.pid = pid;
    params.limit = std::numeric_limits<std::int64_t>::max();
    try {
        visible_ = seams_.resolver.find(params);
    } catch (const std::exception&) {
        // An application that is gone, or that may not be read, shows nothing to pick.
        visible_.clear();
    }
}

void Picker::look() {
    if (outcome_) return;
    const Point at = seams_.pointer.position();
    if (lastLook_ == at) return;
    lastLook_ = at;
    const auto under = smallest(at, visible_);
    const std::string reading =
        under ? "▸ " + under->role + " " + text::quoted(under->text) : "▸ nothing here at " + position(at);
    if (lastRead_ == reading) return;
    lastRead_ = reading;
    seams_.ui.setPickerReading(reading, UiColour::secondary);
}

Picker::Outcome Picker::whatIsUnderTheMouse(std::int32_t pid) {
    refresh(pid);
    const Point at = seams_.pointer.position();
    const auto element = smallest(at, visible_);
    if (element && !isSurface(element->role)) {
        if (log_.progress) {
            log_.progress("pointed at " + element->role + " " + text::quoted(element->text) + " " + placeOf(*element));
            log_.progress("picker: picked " + text::quoted(element->text) + " at " + position(at));
        }
        return Picked{*element};
    }
    if (log_.record)
        log_.record("picker: nothing findable under " + position(at) + " - nothing there worth remembering");
    return Unnamed{at};
}

void Picker::finish(Outcome outcome) {
    if (outcome_) return;
    outcome_ = std::move(outcome);
    // The listener is joined before the asking thread wakes: a press it handed over
    // meanwhile is then queued ahead of that thread's last call here, while this lives.
    tearDown();
    answered_.request_stop();
}

void Picker::tearDown() {
    if (keys_) keys_->stop();
    seams_.ui.hidePicker();
}

} // namespace vanto
