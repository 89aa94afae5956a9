#pragma once

#include "KestroBase/Geometry.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace kestro::platform {

// The platform's display queries. Display ids are 32-bit and stable while a display exists.
class DisplaySource {
public:
    virtual ~DisplaySource() = default;

    // The number of active displays, or absent when the query fails.
    virtual std::optional<std::uint32_t> activeDisplayCount() = 0;
    // Up to `capacity` active display ids in the platform's order, or absent when the query
    // fails. Fewer come back when displays went away since the count was taken.
    virtual std::optional<std::vector<std::uint32_t>> activeDisplayList(std::uint32_t capacity) = 0;
    // Bounds in global points (origin at the top-left of the main display, y downwards); a zero
    // rectangle for an unknown id.
    virtual Rect bounds(std::uint32_t displayId) = 0;
    virtual bool isMain(std::uint32_t displayId) = 0;

    // The screens the user interface draws on, each with the display it shows (absent when the
    // screen names none) and its backing pixels per point.
    struct Screen {
        std::optional<std::uint32_t> displayNumber;
        double backingScaleFactor = 1.0;
    };
    virtual std::vector<Screen> screens() = 0;
};

} // namespace kestro::platform
