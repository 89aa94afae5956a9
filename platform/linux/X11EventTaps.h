#pragma once

#include "platform/EventTap.h"
#include "platform/MainQueue.h"

#include <functional>
#include <memory>

namespace kestro::platform::linux_x11 {

// Event taps on an X11 session.
//
// Each tap observes the server's device events through its own pair of connections: the
// RECORD extension reports every core device event as the server processes it, with the root
// position and modifier state at that moment and with key auto-repeats (XInput2 raw events
// carry neither a position nor auto-repeats), and XInput2 raw events of the master devices,
// which arrive at once, prompt the server to hand over RECORD's buffered data without waiting
// for its next flush. Events are translated by X11InputTranslator and reach the tap's callback
// on the main thread, through the main queue's file watches.
//
// X11 cannot remove an event from the stream after the fact, so an active filter reserves its
// intercepted keys in advance with passive grabs on a third connection, read by a thread of its
// own: the grab is released at once so that the key release reaches the focused window. A key
// that holds the keyboard freezes it at the press; the thread lets it go once the focus has
// moved, or after 300 ms whatever the main thread is doing. Changing the keys returns once the
// server has taken or released the grabs. Every lock-key combination is grabbed, and every
// combination of modifiers the key chord allows; a chord whose plain combination another client
// holds is refused whole (the tap still runs without it), other combinations another client
// holds are left to it. Listen-only taps never see a key press that one of these grabs took from
// the focused window. The filter's callback decides only what it reports; the grab decides what
// is consumed.
//
// While the session's screen locker is active (SessionLockWatch), taps receive no key events.
// The taps are never disabled by the system, so the tap-disabled event types never occur.
class X11EventTaps final : public EventTaps {
public:
    explicit X11EventTaps(MainQueue& queue);
    ~X11EventTaps() override;
    X11EventTaps(const X11EventTaps&) = delete;
    X11EventTaps& operator=(const X11EventTaps&) = delete;

    std::unique_ptr<EventTap> createTap(TapPlacement placement, TapOptions options,
                                        std::uint64_t eventsOfInterest, TapCallback callback,
                                        const std::vector<KeyChord>& interceptedKeys) override;

    // Whether key input is withheld from the taps now.
    bool keyInputWithheld() const;

    // Called after each X event batch a tap handled, with the time it took on the main thread
    // and the number of events it handed to its callback; for measurements.
    using CostObserver = std::function<void(double seconds, int events)>;
    void setCostObserver(CostObserver observer);

    struct Shared;

private:
    MainQueue& queue_;
    std::shared_ptr<Shared> shared_;
};

} // namespace kestro::platform::linux_x11
