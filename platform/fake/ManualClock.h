#pragma once

#include "platform/Clock.h"

#include <atomic>
#include <chrono>

namespace kestro::platform::fake {

// A clock that moves only when the test moves it. Both clocks advance together.
class ManualClock final : public Clock {
public:
    explicit ManualClock(
        double monotonicStart = 1000.0,
        std::chrono::system_clock::time_point wallStart =
            std::chrono::system_clock::time_point(std::chrono::seconds(1780000000)))
        : monotonic_(monotonicStart), wallStart_(wallStart), monotonicStart_(monotonicStart) {}

    std::chrono::system_clock::time_point now() const override {
        return wallStart_ + wallShift_ +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(
                   std::chrono::duration<double>(monotonic_.load() - monotonicStart_));
    }
    double monotonicSeconds() const override { return monotonic_.load(); }

    void advance(double seconds) { monotonic_.store(monotonic_.load() + seconds); }
    // Moves only the wall clock, as a user or NTP changing the date would.
    void shiftWallClock(std::chrono::system_clock::duration by) { wallShift_ += by; }

private:
    std::atomic<double> monotonic_;
    std::chrono::system_clock::time_point wallStart_;
    std::chrono::system_clock::duration wallShift_{};
    double monotonicStart_;
};

} // namespace kestro::platform::fake
