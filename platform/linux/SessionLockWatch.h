#pragma once

#include "platform/MainQueue.h"

#include <memory>

namespace kestro::platform::linux_x11 {

// Whether the session's screen locker is active. X11 has no secure input mode: a password typed
// into the locker reaches every input observer, so key input is withheld from the taps while
// this reports true. Sources: the screen-saver services on the session bus (the freedesktop,
// GNOME, MATE, Cinnamon and Xfce interfaces, through their ActiveChanged signals) and the
// xscreensaver status property on the root window. Lockers that announce themselves through
// none of these are not seen.
//
// Main thread; D-Bus replies and signals arrive through GLib's default main context.
class SessionLockWatch {
public:
    explicit SessionLockWatch(MainQueue& queue);
    ~SessionLockWatch();
    SessionLockWatch(const SessionLockWatch&) = delete;
    SessionLockWatch& operator=(const SessionLockWatch&) = delete;

    bool active() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

} // namespace kestro::platform::linux_x11
