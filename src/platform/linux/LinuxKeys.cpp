#include "platform/linux/LinuxKeys.h"

#include <X11/keysym.h>
#include <utf8proc.h>

#include <array>

namespace vanto::linuxkeys {
namespace {

struct Entry {
    std::uint16_t virtualKey;
    KeySym keysym;
};

// Virtual key codes (ANSI positions) to the keysym of the key a person on Linux
// means by the same name. The design's "delete" is the key left of the backspace
// position on its keyboards, which erases backwards: BackSpace here.
//
// The command modifier becomes Control. On the design's platform command is the
// primary shortcut modifier (command-A selects all, command-N opens a window);
// on Linux desktops that role is Control's, so a demo written with cmd+a does
// what its author meant. Super would reach the window manager instead.
// Where two codes share a keysym the first one wins the way back, so Control_L
// reads back as the control key.
constexpr std::array table{
    Entry{36, XK_Return},
    Entry{48, XK_Tab},
    Entry{49, XK_space},
    Entry{51, XK_BackSpace},
    Entry{53, XK_Escape},
    Entry{123, XK_Left},
    Entry{124, XK_Right},
    Entry{125, XK_Down},
    Entry{126, XK_Up},
    Entry{24, XK_equal},
    Entry{27, XK_minus},
    Entry{43, XK_comma},
    Entry{47, XK_period},
    Entry{44, XK_slash},
    Entry{0, XK_a},
    Entry{1, XK_s},
    Entry{2, XK_d},
    Entry{3, XK_f},
    Entry{4, XK_h},
    Entry{5, XK_g},
    Entry{6, XK_z},
    Entry{7, XK_x},
    Entry{8, XK_c},
    Entry{9, XK_v},
    Entry{11, XK_b},
    Entry{12, XK_q},
    Entry{13, XK_w},
    Entry{14, XK_e},
    Entry{15, XK_r},
    Entry{16, XK_y},
    Entry{17, XK_t},
    Entry{18, XK_1},
    Entry{19, XK_2},
    Entry{20, XK_3},
    Entry{21, XK_4},
    Entry{22, XK_6},
    Entry{23, XK_5},
    Entry{25, XK_9},
    Entry{26, XK_7},
    Entry{28, XK_8},
    Entry{29, XK_0},
    Entry{31, XK_o},
    Entry{32, XK_u},
    Entry{34, XK_i},
    Entry{35, XK_p},
    Entry{37, XK_l},
    Entry{38, XK_j},
    Entry{40, XK_k},
    Entry{45, XK_n},
    Entry{46, XK_m},
    Entry{33, XK_bracketleft},
    Entry{30, XK_bracketright},
    Entry{41, XK_semicolon},
    Entry{39, XK_apostrophe},
    Entry{42, XK_backslash},
    Entry{50, XK_grave},
    // modifier keys, left then right
    Entry{59, XK_Control_L},
    Entry{62, XK_Control_R},
    Entry{55, XK_Control_L},
    Entry{54, XK_Control_R},
    Entry{58, XK_Alt_L},
    Entry{61, XK_Alt_R},
    Entry{56, XK_Shift_L},
    Entry{60, XK_Shift_R},
};

} // namespace

std::optional<KeySym> keysymForVirtualKey(std::uint16_t virtualKey) {
    for (const Entry& entry : table)
        if (entry.virtualKey == virtualKey) return entry.keysym;
    return std::nullopt;
}

std::optional<std::uint16_t> virtualKeyForKeysym(KeySym keysym) {
    for (const Entry& entry : table)
        if (entry.keysym == keysym) return entry.virtualKey;
    return std::nullopt;
}

KeySym keysymForCodePoint(char32_t codePoint) {
    switch (codePoint) {
    case U'\b':
        return XK_BackSpace;
    case U'\t':
        return XK_Tab;
    case U'\n':
    case U'\r':
        return XK_Return;
    case 0x1b:
        return XK_Escape;
    case 0x7f:
        return XK_Delete;
    default:
        break;
    }
    if ((codePoint >= 0x20 && codePoint <= 0x7e) || (codePoint >= 0xa0 && codePoint <= 0xff)) return codePoint;
    return 0x01000000 | codePoint;
}

std::vector<KeySym> keysymsForText(const std::string& utf8) {
    std::vector<KeySym> keysyms;
    const auto* bytes = reinterpret_cast<const utf8proc_uint8_t*>(utf8.data());
    std::size_t offset = 0;
    utf8proc_int32_t previous = -1;
    while (offset < utf8.size()) {
        utf8proc_int32_t code = 0;
        auto length = utf8proc_iterate(bytes + offset, static_cast<utf8proc_ssize_t>(utf8.size() - offset), &code);
        if (length <= 0) { // a byte that is not UTF-8 has no key to type
            offset += 1;
            previous = -1;
            continue;
        }
        offset += static_cast<std::size_t>(length);
        if (!(code == U'\n' && previous == U'\r')) keysyms.push_back(keysymForCodePoint(static_cast<char32_t>(code)));
        previous = code;
    }
    return keysyms;
}

} // namespace vanto::linuxkeys
