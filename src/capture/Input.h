#pragma once

#include "capture/MouseButton.h"
#include "platform/Clock.h"
#include "platform/EventSink.h"
#include "platform/Geometry.h"
#include "platform/Permissions.h"
#include "platform/Pointer.h"

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

namespace vanto {

// Real pointer and keyboard input, paced as a careful person would move and type.
// Every operation checks accessibility trust first and posts nothing without it;
// waits go through the clock and end with Cancelled when the stop token fires.
class Input {
public:
    struct Chord {
        std::string key;         // a key name after lower-casing and mapping
        std::uint64_t flags = 0; // modifier bits
        bool operator==(const Chord&) const = default;
    };

    Input(EventSink& sink, Clock& clock, Permissions& permissions, Pointer& pointer);

    // The effective duration of a pacing value: finite and positive, capped at 60; else 0.
    static double clamped(double seconds);
    // Ease-in-out cubic over 0...1.
    static double eased(double progress);
    // Parses one key string such as "cmd+shift+t"; unknown names throw unknownKey with
    // the string as given.
    static Chord chord(const std::string& keyString);
    // The virtual key code of a key name, if it has one.
    static std::optional<std::uint16_t> keyCode(const std::string& name);

    void move(Point to, double duration, std::stop_token stop = {});
    void click(std::optional<Point> at, MouseButton button, double settle, std::stop_token stop = {});
    void type(const std::string& text, double charsPerSecond, std::stop_token stop = {});
    void press(const std::vector<std::string>& keys, std::uint64_t holding = 0, std::stop_token stop = {});
    // The farthest one scroll gesture goes each way: a long fling on a trackpad, or a
    // few quick turns of a wheel.
    static constexpr std::int64_t longestScroll = 10000;
    // How fast a plan's steps type when the run was given no speed.
    static constexpr double planTypingSpeed = 14;

    // Scrolls by up to longestScroll points each way; a longer distance scrolls that far.
    void scroll(std::int64_t dy, std::int64_t dx, double duration, std::stop_token stop = {});
    void newWindow(std::int32_t pid, std::stop_token stop = {});

private:
    void requireTrust();
    void sleep(double seconds, std::stop_token stop);

    EventSink& sink_;
    Clock& clock_;
    Permissions& permissions_;
    Pointer& pointer_;
};

// The person's keyboard speed from the stored preference: unset or not positive
// means 30, otherwise rounded and kept within 4...80 characters a second.
double typingSpeed(std::optional<double> stored);

// Splits text into user-perceived characters (grapheme clusters).
std::vector<std::string> graphemes(const std::string& text);

// A global key listener for the picker: swallows the key presses consume asks for.
class KeyTap {
public:
    KeyTap(KeyListener& listener, KeyListener::Consume consume);
    ~KeyTap();
    KeyTap(const KeyTap&) = delete;
    KeyTap& operator=(const KeyTap&) = delete;

    bool start();
    void stop();

private:
    KeyListener& listener_;
    KeyListener::Consume consume_;
    bool running_ = false;
};

} // namespace vanto
