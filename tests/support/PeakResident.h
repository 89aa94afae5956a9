#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace kestro::testing {

struct PeakGrowth {
    double bytes = -1; // -1 when the child gave no figure
    std::size_t textBytes = 0;
};

// How far the resident peak rises while `read` takes the text `make` gives. Both run in a
// forked child whose peak is reset (clear_refs) just before the reading, so nothing the caller
// holds or the allocator kept from before counts. A child that exits early gives no figure.
PeakGrowth peakGrowthOfReading(const std::function<std::string()>& make,
                               const std::function<void(std::string)>& read);

} // namespace kestro::testing
