#pragma once

#include "platform/Geometry.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace vanto {

// Modifier flag bits, as the design's event flags give them.
namespace modifier {
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t control = 0x40000;
} // namespace modifier

enum class MouseEventType { moved, leftDown, leftUp, rightDown, rightUp };

// Where synthetic input goes: exactly the events the input layer posts, in the
// vocabulary of virtual key codes and modifier flags. Backends translate.
class EventSink {
public:
    virtual ~EventSink() = default;

    // A pointer event at a global point; clickState is 1 for button events, 0 for moves.
    virtual void postMouse(MouseEventType type, Point at, int clickState) = 0;

    // A key going down or up. With flags set the modifiers count as held for this key
    // only; text, when present, is the exact character (one grapheme, UTF-8) the event carries.
    virtual void postKey(std::uint16_t virtualKey, bool down, std::uint64_t flags,
                         const std::optional<std::string>& text) = 0;

    // A modifier key's flags-changed event; with empty flags it releases that modifier.
    virtual void postFlagsChanged(std::uint16_t virtualKey, std::uint64_t flags) = 0;

    // A pixel scroll of wheel 1 (vertical) and wheel 2 (horizontal), signed as a scroll
    // wheel reports them: a negative vertical amount moves towards the end of the content.
    virtual void postScroll(std::int32_t vertical, std::int32_t horizontal) = 0;
    // The scrolls posted from here on are one new gesture, owing nothing to the last one.
    // Sinks that post pixel amounts as they come need not care.
    virtual void beginScrollGesture() {}

    // A key event delivered to one process only.
    virtual void postKeyToProcess(std::int32_t pid, std::uint16_t virtualKey, bool down, std::uint64_t flags) = 0;
};

// A global key listener that may swallow key presses.
class KeyListener {
public:
    virtual ~KeyListener() = default;

    // consume gets the key's virtual code and the characters it produced, and returns
    // true to swallow the press. False when the listener cannot be installed.
    using Consume = std::function<bool(std::uint16_t code, const std::string& characters)>;
    virtual bool start(Consume consume) = 0;
    // Safe to call twice.
    virtual void stop() = 0;
};

} // namespace vanto
