#pragma once

#include "KestroBase/Geometry.h"
#include "platform/DisplaySource.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestro {

// The active displays for a recording. Stateless: every call asks the platform afresh; nothing
// is cached, thrown or logged. Main thread.
struct Displays {
    // The active displays in the platform's order; empty on any failure.
    static std::vector<DisplayInfo> all(platform::DisplaySource& source);
    // Backing pixels per point of the screen showing the display; 2.0 when no screen shows it.
    static double scale(platform::DisplaySource& source, std::uint32_t displayId);
    // The first display whose frame holds the point (half-open bounds), else the first main one,
    // else the first; none for an empty list.
    static std::optional<DisplayInfo> display(Point containing, const std::vector<DisplayInfo>& in);
};

} // namespace kestro
