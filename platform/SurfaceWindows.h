#pragma once

#include <cstdint>
#include <functional>
#include <vector>

namespace kestro::platform {

// What the application's surfaces (the frames round the screens, the pill, the palette and the
// windows) need of the window system beyond what the toolkit offers: letting clicks pass
// through a window, knowing whether translucent windows blend with what lies beneath, hearing
// when another window comes up above them, activation the window manager accepts and a place on
// every desktop. Windows are named by the toolkit's native id. Main thread only.
class SurfaceWindows {
public:
    using WindowID = std::uint64_t;

    virtual ~SurfaceWindows() = default;

    // One rectangle of a window's shape, in window coordinates.
    struct ShapeRect {
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
        bool operator==(const ShapeRect&) const = default;
    };
    // Shows only these parts of the window (none: nothing), behind the toolkit's back, so that
    // it keeps painting and sending whole areas and the window system cuts them. The rectangles
    // are y-x banded, in the order a region lists them. Sent unchecked with the toolkit's next
    // batch: the window must exist.
    virtual void setShape(WindowID window, const std::vector<ShapeRect>& rects) = 0;
    // The whole window shows again.
    virtual void clearShape(WindowID window) = 0;

    // Clicks, scrolls and hovers reach the window (true) or pass through to whatever lies
    // beneath it (false). The window must exist.
    virtual void setAcceptsInput(WindowID window, bool accepts) = 0;

    // Puts the window on top of the stack at once (the request is sent now, not with the
    // toolkit's next batch).
    virtual void raise(WindowID window) = 0;

    // Gives the window the keyboard as the answer to the user action at display server time
    // `userTime` (0: now), which focus-stealing prevention accepts. The window must be mapped.
    virtual void activate(WindowID window, std::uint32_t userTime) = 0;

    // Puts the window on every virtual desktop.
    virtual void showOnAllDesktops(WindowID window) = 0;

    // From now on calls `changed` on the main thread with true when the keyboard comes to the
    // window and false when it goes, as the display server tells it: at once, where the toolkit
    // holds a loss back a moment in case the keyboard returns, and so still counts a window
    // withdrawn and shown again in that moment as having it. A keyboard grab (a hotkey held)
    // moves nothing. Changes from before the call are not told. A new call for the window
    // replaces its callback; an empty one stops. False when the window system cannot tell: the
    // caller goes by the toolkit's focus. Called before the window is shown, so that the
    // keyboard's coming is not missed.
    virtual bool watchKeyboard(WindowID /*window*/, std::function<void(bool)> /*changed*/) {
        return false;
    }

    // Whether a compositing manager runs, so the clear parts of a translucent window show what
    // lies beneath; without one they show black and the window must be shaped to what it draws.
    virtual bool compositing() = 0;

    // Called on the main thread when a compositing manager starts or stops.
    virtual void setCompositingObserver(std::function<void()> changed) = 0;

    // Whether the pointer may have moved since the last call that answered true; true when the
    // window system cannot tell. A poller asks the pointer's place only after a true answer,
    // so a pointer at rest costs it nothing but its timer.
    virtual bool pointerMayHaveMoved() { return true; }

    // Called on the main thread when a window of another client was mapped or restacked, so
    // that windows meant to stay on top can raise themselves again.
    virtual void setRestackObserver(std::function<void()> restacked) = 0;
};

} // namespace kestro::platform
