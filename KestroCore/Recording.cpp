#include "KestroCore/Recording.h"

#include <chrono>

namespace kestro {

double Recording::duration() const {
    if (!endedAt) {
        return 0;
    }
    // Subtracting the time points would count nanoseconds in 64 bits, which overflows for dates
    // more than 292 years apart (both can come from a stored document): take whole seconds and
    // the fractions apart.
    using namespace std::chrono;
    const auto endSeconds = floor<seconds>(*endedAt);
    const auto startSeconds = floor<seconds>(startedAt);
    const auto fraction = (*endedAt - endSeconds) - (startedAt - startSeconds);
    return static_cast<double>((endSeconds - startSeconds).count()) +
           std::chrono::duration<double>(fraction).count();
}

} // namespace kestro
