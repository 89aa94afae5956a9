#pragma once

#include "platform/MainQueue.h"
#include "platform/SyntheticInput.h"
#include "platform/linux/XConnection.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

namespace kestro::platform::linux_x11 {

// Synthetic input through the XTest extension, on a connection of its own.
//
// Mouse events move the pointer to the event's location (global points turned into root pixels
// at the main monitor's origin) and press or release button 1 or 3; X has no click state, so the
// receiving application counts a double click from the two presses' timing, as it does for a
// real mouse. Key events go through the same key-code and flag tables as the input tap: the
// modifier keys of the flags are pressed before the key and released after it (a locking key
// never is). Text is typed by keysym: with the key and Shift level of the current layout that
// types it when the keyboard is in its first group without locked or held modifiers, otherwise
// with a key code that has no symbols, given the character's keysym for the time of the press.
// Caps Lock would turn either into a capital letter, so it is switched off for the press of each
// character and on again after its release.
// Several characters get several such key codes, so an application that reads the changed
// keymap late still finds each one; they get their empty mapping back `restoreDelaySeconds`
// after the last typed key is released (through the main queue, never waiting on the main
// thread), or at once when this object is destroyed. When a text needs more of them than the
// keyboard has spare, a lent one is taken back for another character only once its own last
// release is `restoreDelaySeconds` old, as for the restore; until then that character and every
// event after it wait, in order, on the main queue (whenPosted tells when they are all out).
// cancelPending drops them; the keys their dropped releases would have let go are released, and
// the lent key codes get their mappings back as after typing.
class X11SyntheticInput final : public SyntheticInput {
public:
    explicit X11SyntheticInput(MainQueue& queue, const char* displayName = nullptr,
                               double restoreDelaySeconds = 0.5);
    ~X11SyntheticInput() override;
    X11SyntheticInput(const X11SyntheticInput&) = delete;
    X11SyntheticInput& operator=(const X11SyntheticInput&) = delete;

    // Whether the display and its XTest extension answered.
    bool ok() const { return ok_; }

    void post(const InputEvent& event) override;
    void whenPosted(std::function<void()> done) override;
    void cancelPending() override;

    // Gives every borrowed key code its own mapping back now.
    void restoreKeyboardMapping();
    // How many key codes are lent to characters at the moment.
    std::size_t remappedKeyCount() const { return remapped_.size(); }

private:
    struct Key {
        std::uint8_t keycode = 0;
        bool shift = false;
    };
    struct Held {
        std::uint8_t keycode = 0;
        std::vector<std::uint8_t> modifiers; // pressed for it, in press order
        bool relockCaps = false;             // Caps Lock was on and is turned back on after it
    };
    using SteadyClock = std::chrono::steady_clock;
    struct Remap {
        std::uint32_t keysym = 0;
        std::vector<std::uint32_t> original;
        SteadyClock::time_point releasedAt; // of its last character; while held, not lendable
    };

    // Posts the events held back, from the first, until one has to wait again.
    void drain();
    // Posts one event; or, when it has to wait, the seconds to wait, with the part of its text
    // already posted taken off.
    double postOne(InputEvent& event);
    void postMouse(const InputEvent& event);
    void postKey(const InputEvent& event, bool press);
    double postText(InputEvent& event, bool press);
    void fake(std::uint8_t type, std::uint8_t detail, std::int16_t x = 0, std::int16_t y = 0);
    void release(const Held& held);
    void releaseAll();

    void refreshKeyboard();
    std::optional<Key> keyOnLayout(std::uint32_t keysym) const;
    struct KeyboardState {
        bool capsLocked = false;
        bool plain = false; // first group, no other modifier held or locked
    };
    KeyboardState keyboardState();
    // A key code given `keysym`; 0 when it has to wait (`wait` seconds) or none can be had.
    std::uint8_t lend(std::uint32_t keysym, double& wait);
    std::uint8_t modifierKey(std::uint32_t maskBit) const;
    std::uint32_t keysymAt(std::uint8_t keycode, int column) const;
    void scheduleRestore();

    XConnection x_;
    MainQueue& queue_;
    double restoreDelay_;
    bool ok_ = false;
    bool xkb_ = false;

    // The core keyboard and modifier mappings as last read, kept up to date with our own changes.
    bool keyboardStale_ = true;
    std::uint8_t minKeycode_ = 8;
    std::uint8_t maxKeycode_ = 255;
    std::uint8_t perCode_ = 0;
    std::vector<std::uint32_t> keysyms_;
    std::array<std::vector<std::uint8_t>, 8> modifierKeys_;

    std::map<std::uint8_t, Remap> remapped_;
    std::multimap<std::uint16_t, Held> heldKeys_;
    std::multimap<char32_t, Held> heldText_;

    std::optional<RootOrigin> origin_;
    std::optional<std::pair<int, int>> pointer_;

    std::uint64_t restoreGeneration_ = 0;
    // Events given but not yet posted, and who waits for them to be out.
    std::deque<InputEvent> pending_;
    std::uint64_t drainGeneration_ = 0; // a drain on the queue from before a cancel posts nothing
    std::vector<std::function<void()>> whenPosted_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace kestro::platform::linux_x11
