#pragma once

#include "platform/EventTap.h"

#include <functional>

namespace kestro::platform {

// Posts synthetic input where the user's devices enter the session, so that the application in
// front receives it as if it were typed or clicked. Events speak the taps' vocabulary: the type
// number, the location in global points, the click state, the virtual key code and the flags, and
// for a key event that carries text, that text instead of a key. Main thread only.
class SyntheticInput {
public:
    virtual ~SyntheticInput() = default;

    // Posts one event, after the ones given before it, without waiting for anyone to receive it:
    // - mouseMoved, left/right mouse down and up at `location` (the click state tells a second
    //   press of a double click);
    // - keyDown and keyUp of `keyCode` with the modifier keys of `flags` held around it;
    // - keyDown and keyUp carrying `unicodeString`: that text, whatever key the layout has for it
    //   (`keyCode` and `flags` are then ignored).
    // Events the platform cannot express (another type, a key code it has no key for, a location
    // outside what it can address) are dropped silently. Normally an event is out when this
    // returns; a platform that must first give the receiving application time to take in earlier
    // ones holds it, and the ones after it, back and posts them later from the main queue.
    virtual void post(const InputEvent& event) = 0;

    // Calls `done` on the main thread once every event given so far is posted: at once when
    // nothing is held back.
    virtual void whenPosted(std::function<void()> done) { done(); }

    // Drops every event given but not yet posted and lets go of every key still held down by
    // earlier ones, so that nothing more reaches the application in front. Whoever waits in
    // whenPosted is called before this returns: nothing is left to wait for.
    virtual void cancelPending() {}
};

} // namespace kestro::platform
