#pragma once

#include "capture/Input.h"
#include "platform/Clock.h"
#include "platform/EventSink.h"
#include "platform/Geometry.h"
#include "platform/MainThread.h"
#include "platform/Pointer.h"
#include "platform/Ui.h"
#include "targets/AXElement.h"
#include "targets/AXResolver.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace vanto {

// Lets the person at the keyboard point at the element a step means: a small floating
// panel asks the question and tells live what lies under the pointer; Space picks it,
// Escape lets the run decide. One picker per question.
//
// Everything the picker does happens on the main thread: the key listener's presses
// and the pointer's moves are handed there, and so is the time-out. ask() is the one
// call made from elsewhere: the task that needs the answer waits in it.
class Picker {
public:
    struct Picked {
        AXElement element;
        bool operator==(const Picked&) const = default;
    };
    // Space over nothing namable, at that screen point.
    struct Unnamed {
        Point at;
        bool operator==(const Unnamed&) const = default;
    };
    struct Cancelled {
        bool operator==(const Cancelled&) const = default;
    };
    struct TimedOut {
        bool operator==(const TimedOut&) const = default;
    };
    using Outcome = std::variant<Picked, Unnamed, Cancelled, TimedOut>;

    struct Seams {
        MainThread& mainThread;
        Clock& clock;
        Ui& ui;
        KeyListener& keys;
        Pointer& pointer;
        AXResolver& resolver;
    };
    // Where the picker's lines go. progress: the run's log (standard error, the run log
    // and whoever follows the run); record: standard error and the run log only.
    struct Log {
        std::function<void(const std::string&)> progress;
        std::function<void(const std::string&)> record;
    };

    static constexpr std::string_view hint = "Point at it and press Space — or Escape to let the run decide.";
    static constexpr std::uint16_t spaceKey = 49;
    static constexpr std::uint16_t escapeKey = 53;
    static constexpr double timeLimit = 45;
    // How often the pointer is read while the question is open.
    static constexpr double lookInterval = 0.1;
    // Containers, never answers.
    static constexpr std::array<std::string_view, 6> surfaces{"AXWindow",      "AXWebArea", "AXScrollArea",
                                                              "AXApplication", "AXSheet",   "AXDrawer"};

    Picker(Seams seams, Log log);
    ~Picker();
    Picker(const Picker&) = delete;
    Picker& operator=(const Picker&) = delete;

    // Asks the question about the application pid and waits for the answer. Called from
    // a task, never from the main thread itself (which must stay free to deliver the
    // keys). A stop requested meanwhile ends the question as cancelled. Once only.
    Outcome ask(const std::string& question, std::int32_t pid, std::stop_token stop = {});

    // The parts, main thread only.
    void refresh(std::int32_t pid);
    void look();
    Outcome whatIsUnderTheMouse(std::int32_t pid);

    static bool isSurface(std::string_view role);
    static std::optional<AXElement> smallest(Point containing, const std::vector<AXElement>& among);
    // Without the containers that only repeat the words of something inside them: a
    // button and the label in it count once, as the label. The rest keep their order.
    static std::vector<AXElement> distinct(const std::vector<AXElement>& elements);

    const std::vector<AXElement>& visible() const { return visible_; }

private:
    void open(const std::string& question, std::int32_t pid);
    bool listen(std::int32_t pid);
    void onKey(std::uint16_t code, std::int32_t pid);
    void finish(Outcome outcome);
    void tearDown();

    Seams seams_;
    Log log_;
    std::optional<KeyTap> keys_;
    std::vector<AXElement> visible_;
    std::optional<Point> lastLook_;
    std::optional<std::string> lastRead_;
    std::optional<Outcome> outcome_;
    std::stop_source answered_;
    std::atomic<bool> lookPending_ = false;
};

// The words log lines use to say where an element lies: its frame and whether it is
// part of a web page, as in "[80x24 at 600,400, browser]". Shared by every line that
// names an element it is about to act on or was shown.
std::string placeOf(const AXElement& element);

} // namespace vanto
