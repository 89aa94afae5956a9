#include "KestroCore/HotkeyEngine.h"

#include <algorithm>
#include <array>

namespace kestro {

namespace et = platform::event_type;
namespace ef = platform::event_field;
namespace flag = platform::event_flag;

namespace {
constexpr std::array<std::int64_t, 2> controlKeyCodes = {platform::key_code::control,
                                                         platform::key_code::rightControl};
constexpr std::int64_t slashKeyCode = platform::key_code::slash;
constexpr std::int64_t escapeKeyCode = platform::key_code::escape;
// Control-/ without Command, whatever else is held. What is typed right after it is meant for
// the palette's query.
constexpr platform::KeyChord paletteChord{platform::key_code::slash, flag::control, flag::command,
                                          true};
} // namespace

HotkeyEngine::HotkeyEngine(platform::EventTaps& taps, platform::MainQueue& queue,
                           const platform::Clock& mediaClock)
    : taps_(taps), queue_(queue), clock_(mediaClock), self_(std::make_shared<HotkeyEngine*>(this)) {
}

HotkeyEngine::~HotkeyEngine() {
    stop();
}

std::vector<platform::KeyChord> HotkeyEngine::interceptedKeys() const {
    std::vector<platform::KeyChord> keys{paletteChord};
    if (isCasting_) {
        keys.push_back({platform::key_code::escape, 0, 0});
    }
    return keys;
}

void HotkeyEngine::reserveKeys() {
    const std::vector<platform::KeyChord> refused = tap_->setInterceptedKeys(interceptedKeys());
    paletteHotkeyTaken_ = std::find(refused.begin(), refused.end(), paletteChord) != refused.end();
    // A refused Escape still reaches the front application as well; the panic is still
    // reported.
}

void HotkeyEngine::setCasting(bool casting) {
    if (casting == isCasting_) {
        return;
    }
    isCasting_ = casting;
    // Where keys are reserved in advance, Escape is reserved only while a cast runs.
    if (tap_) {
        reserveKeys();
    }
}

bool HotkeyEngine::start() {
    if (tap_) {
        if (paletteHotkeyTaken_) {
            reserveKeys(); // the other program may have let it go
        }
        return true;
    }
    auto tap = taps_.createTap(platform::TapPlacement::headInsert,
                               platform::TapOptions::defaultFilter, eventMask,
                               [this](std::uint32_t type, const platform::InputEvent& event) {
                                   return handle(type, event);
                               },
                               {});
    if (!tap) {
        return false;
    }
    tap_.install(std::move(tap));
    // A hotkey another program holds is left to it; the tap runs without it.
    reserveKeys();
    return true;
}

void HotkeyEngine::stop() {
    tap_.remove();
}

platform::TapDecision HotkeyEngine::handle(std::uint32_t type, const platform::InputEvent& event) {
    if (type == et::tapDisabledByTimeout || type == et::tapDisabledByUserInput) {
        tap_.reenable();
        return platform::TapDecision::pass;
    }
    if (type == et::tapEnded) {
        tap_.remove(); // its input is gone; a later start() makes a new one
        return platform::TapDecision::pass;
    }
    const std::int64_t keyCode = event.integerValue(ef::keyboardEventKeycode);
    const std::uint64_t flags = event.flags;
    if (type == et::keyDown) {
        sawOtherKeySinceControl_ = true;
        if (keyCode == slashKeyCode && (flags & flag::control) != 0 &&
            (flags & flag::command) == 0 && !paletteHotkeyTaken_) {
            emit(Event::openPalette, event.timestamp);
            return platform::TapDecision::consume;
        }
        if (keyCode == escapeKeyCode && isCasting_) {
            emit(Event::panic, event.timestamp);
            return platform::TapDecision::consume;
        }
        return platform::TapDecision::pass;
    }
    if (type == et::flagsChanged && std::find(controlKeyCodes.begin(), controlKeyCodes.end(),
                                              keyCode) != controlKeyCodes.end()) {
        const bool controlDown = (flags & flag::control) != 0;
        if (controlDown && !controlWasDown_) {
            handleControlRisingEdge(event.timestamp);
        }
        controlWasDown_ = controlDown;
    }
    return platform::TapDecision::pass;
}

void HotkeyEngine::handleControlRisingEdge(std::uint32_t timestamp) {
    const double now = clock_.monotonicSeconds();
    // The presses' own times where the platform gives them: the main thread may read the second
    // press late (a busy machine, a slow accessibility reply), or both at once after a stall.
    const bool quick =
        timestamp != 0 && lastControlDownStamp_ != 0
            ? std::uint32_t(timestamp - lastControlDownStamp_) < doubleTapWindow * 1000
            : now - lastControlDownTime_ < doubleTapWindow;
    if (quick && !sawOtherKeySinceControl_) {
        emit(Event::toggleRecording);
        lastControlDownTime_ = 0;
        lastControlDownStamp_ = 0;
    } else {
        lastControlDownTime_ = now;
        lastControlDownStamp_ = timestamp;
    }
    sawOtherKeySinceControl_ = false;
}

void HotkeyEngine::emit(Event event, std::uint32_t timestamp) {
    queue_.post([weak = std::weak_ptr<HotkeyEngine*>(self_), event, timestamp] {
        HotkeyEngine* engine = nullptr;
        if (auto self = weak.lock()) {
            engine = *self;
        } else {
            return;
        }
        auto callback = engine->onEvent;
        if (!callback) {
            return;
        }
        engine->eventTimestamp_ = timestamp;
        callback(event);
        // The callback may have destroyed the engine.
        if (!weak.expired()) {
            engine->eventTimestamp_ = 0;
        }
    });
}

} // namespace kestro
