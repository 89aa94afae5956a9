#include "platform/EventTap.h"

#include <cmath>

namespace kestro::platform {

namespace {
// Integer reads of a fractional field truncate; values out of range read as 0 rather than
// being undefined.
std::int64_t truncated(double value) {
    if (!std::isfinite(value) || value >= 9.2e18 || value <= -9.2e18) {
        return 0;
    }
    return static_cast<std::int64_t>(value);
}
} // namespace

std::int64_t InputEvent::integerValue(std::uint32_t field) const {
    switch (field) {
    case event_field::mouseEventClickState:
        return clickState;
    case event_field::keyboardEventKeycode:
        return keyCode;
    case event_field::scrollWheelEventDeltaAxis1:
        return truncated(scrollDeltaAxis1);
    case event_field::scrollWheelEventDeltaAxis2:
        return truncated(scrollDeltaAxis2);
    default:
        return 0;
    }
}

double InputEvent::doubleValue(std::uint32_t field) const {
    switch (field) {
    case event_field::mouseEventClickState:
        return static_cast<double>(clickState);
    case event_field::keyboardEventKeycode:
        return static_cast<double>(keyCode);
    case event_field::scrollWheelEventDeltaAxis1:
        return scrollDeltaAxis1;
    case event_field::scrollWheelEventDeltaAxis2:
        return scrollDeltaAxis2;
    default:
        return 0;
    }
}

void InstalledTap::install(std::unique_ptr<EventTap> tap) {
    remove();
    tap_ = std::move(tap);
    runLoopSource_ = tap_->addToMainRunLoop();
    tap_->setEnabled(true);
}

void InstalledTap::remove() {
    if (tap_) {
        tap_->setEnabled(false);
    }
    if (runLoopSource_) {
        runLoopSource_->cancel();
    }
    runLoopSource_.reset();
    tap_.reset();
}

void InstalledTap::reenable() {
    if (tap_) {
        tap_->setEnabled(true);
    }
}

} // namespace kestro::platform
