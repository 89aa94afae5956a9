#pragma once

#include "platform/Clock.h"
#include "platform/EventTap.h"
#include "platform/MainQueue.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace kestro {

// Recognises the global hotkeys anywhere on the desktop: a double tap of Control toggles
// recording, Control-/ opens the palette, Escape aborts a running cast. An active tap at the
// head of the input stream consumes Control-/ always and Escape while casting, and passes every
// other event on, the Control presses of the double tap included. Each hotkey reaches `onEvent`
// in a later main-queue work item. Main thread only.
class HotkeyEngine {
public:
    enum class Event { toggleRecording, openPalette, panic };

    // Key-down and flags-changed events.
    static constexpr std::uint64_t eventMask = 0x1400;
    static constexpr double doubleTapWindow = 0.3;

    HotkeyEngine(platform::EventTaps& taps, platform::MainQueue& queue,
                 const platform::Clock& mediaClock);
    // Removes a running tap: its callback must not outlive the engine.
    ~HotkeyEngine();
    HotkeyEngine(const HotkeyEngine&) = delete;
    HotkeyEngine& operator=(const HotkeyEngine&) = delete;

    // Receiver of every recognised hotkey; read when the work item runs.
    std::function<void(Event)> onEvent;

    // While `onEvent` runs: the display server's time of the key press that made the event
    // (0 when the platform does not say), for windows opened in answer to it.
    std::uint32_t eventTimestamp() const { return eventTimestamp_; }

    // True exactly while a cast runs; enables the Escape hotkey.
    bool isCasting() const { return isCasting_; }
    void setCasting(bool casting);

    // Installs the tap; true when one is running afterwards. Repeated calls are harmless and
    // try again to reserve a palette hotkey that was taken.
    bool start();
    // Removes the tap. The double-tap state is kept.
    void stop();
    bool isRunning() const { return static_cast<bool>(tap_); }
    // Another program holds Control-/: the tap runs without it (the double tap and Escape still
    // work), and Control-/ is left to that program rather than also opening the palette.
    bool isPaletteHotkeyTaken() const { return paletteHotkeyTaken_; }

private:
    platform::TapDecision handle(std::uint32_t type, const platform::InputEvent& event);
    void handleControlRisingEdge(std::uint32_t timestamp);
    void emit(Event event, std::uint32_t timestamp = 0);
    std::vector<platform::KeyChord> interceptedKeys() const;
    void reserveKeys();

    platform::EventTaps& taps_;
    platform::MainQueue& queue_;
    const platform::Clock& clock_;
    bool isCasting_ = false;
    std::uint32_t eventTimestamp_ = 0;
    bool paletteHotkeyTaken_ = false;
    platform::InstalledTap tap_;
    // Seconds of the monotonic media clock (since boot, so never near the initial 0 in use).
    double lastControlDownTime_ = 0;
    // The display server's time of that press, 0 when unknown or cleared.
    std::uint32_t lastControlDownStamp_ = 0;
    bool controlWasDown_ = false;
    bool sawOtherKeySinceControl_ = false;
    std::shared_ptr<HotkeyEngine*> self_;
};

} // namespace kestro
