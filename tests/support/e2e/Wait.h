#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kestro::testing::e2e {

using Clock = std::chrono::steady_clock;

// Polls `done` every `intervalMs` until it holds or the time is up; the last answer is
// returned. The times given by the scenarios are generous: the machine may be loaded.
inline bool waitFor(const std::function<bool()>& done, double seconds, int intervalMs = 25) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        if (done()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
    return done();
}

inline double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline void settle(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace kestro::testing::e2e
