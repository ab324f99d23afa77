#pragma once

#include "capture/Input.h"
#include "capture/Pixels.h"
#include "capture/Recorder.h"
#include "plan/Step.h"
#include "platform/Accessibility.h"
#include "platform/Clock.h"
#include "platform/Geometry.h"
#include "platform/WindowServer.h"
#include "targets/AXElement.h"
#include "targets/AXResolver.h"
#include "targets/Correction.h"
#include "targets/CorrectionStore.h"
#include "targets/Focus.h"
#include "targets/Picker.h"
#include "targets/ScrollTrace.h"
#include "targets/WindowList.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

namespace vanto {

// Turns a step's words into a click that provably did something, and owns every scroll
// made toward a target: it gathers candidates (waiting for them, hunting by scrolling),
// narrows them to what the step meant, asks the person when several remain and
// remembers the answer, then tries the candidates best first, proving after each click
// that a value flipped, focus moved or the window changed.
//
// One per run (or per question asked outside a run); it holds nothing between calls
// but its seams and callbacks. Every wait goes through the clock, and every waiting
// loop asks whether to stop first and then fails with AgentError::stopped.
class Targeting {
public:
    // What searching and scrolling carry around: the words of a target, and what an
    // earlier answer adds to them.
    struct Wanted {
        std::optional<std::string> text;
        std::optional<std::string> role;
        std::optional<std::string> near;
        std::optional<std::int64_t> nth;
        // The exact words the element must carry when the target came from an answer.
        std::optional<std::string> heldTo;
        // Inside web page content (true) or outside it (false); absent: either.
        std::optional<bool> side;
        std::optional<std::string> identity;
        bool operator==(const Wanted&) const = default;

        static Wanted from(const Step& step);
        static Wanted from(const Correction& correction);

        // Whether an element carries what an answer held the target to: the remembered
        // identity, the same words, or words that begin with them (below). Without heldTo
        // every element does.
        bool accepts(const AXElement& element) const;
        // A control whose words begin with the held words and a space ("Save" for "Save
        // draft"), on the wanted side of the page when that is known.
        bool acceptsByPrefix(const AXElement& element) const;
    };

    // An application's window at one moment: every element of a snapshot as
    // "role:text" joined with "|", and a picture of its first on-screen window.
    struct Fingerprint {
        std::string signature;
        std::optional<std::vector<std::uint8_t>> image;
        bool operator==(const Fingerprint&) const = default;
    };

    struct Attempt {
        enum class Outcome {
            clicked,  // the click had a visible effect
            missed,   // something else answers at the point; nothing was clicked
            noEffect, // clicked, nothing changed
        };
        struct Params {
            AXElement candidate;
            Step step;
            std::int32_t pid = 0;
            std::optional<std::string> label; // the step's label, for the capture event
            bool recording = false;
            bool checkingReach = false; // test that the point reaches the element first
        };
    };

    // The chosen elements (normally one), or nobody answered: then the caller falls
    // back to the plan's first candidate.
    struct Resolution {
        std::vector<AXElement> chosen;
        bool nobodyAnswered = false;
        // Chosen by an answer remembered before this step, not by a look or a question now.
        bool fromMemory = false;
        bool operator==(const Resolution&) const = default;
    };

    enum class Escalation { restoreMinimizedWindows, openNewWindow };

    struct Seams {
        AXResolver& resolver;
        Input& input;
        Clock& clock;
        Accessibility& accessibility; // the applications' identifiers
        WindowServer& windows;
        Pixels& pixels;
        Recorder& recorder;
        CorrectionStore& corrections;
        ScrollTrace& scrollTrace;
    };
    struct Callbacks {
        // One progress line: the run's log (standard error, the run log, the follower).
        std::function<void(const std::string&)> log;
        // Whether the run was asked to stop; absent: only the stop token says so.
        std::function<bool()> stopped;
        // Asks the person which element the question means; absent: nobody to ask.
        std::function<Picker::Outcome(const std::string& question, std::int32_t pid)> ask;
        std::stop_token stop;
    };

    // Patience when a caller gives none, in seconds.
    static constexpr double defaultPatience = 10;
    static constexpr double pollInterval = 0.25;

    Targeting(Seams seams, Callbacks callbacks);

    // Clicking.
    bool click(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording);
    std::vector<AXElement> candidates(const Step& step, std::int32_t pid, std::optional<double> patience, bool hunting);
    std::vector<AXElement> meant(std::vector<AXElement> candidates, const Step& step);
    Attempt::Outcome attempt(const Attempt::Params& params);
    Point aim(const AXElement& element, std::int32_t pid);
    std::optional<Point> reaim(const Step& step, std::int32_t pid, const AXElement& candidate, Point from);
    Fingerprint snapshot(std::int32_t pid);
    bool changed(const Fingerprint& before, std::int32_t pid, double within);
    void settle(std::int32_t pid);
    bool waitForFocusToMove(const std::optional<Focus>& before, std::int32_t pid, double within);
    static bool focusMoved(const std::optional<Focus>& before, const Focus& after);
    bool flipped(Point at, std::int32_t pid, const std::optional<std::string>& before);
    bool clickBack(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording);
    static bool samePage(std::string_view a, std::string_view b);
    static std::string kind(std::string_view role);

    // Which one, and remembered answers.
    Resolution whichOne(const Step& step, std::int32_t pid, const std::vector<AXElement>& among, bool recording);
    // The steps with remembered answers for pid's application applied, in their order.
    std::vector<Step> answered(std::vector<Step> steps, std::int32_t pid);
    static std::optional<AXElement> answering(const Correction& correction, const std::vector<AXElement>& elements);
    std::vector<AXElement> look(const Wanted& wanted, std::int32_t pid, std::int64_t limit);
    std::vector<AXElement> stableMatches(const Step& step, std::int32_t pid, const std::optional<std::string>& text);
    std::optional<AXElement> backToWhereItWasShown(const Correction& correction, std::int32_t pid);
    std::optional<std::string> anchorText(const AXElement& element, std::int32_t pid);
    std::optional<std::int64_t> ordinal(const AXElement& element, std::int32_t pid);
    static std::string answerKey(const Step& step);
    static std::string asking(const Step& step);

    // Scrolling toward targets.
    std::optional<AXElement> scrollTo(const Wanted& wanted, std::int32_t pid);
    std::vector<AXElement> lookByScrolling(const Step& step, const std::string& target, std::int32_t pid);
    AXElement broughtIntoView(const AXElement& element, std::int32_t pid);
    // The distance scrolled, or none when nothing was.
    std::optional<std::int64_t> bringIntoView(const Rect& rect, std::int32_t pid);
    std::optional<AXElement> whereItWent(const AXElement& element, std::int64_t after, const Rect& from,
                                         std::int32_t pid);
    static bool isFullyInView(const Rect& rect, const Rect& window);
    void scrollBy(std::int64_t distance, const std::optional<WindowInfo>& within);
    // The planned scroll step: whether it ended where it wanted.
    bool scroll(const Step& step, std::int32_t pid, const std::optional<std::string>& label, bool recording);
    void escalate(Escalation escalation, std::int32_t pid, const std::string& name);

    // Shared parts.
    // The process's first window in the on-screen window list.
    std::optional<WindowInfo> firstWindow(std::int32_t pid);
    // The application's stable identifier, under which its answers are remembered.
    std::optional<std::string> applicationID(std::int32_t pid);
    // Throws AgentError::stopped when the run was asked to stop.
    void checkStop();
    // Sleeps through the clock; a stop during the sleep throws AgentError::stopped.
    void pause(double seconds);
    void log(const std::string& line);

private:
    Seams seams_;
    Callbacks callbacks_;
};

} // namespace vanto
