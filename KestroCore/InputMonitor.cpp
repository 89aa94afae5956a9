#include "KestroCore/InputMonitor.h"

#include "KestroBase/Text.h"

namespace kestro {

namespace et = platform::event_type;
namespace ef = platform::event_field;

InputMonitor::InputMonitor(platform::EventTaps& taps, platform::MainQueue& queue)
    : taps_(taps), queue_(queue), self_(std::make_shared<InputMonitor*>(this)) {}

InputMonitor::~InputMonitor() {
    stop();
}

bool InputMonitor::start() {
    if (tap_) {
        return true;
    }
    auto tap = taps_.createTap(platform::TapPlacement::tailAppend, platform::TapOptions::listenOnly,
                               eventMask,
                               [this](std::uint32_t type, const platform::InputEvent& event) {
                                   handle(type, event);
                                   return platform::TapDecision::pass;
                               },
                               {});
    if (!tap) {
        return false;
    }
    tap_.install(std::move(tap));
    return true;
}

void InputMonitor::stop() {
    tap_.remove();
}

bool InputMonitor::readWaitingInput() {
    return tap_ && tap_->readWaitingInput();
}

platform::TapDecision InputMonitor::handle(std::uint32_t type, const platform::InputEvent& event) {
    if (type == et::tapDisabledByTimeout || type == et::tapDisabledByUserInput) {
        tap_.reenable();
        return platform::TapDecision::pass;
    }
    if (type == et::tapEnded) {
        auto ended = onEnded; // the callback may replace it
        tap_.remove();
        if (ended) {
            ended();
        }
        return platform::TapDecision::pass;
    }
    const Point location = event.location;
    Signal signal;
    switch (type) {
    case et::leftMouseDown:
        signal =
            MouseDown{location, MouseButton::left, event.integerValue(ef::mouseEventClickState)};
        break;
    case et::leftMouseUp:
        signal = MouseUp{location, MouseButton::left};
        break;
    case et::rightMouseDown:
        signal =
            MouseDown{location, MouseButton::right, event.integerValue(ef::mouseEventClickState)};
        break;
    case et::rightMouseUp:
        signal = MouseUp{location, MouseButton::right};
        break;
    case et::leftMouseDragged:
        signal = MouseDragged{location};
        break;
    case et::keyDown:
        signal = Key{static_cast<std::uint16_t>(event.integerValue(ef::keyboardEventKeycode)),
                     event.flags, characters(event)};
        break;
    case et::scrollWheel:
        signal = Scroll{location, event.doubleValue(ef::scrollWheelEventDeltaAxis2),
                        event.doubleValue(ef::scrollWheelEventDeltaAxis1)};
        break;
    default:
        return platform::TapDecision::pass;
    }
    const Key* key = std::get_if<Key>(&signal);
    constexpr std::uint64_t shortcutFlags = platform::event_flag::control |
                                            platform::event_flag::option |
                                            platform::event_flag::command;
    const bool mayMoveFocus =
        std::holds_alternative<MouseDown>(signal) ||
        (key && (!key->characters || key->characters->empty() ||
                 static_cast<unsigned char>(key->characters->front()) < 0x20 ||
                 key->characters->front() == 0x7f || (key->flags & shortcutFlags)));
    waiting_ += mayMoveFocus ? 1 : 0;
    queue_.post(
        [weak = std::weak_ptr<InputMonitor*>(self_), signal = std::move(signal), mayMoveFocus] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            (*self)->waiting_ -= mayMoveFocus ? 1 : 0;
            // A copy: the callback may replace or clear `onSignal` while it runs.
            auto callback = (*self)->onSignal;
            if (callback) {
                callback(signal);
            }
        });
    return platform::TapDecision::pass;
}

std::optional<std::string> InputMonitor::characters(const platform::InputEvent& event) {
    // At most 8 UTF-16 code units, as the platform's key string buffer holds; a character that
    // would not fit whole is left out rather than cut in half.
    constexpr std::size_t maxUnits = 8;
    std::string out;
    std::size_t units = 0;
    for (char32_t scalar : text::decodeUtf8(event.unicodeString)) {
        units += scalar > 0xFFFF ? 2 : 1;
        if (units > maxUnits) {
            break;
        }
        text::appendUtf8(out, scalar);
    }
    if (out.empty()) {
        return std::nullopt;
    }
    return out;
}

} // namespace kestro
