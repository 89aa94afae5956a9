#pragma once

#include "platform/EventTap.h"

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestro::platform::fake {

// Event taps fed by the test: `deliver` runs an event through the installed taps as the
// platform would, active filters at the head first, listen-only taps after them.
class FakeEventTaps final : public EventTaps {
public:
    struct TapState {
        TapPlacement placement = TapPlacement::tailAppend;
        TapOptions options = TapOptions::listenOnly;
        std::uint64_t mask = 0;
        TapCallback callback;
        std::vector<KeyChord> interceptedKeys;
        bool enabled = false;
        bool attached = false;
        bool released = false;
        int enableCalls = 0;
    };

    FakeEventTaps();
    ~FakeEventTaps() override;

    std::unique_ptr<EventTap> createTap(TapPlacement placement, TapOptions options,
                                        std::uint64_t eventsOfInterest, TapCallback callback,
                                        const std::vector<KeyChord>& interceptedKeys) override;

    // Creation is refused (no permission).
    bool refuseTaps = false;
    // Key presses another client holds: reserving one of them is refused (the tap is still made).
    std::vector<KeyChord> heldElsewhere;

    // Called once, at the next readWaitingInput() of any tap, then cleared: the input that
    // "arrived" meanwhile, given to deliver() from there.
    std::function<void()> arrivingWhileRead;
    // readWaitingInput() cannot make sure it has read everything.
    bool waitingInputUnreadable = false;
    int waitingInputReads = 0;

    // Runs one event through the enabled taps on the run loop whose mask has its type. True when
    // an active filter consumed it.
    bool deliver(const InputEvent& event);
    // The platform switches tap `index` off and tells its callback with `type`.
    void disableTap(std::size_t index, std::uint32_t type);
    // Every live tap's input goes away for good (the display server was lost).
    void endTaps();

    // Every tap created so far, in creation order (released ones included).
    const std::vector<std::shared_ptr<TapState>>& taps() const { return taps_; }
    std::size_t liveTapCount() const;

    // Event builders.
    static InputEvent keyDown(std::int64_t keyCode, std::uint64_t flags = 0, std::string text = {});
    static InputEvent flagsChanged(std::int64_t keyCode, std::uint64_t flags);
    static InputEvent mouse(std::uint32_t type, Point location, std::int64_t clickState = 0);
    static InputEvent scroll(Point location, double axis1, double axis2);

private:
    class Tap;
    std::vector<std::shared_ptr<TapState>> taps_;
};

} // namespace kestro::platform::fake
