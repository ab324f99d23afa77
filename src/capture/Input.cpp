#include "capture/Input.h"

#include "base/Text.h"
#include "capture/RecorderError.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <map>
#include <string_view>
#include <utility>

namespace vanto {
namespace {

// Key names to virtual key codes (ANSI layout); no function, page, home/end or
// forward-delete keys.
const std::map<std::string, std::uint16_t>& keyCodes() {
    static const std::map<std::string, std::uint16_t> table{
        {"return", 36},
        {"tab", 48},
        {"space", 49},
        {"delete", 51},
        {"escape", 53},
        {"left", 123},
        {"right", 124},
        {"down", 125},
        {"up", 126},
        {"equal", 24},
        {"minus", 27},
        {"comma", 43},
        {"period", 47},
        {"slash", 44},
        {"a", 0},
        {"s", 1},
        {"d", 2},
        {"f", 3},
        {"h", 4},
        {"g", 5},
        {"z", 6},
        {"x", 7},
        {"c", 8},
        {"v", 9},
        {"b", 11},
        {"w", 13},
        {"r", 15},
        {"t", 17},
        {"1", 18},
        {"2", 19},
        {"3", 20},
        {"4", 21},
        {"6", 22},
        {"5", 23},
        {"9", 25},
        {"7", 26},
        {"8", 28},
        {"0", 29},
        {"q", 12},
        {"e", 14},
        {"y", 16},
        {"backslash", 42},
        {"o", 31},
        {"u", 32},
        {"i", 34},
        {"p", 35},
        {"l", 37},
        {"j", 38},
        {"k", 40},
        {"n", 45},
        {"m", 46},
        {"leftbracket", 33},
        {"rightbracket", 30},
        {"semicolon", 41},
        {"quote", 39},
        {"grave", 50},
    };
    return table;
}

const std::map<std::string, std::string> punctuation{
    {"[", "leftbracket"}, {"]", "rightbracket"}, {";", "semicolon"}, {"'", "quote"},
    {"\\", "backslash"},  {"`", "grave"},        {"=", "equal"},     {"-", "minus"},
    {",", "comma"},       {".", "period"},       {"/", "slash"},
};

const std::map<std::string, std::string> aliases{
    {"enter", "return"}, {"esc", "escape"}, {"backspace", "delete"}, {"del", "delete"}};

const std::map<std::string, std::string> characters{{"return", "\r"}, {"enter", "\r"},    {"tab", "\t"}, {"space", " "},
                                                    {"delete", "\b"}, {"escape", "\x1b"}, {"n", "n"}};

const std::map<std::string, std::uint64_t> modifierNames{{"cmd", modifier::command},   {"command", modifier::command},
                                                         {"meta", modifier::command},  {"super", modifier::command},
                                                         {"shift", modifier::shift},   {"alt", modifier::option},
                                                         {"option", modifier::option}, {"opt", modifier::option},
                                                         {"ctrl", modifier::control},  {"control", modifier::control}};

// Released after a chord in this order, left key then right key.
constexpr std::array<std::pair<std::uint64_t, std::array<std::uint16_t, 2>>, 4> modifierKeys{{
    {modifier::command, {55, 54}},
    {modifier::option, {58, 61}},
    {modifier::shift, {56, 60}},
    {modifier::control, {59, 62}},
}};

constexpr std::uint16_t newWindowKey = 45; // "n"

// Calls each(cluster) for the user-perceived characters of text in order, keeping none.
template <typename Each> void forEachGrapheme(const std::string& text, Each&& each) {
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(text.data());
    size_t offset = 0;
    size_t clusterStart = 0;
    utf8proc_int32_t previous = -1;
    utf8proc_int32_t state = 0;
    while (offset < text.size()) {
        utf8proc_int32_t cp = 0;
        auto n = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(text.size() - offset), &cp);
        if (n <= 0) { // not UTF-8: the byte goes on its own rather than being lost
            if (offset > clusterStart) each(std::string_view(text).substr(clusterStart, offset - clusterStart));
            each(std::string_view(text).substr(offset, 1));
            offset += 1;
            clusterStart = offset;
            previous = -1;
            state = 0;
            continue;
        }
        bool breaks = previous >= 0 && utf8proc_grapheme_break_stateful(previous, cp, &state);
        if (breaks) {
            each(std::string_view(text).substr(clusterStart, offset - clusterStart));
            clusterStart = offset;
        }
        previous = cp;
        offset += static_cast<size_t>(n);
    }
    if (offset > clusterStart) each(std::string_view(text).substr(clusterStart, offset - clusterStart));
}
constexpr double clickHold = 0.04;
constexpr double betweenKeys = 0.06;

} // namespace

Input::Input(EventSink& sink, Clock& clock, Permissions& permissions, Pointer& pointer)
    : sink_(sink), clock_(clock), permissions_(permissions), pointer_(pointer) {}

double Input::clamped(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0) return 0;
    return std::min(seconds, 60.0);
}

double Input::eased(double p) {
    if (p < 0.5) return 4 * p * p * p;
    double q = 2 - 2 * p;
    return 1 - q * q * q / 2;
}

Input::Chord Input::chord(const std::string& keyString) {
    auto lowered = text::asciiLower(keyString);
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start <= lowered.size()) {
        auto plus = lowered.find('+', start);
        auto end = plus == std::string::npos ? lowered.size() : plus;
        if (end > start) pieces.push_back(lowered.substr(start, end - start));
        start = end + 1;
    }
    if (pieces.empty()) throw RecorderError::unknownKey(keyString);
    Chord chord;
    for (size_t i = 0; i + 1 < pieces.size(); ++i) {
        auto flag = modifierNames.find(pieces[i]);
        if (flag == modifierNames.end()) throw RecorderError::unknownKey(keyString);
        chord.flags |= flag->second;
    }
    chord.key = pieces.back();
    if (auto p = punctuation.find(chord.key); p != punctuation.end()) chord.key = p->second;
    if (auto a = aliases.find(chord.key); a != aliases.end()) chord.key = a->second;
    return chord;
}

std::optional<std::uint16_t> Input::keyCode(const std::string& name) {
    auto it = keyCodes().find(name);
    if (it == keyCodes().end()) return std::nullopt;
    return it->second;
}

void Input::requireTrust() {
    if (!permissions_.accessibilityTrusted(false)) throw RecorderError::accessibilityDenied();
}

void Input::sleep(double seconds, std::stop_token stop) {
    if (!clock_.sleep(seconds, stop)) throw Cancelled();
}

void Input::move(Point to, double duration, std::stop_token stop) {
    requireTrust();
    double effective = clamped(duration);
    Point from = pointer_.position();
    int steps = std::max(2, static_cast<int>(effective * 120));
    for (int i = 1; i <= steps; ++i) {
        double f = i == steps ? 1.0 : eased(static_cast<double>(i) / steps);
        sink_.postMouse(MouseEventType::moved, {from.x + (to.x - from.x) * f, from.y + (to.y - from.y) * f}, 0);
        sleep(effective / steps, stop);
    }
}

void Input::click(std::optional<Point> at, MouseButton button, double settle, std::stop_token stop) {
    requireTrust();
    Point point;
    if (at) {
        sleep(clamped(settle), stop);
        point = *at;
    } else {
        point = pointer_.position();
    }
    bool left = button == MouseButton::left;
    sink_.postMouse(left ? MouseEventType::leftDown : MouseEventType::rightDown, point, 1);
    // The button goes up on every way out, so no press is left held after a cancellation.
    bool held = clock_.sleep(clickHold, stop);
    sink_.postMouse(left ? MouseEventType::leftUp : MouseEventType::rightUp, point, 1);
    if (!held) throw Cancelled();
}

void Input::type(const std::string& text, double charsPerSecond, std::stop_token stop) {
    requireTrust();
    double interval = 1 / std::max(std::isnan(charsPerSecond) ? 1.0 : charsPerSecond, 1.0);
    forEachGrapheme(text, [&](std::string_view cluster) {
        std::string character(cluster);
        sink_.postKey(0, true, 0, character);
        sink_.postKey(0, false, 0, character);
        sleep(interval, stop);
    });
}

void Input::press(const std::vector<std::string>& keys, std::uint64_t holding, std::stop_token stop) {
    requireTrust();
    for (const auto& keyString : keys) {
        auto parsed = chord(keyString);
        auto code = keyCode(parsed.key);
        if (!code) throw RecorderError::unknownKey(keyString);
        std::uint64_t flags = parsed.flags | holding;
        std::optional<std::string> character;
        if (flags == 0)
            if (auto c = characters.find(parsed.key); c != characters.end()) character = c->second;
        sink_.postKey(*code, true, flags, character);
        sink_.postKey(*code, false, flags, character);
        if (flags != 0)
            for (const auto& [flag, codes] : modifierKeys)
                if (flags & flag)
                    for (auto modifierCode : codes) sink_.postFlagsChanged(modifierCode, 0);
        sleep(betweenKeys, stop);
    }
}

void Input::scroll(std::int64_t dy, std::int64_t dx, double duration, std::stop_token stop) {
    requireTrust();
    double effective = clamped(duration);
    int steps = std::max(2, static_cast<int>(effective * 60));
    double previous = 0;
    // The longest gesture, with the 60-second cap on its duration (60 wheel events a
    // second, so at most 3,600), keeps a runaway distance from flooding the desktop with
    // wheel events for minutes.
    double vertical = -static_cast<double>(std::clamp(dy, -Input::longestScroll, Input::longestScroll));
    double horizontal = static_cast<double>(std::clamp(dx, -Input::longestScroll, Input::longestScroll));
    sink_.beginScrollGesture();
    for (int i = 1; i <= steps; ++i) {
        double f = i == steps ? 1.0 : eased(static_cast<double>(i) / steps);
        auto dv = std::trunc(f * vertical) - std::trunc(previous * vertical);
        auto dh = std::trunc(f * horizontal) - std::trunc(previous * horizontal);
        sink_.postScroll(static_cast<std::int32_t>(dv), static_cast<std::int32_t>(dh));
        previous = f;
        sleep(effective / steps, stop);
    }
}

void Input::newWindow(std::int32_t pid, std::stop_token stop) {
    requireTrust();
    sink_.postKeyToProcess(pid, newWindowKey, true, modifier::command);
    sink_.postKeyToProcess(pid, newWindowKey, false, modifier::command);
    sleep(betweenKeys, stop);
}

double typingSpeed(std::optional<double> stored) {
    if (!stored || !(*stored > 0)) return 30;
    return std::clamp(std::round(*stored), 4.0, 80.0);
}

std::vector<std::string> graphemes(const std::string& text) {
    std::vector<std::string> clusters;
    forEachGrapheme(text, [&](std::string_view cluster) { clusters.emplace_back(cluster); });
    return clusters;
}

KeyTap::KeyTap(KeyListener& listener, KeyListener::Consume consume)
    : listener_(listener), consume_(std::move(consume)) {}

KeyTap::~KeyTap() {
    stop();
}

bool KeyTap::start() {
    if (running_) return true;
    running_ = listener_.start(consume_);
    return running_;
}

void KeyTap::stop() {
    if (!running_) return;
    listener_.stop();
    running_ = false;
}

} // namespace vanto
