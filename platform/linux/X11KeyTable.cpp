#include "platform/linux/X11KeyTable.h"

#include "platform/EventTap.h"

#include <X11/X.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <utility>

namespace kestro::platform::linux_x11 {

namespace flag = platform::event_flag;

namespace {

// X keycode → virtual key code.
constexpr std::pair<std::uint8_t, std::uint16_t> keyPairs[] = {
    {38, 0},    {39, 1},    {40, 2},    {41, 3},    {43, 4},    {42, 5},   {52, 6},    {53, 7},
    {54, 8},    {55, 9},    {94, 10},   {56, 11},   {24, 12},   {25, 13},  {26, 14},   {27, 15},
    {29, 16},   {28, 17},   {10, 18},   {11, 19},   {12, 20},   {13, 21},  {15, 22},   {14, 23},
    {21, 24},   {18, 25},   {16, 26},   {20, 27},   {17, 28},   {19, 29},  {35, 30},   {32, 31},
    {30, 32},   {34, 33},   {31, 34},   {33, 35},   {36, 36},   {46, 37},  {44, 38},   {48, 39},
    {45, 40},   {47, 41},   {51, 42},   {59, 43},   {61, 44},   {57, 45},  {58, 46},   {60, 47},
    {23, 48},   {65, 49},   {49, 50},   {22, 51},   {9, 53},    {134, 54}, {133, 55},  {50, 56},
    {66, 57},   {64, 58},   {37, 59},   {62, 60},   {108, 61},  {105, 62}, {195, 64},  {91, 65},
    {63, 67},   {86, 69},   {77, 71},   {123, 72},  {122, 73},  {121, 74}, {106, 75},  {104, 76},
    {82, 78},   {196, 79},  {197, 80},  {125, 81},  {90, 82},   {87, 83},  {88, 84},   {89, 85},
    {83, 86},   {84, 87},   {85, 88},   {79, 89},   {198, 90},  {80, 91},  {81, 92},   {132, 93},
    {97, 94},   {103, 95},  {71, 96},   {72, 97},   {73, 98},   {69, 99},  {74, 100},  {75, 101},
    {95, 103},  {191, 105}, {194, 106}, {192, 107}, {76, 109},  {96, 111}, {193, 113}, {118, 114},
    {110, 115}, {112, 116}, {119, 117}, {70, 118},  {115, 119}, {68, 120}, {117, 121}, {67, 122},
    {113, 123}, {114, 124}, {116, 125}, {111, 126},
};

struct Tables {
    std::array<std::uint16_t, 256> toVirtual{};
    std::array<std::uint8_t, 128> toX{};
};

constexpr Tables makeTables() {
    Tables t{};
    for (std::size_t x = 0; x < t.toVirtual.size(); ++x) {
        t.toVirtual[x] = static_cast<std::uint16_t>(0x100 + x);
    }
    for (const auto& [x, v] : keyPairs) {
        t.toVirtual[x] = v;
        t.toX[v] = x;
    }
    return t;
}

constexpr Tables tables = makeTables();

// Core modifier mask bit → flag.
constexpr std::pair<std::uint16_t, std::uint64_t> flagPairs[] = {
    {ShiftMask, flag::shift}, {LockMask, flag::alphaShift}, {ControlMask, flag::control},
    {Mod1Mask, flag::option}, {Mod4Mask, flag::command},    {Mod5Mask, flag::option},
};

// Modifier keysym → the flag it holds.
constexpr std::pair<std::uint32_t, std::uint64_t> modifierKeysyms[] = {
    {XK_Shift_L, flag::shift},
    {XK_Shift_R, flag::shift},
    {XK_Control_L, flag::control},
    {XK_Control_R, flag::control},
    {XK_Caps_Lock, flag::alphaShift},
    {XK_Shift_Lock, flag::alphaShift},
    {XK_Meta_L, flag::option},
    {XK_Meta_R, flag::option},
    {XK_Alt_L, flag::option},
    {XK_Alt_R, flag::option},
    {XK_Super_L, flag::command},
    {XK_Super_R, flag::command},
    {XK_Hyper_L, flag::command},
    {XK_Hyper_R, flag::command},
    {XK_ISO_Level3_Shift, flag::option},
    {XK_Mode_switch, flag::option},
};

} // namespace

std::uint16_t virtualKeyCode(std::uint32_t xKeycode) {
    return xKeycode < tables.toVirtual.size()
               ? tables.toVirtual[xKeycode]
               : static_cast<std::uint16_t>(0x100 + (xKeycode & 0xFF));
}

std::uint32_t xKeycodeFor(std::uint16_t virtualKeyCode) {
    if (virtualKeyCode < tables.toX.size()) {
        return tables.toX[virtualKeyCode];
    }
    if (virtualKeyCode >= 0x100 && virtualKeyCode < 0x200) {
        return virtualKeyCode - 0x100u;
    }
    return 0;
}

bool isKeypadKey(std::uint16_t code) {
    switch (code) {
    case 65:
    case 67:
    case 69:
    case 71:
    case 75:
    case 76:
    case 78:
    case 81:
    case 82:
    case 83:
    case 84:
    case 85:
    case 86:
    case 87:
    case 88:
    case 89:
    case 91:
    case 92:
        return true;
    default:
        return false;
    }
}

std::uint64_t flagsFromXState(std::uint32_t state) {
    std::uint64_t flags = 0;
    for (const auto& [mask, f] : flagPairs) {
        if (state & mask) {
            flags |= f;
        }
    }
    return flags;
}

std::uint32_t xStateFromFlags(std::uint64_t flags) {
    std::uint32_t state = 0;
    std::uint64_t covered = 0;
    for (const auto& [mask, f] : flagPairs) {
        // Two masks give Option; the first one listed is the one a flag turns into.
        if ((flags & f) && !(covered & f)) {
            state |= mask;
            covered |= f;
        }
    }
    return state;
}

std::uint32_t keysymForCharacter(char32_t c) {
    switch (c) {
    case U'\n':
    case U'\r':
        return XK_Return;
    case U'\t':
        return XK_Tab;
    default:
        break;
    }
    if (c < 0x20 || (c >= 0x7F && c < 0xA0) || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF ||
        (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE) {
        return 0;
    }
    return xkb_utf32_to_keysym(static_cast<std::uint32_t>(c));
}

bool isModifierKeysym(std::uint32_t keysym) {
    return (keysym >= XK_Shift_L && keysym <= XK_Hyper_R) ||
           (keysym >= XK_ISO_Lock && keysym <= XK_ISO_Level5_Lock) || keysym == XK_Mode_switch ||
           keysym == XK_Num_Lock;
}

std::uint64_t flagOfModifierKeysym(std::uint32_t keysym) {
    for (const auto& [sym, f] : modifierKeysyms) {
        if (sym == keysym) {
            return f;
        }
    }
    return 0;
}

bool isLockingKeysym(std::uint32_t keysym) {
    return keysym == XK_Caps_Lock || keysym == XK_Shift_Lock || keysym == XK_Num_Lock;
}

GrabMasks grabMasksFor(std::uint64_t required, std::uint64_t excluded) {
    // The modifiers a user may hold besides the required ones; Num Lock and Caps Lock states are
    // covered by grabbing each combination of them too.
    constexpr std::uint16_t free[] = {ShiftMask, ControlMask, Mod1Mask, Mod4Mask, Mod5Mask};
    constexpr std::uint16_t locks[] = {0, LockMask, Mod2Mask, LockMask | Mod2Mask};
    GrabMasks masks;
    for (unsigned subset = 0; subset < (1u << std::size(free)); ++subset) {
        std::uint16_t mods = 0;
        for (std::size_t i = 0; i < std::size(free); ++i) {
            if (subset & (1u << i)) {
                mods = static_cast<std::uint16_t>(mods | free[i]);
            }
        }
        const std::uint64_t flags = flagsFromXState(mods);
        if ((flags & required) != required || (flags & excluded) != 0) {
            continue;
        }
        for (std::uint16_t lock : locks) {
            const auto m = static_cast<std::uint16_t>(mods | lock);
            masks.all.push_back(m);
            if (flags == required) {
                masks.base.push_back(m);
            }
        }
    }
    return masks;
}

} // namespace kestro::platform::linux_x11
