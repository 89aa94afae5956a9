#include "platform/Clock.h"

#include <time.h>

namespace kestro::platform {

std::chrono::system_clock::time_point SystemClock::now() const {
    return std::chrono::system_clock::now();
}

double SystemClock::monotonicSeconds() const {
    // CLOCK_MONOTONIC counts from boot, so a start-up value is never near 0.
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

} // namespace kestro::platform
