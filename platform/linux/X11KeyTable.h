#pragma once

#include <cstdint>
#include <vector>

namespace kestro::platform::linux_x11 {

// Key codes. X keycodes are evdev codes plus 8; the table is positional, so a key keeps its
// virtual key code whatever the layout makes it type. Keys without a counterpart get
// 0x100 + the X keycode, which no listed key uses.
std::uint16_t virtualKeyCode(std::uint32_t xKeycode);
// The X keycode of a virtual key code, 0 when there is none.
std::uint32_t xKeycodeFor(std::uint16_t virtualKeyCode);
bool isKeypadKey(std::uint16_t virtualKeyCode);

// Flags. Core X modifier masks (the state of an event) to event_flag bits: Shift, Lock (alpha
// shift), Control, Mod1 (Alt) and Mod5 (AltGr) as Option, Mod4 (Super) as Command. Mod2 (Num
// Lock) and Mod3 have no flag.
std::uint64_t flagsFromXState(std::uint32_t state);
// The other way, through the same table: the core modifier mask whose bits give `flags` (Option
// as Mod1, the Alt key). Flags without a modifier bit are left out.
std::uint32_t xStateFromFlags(std::uint64_t flags);

// The keysym that types a character: line breaks as Return, the tab as Tab, the rest by their
// Unicode keysym (the legacy one where it exists, as keymaps list them); 0 for characters no key
// types (other control characters, surrogates, non-characters).
std::uint32_t keysymForCharacter(char32_t character);

// Modifier keys, by their keysym: the flag a key holds down, and whether it locks instead.
bool isModifierKeysym(std::uint32_t keysym);
std::uint64_t flagOfModifierKeysym(std::uint32_t keysym);
bool isLockingKeysym(std::uint32_t keysym);

// The X modifier masks for which a passive grab must be made so that a key press with every
// flag of `required`, none of `excluded` and any other modifiers is caught, lock states
// included. `base` receives the masks of the key with exactly the required modifiers.
struct GrabMasks {
    std::vector<std::uint16_t> all;
    std::vector<std::uint16_t> base;
};
GrabMasks grabMasksFor(std::uint64_t required, std::uint64_t excluded);

// The X modifier bits a passive key grab compares.
inline constexpr std::uint16_t grabModifierBits = 0xFF;

} // namespace kestro::platform::linux_x11
