#pragma once

#include "KestroBase/Geometry.h"
#include "platform/EventTap.h"
#include "platform/MainQueue.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>

namespace kestro {

// Watches the user's mouse and keyboard input while a demonstration is recorded, through a
// listen-only tap that never alters, delays or consumes input. Each observed event becomes one
// `Signal`, handed to `onSignal` in a later main-queue work item, in the order observed.
//
// Main thread only. The owner (the recorder) sets `onSignal`, calls `start()` when a recording
// begins, and `stop()` then clears `onSignal` when it ends; signals already queued when the
// callback is cleared reach nobody.
class InputMonitor {
public:
    enum class MouseButton { left, right };

    // Points are global display points: origin at the top-left of the main display, y downwards.
    struct MouseDown {
        Point point;
        MouseButton button;
        // 1 for a single press, 2 for the second press of a double click, and so on.
        std::int64_t clickCount;
    };
    struct MouseUp {
        Point point;
        MouseButton button;
    };
    // Motion with the left button held; right-button drags are not observed.
    struct MouseDragged {
        Point point;
    };
    // Scroll-wheel line deltas as the event gives them, zeros included. Positive deltaY scrolls
    // up, positive deltaX scrolls left.
    struct Scroll {
        Point point;
        double deltaX;
        double deltaY;
    };
    // A key press, auto-repeats included; modifier keys alone and key releases give none.
    struct Key {
        std::uint16_t keyCode;                 // platform::key_code values
        std::uint64_t flags;                   // the whole platform::event_flag word, unchanged
        std::optional<std::string> characters; // UTF-8 text the key produced; absent when none
    };
    // The alternatives in this order: mouseDown, mouseUp, mouseDragged, scroll, key.
    using Signal = std::variant<MouseDown, MouseUp, MouseDragged, Scroll, Key>;

    // Types the tap asks for: 1, 2, 3, 4, 6, 10 and 22.
    static constexpr std::uint64_t eventMask = 0x40045E;

    InputMonitor(platform::EventTaps& taps, platform::MainQueue& queue);
    // Removes a running tap: its callback must not outlive the monitor.
    ~InputMonitor();
    InputMonitor(const InputMonitor&) = delete;
    InputMonitor& operator=(const InputMonitor&) = delete;

    // Receiver of every signal; read when the work item runs. May be replaced or cleared at any
    // time.
    std::function<void(const Signal&)> onSignal;
    // Called once, at once, when the tap ended for good because its input went away (the
    // display server was lost); the monitor has stopped by then.
    std::function<void()> onEnded;

    // Installs the tap; true when one is running afterwards, false when the platform refused it.
    bool start();
    // Removes the tap; harmless when none is installed.
    void stop();
    bool isRunning() const { return static_cast<bool>(tap_); }
    // Input observed and queued that has not reached `onSignal` yet and may move the keyboard
    // focus or end a line of input: a button press, a key that types no printable text (Tab,
    // Return, Escape, an arrow), a key with Control, Alt or Super held. Input that came after
    // the signal being handled.
    std::size_t focusMovesWaiting() const { return waiting_; }
    // Has the tap hand over now the input the platform has seen and not delivered yet, so that
    // focusMovesWaiting() counts it too. False when that could not be made sure of, or no tap
    // runs.
    bool readWaitingInput();

private:
    platform::TapDecision handle(std::uint32_t type, const platform::InputEvent& event);
    static std::optional<std::string> characters(const platform::InputEvent& event);

    platform::EventTaps& taps_;
    platform::MainQueue& queue_;
    platform::InstalledTap tap_;
    // Queued work holds this weakly: a monitor gone before delivery drops its signals.
    std::shared_ptr<InputMonitor*> self_;
    std::size_t waiting_ = 0;
};

} // namespace kestro
