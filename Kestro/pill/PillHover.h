#pragma once

#include "KestroBase/Geometry.h"

namespace kestro {

// The pill's hover decision, taken at every poll from the mouse position and the panel's
// frame. Rectangles and points are in the toolkit's global coordinates (origin top-left, y
// downwards). The desktop rule that a rectangle holds its minimum edges and not its maximum
// ones is stated for y upwards; flipped, a rectangle holds its left and its bottom edge and not
// its right or its top edge.
namespace PillHover {

inline constexpr double tabZoneWidth = 24;
inline constexpr double tabZoneHeight = 60;
inline constexpr double expandedSlack = 10;
inline constexpr double tipZoneHeight = 84;
inline constexpr double tipZoneRightGap = 46;

bool contains(const Rect& r, Point p);

Rect tabZone(const Rect& frame);
Rect expandedZone(const Rect& frame);
Rect tipZone(const Rect& frame);

struct Decision {
    bool expanded = false;
    bool acceptsMouse = false;
    friend bool operator==(const Decision&, const Decision&) = default;
};

// Collapsed: the tab zone at the right edge opens the pill. Open: leaving the frame grown by
// 10 points closes it. The panel takes the mouse while open, or over a shown tip.
Decision step(bool expanded, Point mouse, const Rect& frame, bool hasTip);

} // namespace PillHover
} // namespace kestro
