#pragma once

#include "KestroBase/Geometry.h"

#include <optional>

namespace kestro::platform::linux_x11 {

// Where an application's accessible positions lie in root pixels. Most toolkits report root
// pixels; GTK 4 reports positions relative to its window (it keeps no global coordinates), and
// a scaled application (Qt's or GTK's scale factor) its logical pixels. One window's reported
// rectangle and its X window's place give the mapping for everything in that window.
struct AccessibleSpace {
    Point reported{0, 0}; // a corner of the window as the application reports it ...
    Point root{0, 0};     // ... and the same corner in root pixels
    double scale = 1;     // root pixels per reported pixel

    bool identity() const { return scale == 1 && reported == root; }
    // Rounded outwards, so that a box never comes out smaller than what it covers.
    Rect toRoot(const Rect& r) const;
    Point toReported(Point rootPixel) const;
};

// The space in which `reported` (an accessible window's extents, as its application gave them)
// is the X window rectangle `actual` (root pixels): the same rectangle give or take a pixel, or
// one of another scale, reported either at the window's place scaled or at the origin (relative
// to the window). Nothing when neither fits: then that accessible window is not that X window.
std::optional<AccessibleSpace> spaceOnto(const Rect& reported, const Rect& actual);

} // namespace kestro::platform::linux_x11
