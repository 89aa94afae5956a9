#pragma once

#include "KestroBase/Geometry.h"
#include "platform/MainQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestro::platform {

// Raw event type numbers. Backends translate their own events into these.
namespace event_type {
inline constexpr std::uint32_t leftMouseDown = 1;
inline constexpr std::uint32_t leftMouseUp = 2;
inline constexpr std::uint32_t rightMouseDown = 3;
inline constexpr std::uint32_t rightMouseUp = 4;
inline constexpr std::uint32_t mouseMoved = 5;
inline constexpr std::uint32_t leftMouseDragged = 6;
inline constexpr std::uint32_t rightMouseDragged = 7;
inline constexpr std::uint32_t keyDown = 10;
inline constexpr std::uint32_t keyUp = 11;
inline constexpr std::uint32_t flagsChanged = 12;
inline constexpr std::uint32_t scrollWheel = 22;
// Delivered to a tap's callback when the system switched the tap off.
inline constexpr std::uint32_t tapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr std::uint32_t tapDisabledByUserInput = 0xFFFFFFFF;
// Delivered once when the tap's input source is gone for good (the session's display server
// went away): nothing follows it, and enabling the tap again brings nothing back.
inline constexpr std::uint32_t tapEnded = 0xFFFFFFFD;
} // namespace event_type

// Numbers of the event fields a tap can read.
namespace event_field {
inline constexpr std::uint32_t mouseEventClickState = 1;
inline constexpr std::uint32_t keyboardEventKeycode = 9;
inline constexpr std::uint32_t scrollWheelEventDeltaAxis1 = 11; // vertical
inline constexpr std::uint32_t scrollWheelEventDeltaAxis2 = 12; // horizontal
} // namespace event_field

// Bits of an event's modifier-flags word.
namespace event_flag {
inline constexpr std::uint64_t alphaShift = 0x10000;
inline constexpr std::uint64_t shift = 0x20000;
inline constexpr std::uint64_t control = 0x40000;
inline constexpr std::uint64_t option = 0x80000;
inline constexpr std::uint64_t command = 0x100000;
inline constexpr std::uint64_t numericPad = 0x200000;
} // namespace event_flag

// Virtual key codes by key position, whatever the keyboard layout makes the key type.
namespace key_code {
inline constexpr std::uint16_t returnKey = 36;
inline constexpr std::uint16_t tab = 48;
inline constexpr std::uint16_t space = 49;
inline constexpr std::uint16_t deleteKey = 51;
inline constexpr std::uint16_t slash = 44;
inline constexpr std::uint16_t escape = 53;
inline constexpr std::uint16_t command = 55;
inline constexpr std::uint16_t shift = 56;
inline constexpr std::uint16_t capsLock = 57;
inline constexpr std::uint16_t option = 58;
inline constexpr std::uint16_t control = 59;
inline constexpr std::uint16_t rightShift = 60;
inline constexpr std::uint16_t rightOption = 61;
inline constexpr std::uint16_t rightControl = 62;
} // namespace key_code

constexpr std::uint64_t eventMaskBit(std::uint32_t type) {
    return std::uint64_t{1} << type;
}

// One input event as a tap sees it.
struct InputEvent {
    std::uint32_t type = 0;
    // Global display points: origin at the top-left of the main display, y downwards.
    Point location{0, 0};
    std::uint64_t flags = 0;
    std::int64_t clickState = 0;
    std::int64_t keyCode = 0;
    double scrollDeltaAxis1 = 0;
    double scrollDeltaAxis2 = 0;
    // The text a key press produced (UTF-8), empty when it produced none.
    std::string unicodeString;
    // The display server's time of the event in milliseconds, 0 when unknown. Windows opened in
    // answer to the event pass it on, so that the window manager sees them as wanted.
    std::uint32_t timestamp = 0;

    std::int64_t integerValue(std::uint32_t field) const;
    double doubleValue(std::uint32_t field) const;
};

// A key press that an active filter may remove from the input stream. Some platforms cannot
// decide per event and must reserve such keys in advance; the filter's callback still decides
// which of them it acts on.
struct KeyChord {
    std::uint16_t keyCode = 0;
    std::uint64_t requiredFlags = 0; // every one of these held
    std::uint64_t excludedFlags = 0; // none of these held; other modifiers do not matter
    // The key opens a window that takes the keyboard: the keys typed after it wait for that
    // window (for a short time at most) instead of going to the window that had the focus.
    bool holdsKeyboard = false;

    friend bool operator==(const KeyChord&, const KeyChord&) = default;
};

// An installed event tap (the platform's tap port). Destroying it releases it.
class EventTap {
public:
    virtual ~EventTap() = default;

    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;

    // The tap's source on the main run loop: events reach the callback, on the main thread, only
    // while the source exists and the tap is enabled. Cancel or destroy it to remove it.
    virtual std::unique_ptr<MainQueue::Token> addToMainRunLoop() = 0;

    // Hands the callback, before returning, every input event the platform had already seen
    // when this was called and has not delivered yet: whatever an application may have received
    // by then. False when that could not be made sure of in good time (a slow or lost display
    // server); some of that input may then still be on its way.
    virtual bool readWaitingInput() = 0;

    // Active filters: replaces the key presses reserved for consumption. Returns those the
    // platform refused (another client holds them), in the order given; the others are reserved.
    // A refused key is not reserved in any variant: it stays wholly the other client's.
    virtual std::vector<KeyChord> setInterceptedKeys(const std::vector<KeyChord>& keys) = 0;
};

// A tap on the main run loop, enabled; removed again by remove() or when this is destroyed.
class InstalledTap {
public:
    InstalledTap() = default;
    ~InstalledTap() { remove(); }
    InstalledTap(const InstalledTap&) = delete;
    InstalledTap& operator=(const InstalledTap&) = delete;

    // Adds a newly created tap to the main run loop and enables it.
    void install(std::unique_ptr<EventTap> tap);
    void remove();
    // What a callback does when the system switched its tap off.
    void reenable();

    EventTap* get() const { return tap_.get(); }
    EventTap* operator->() const { return tap_.get(); }
    explicit operator bool() const { return tap_ != nullptr; }

private:
    std::unique_ptr<EventTap> tap_;
    std::unique_ptr<MainQueue::Token> runLoopSource_;
};

enum class TapPlacement { headInsert, tailAppend };
enum class TapOptions { defaultFilter, listenOnly };
enum class TapDecision { pass, consume };

// The callback of a tap: the event type and the event; a listen-only tap's answer is ignored.
using TapCallback = std::function<TapDecision(std::uint32_t type, const InputEvent& event)>;

// Creates event taps at the point where the user's input enters the session.
class EventTaps {
public:
    virtual ~EventTaps() = default;

    // A tap seeing the event types whose bits are set in `eventsOfInterest`, or null when the
    // platform refuses it (no permission, no session). `interceptedKeys` applies to active
    // filters only: those another client holds are left out and the tap is made all the same;
    // setInterceptedKeys() tells which ones.
    virtual std::unique_ptr<EventTap> createTap(TapPlacement placement, TapOptions options,
                                                std::uint64_t eventsOfInterest,
                                                TapCallback callback,
                                                const std::vector<KeyChord>& interceptedKeys) = 0;
};

} // namespace kestro::platform
