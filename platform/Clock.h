#pragma once

#include <chrono>

namespace kestro::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Calendar time, for the dates that are stored.
    virtual std::chrono::system_clock::time_point now() const = 0;
    // Seconds since boot on a clock that never jumps; timing rules and offsets use it.
    virtual double monotonicSeconds() const = 0;
};

// The process's real clocks.
class SystemClock final : public Clock {
public:
    std::chrono::system_clock::time_point now() const override;
    double monotonicSeconds() const override;
};

} // namespace kestro::platform
