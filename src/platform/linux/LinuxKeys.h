#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vanto::linuxkeys {

// X keysyms are 29-bit values; Xlib's KeySym is an unsigned long.
using KeySym = unsigned long;

// The design's virtual key codes and X keysyms, both ways, from one table.
std::optional<KeySym> keysymForVirtualKey(std::uint16_t virtualKey);
std::optional<std::uint16_t> virtualKeyForKeysym(KeySym keysym);

// The keysym that types one code point: control characters become the keys that
// produce them (carriage return is Return, backspace is BackSpace…), Latin-1 is its
// own keysym, everything else is a Unicode keysym.
KeySym keysymForCodePoint(char32_t codePoint);

// The keysyms that type one grapheme, in order; a CRLF pair is one line break.
std::vector<KeySym> keysymsForText(const std::string& utf8);

} // namespace vanto::linuxkeys
