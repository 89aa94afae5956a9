#pragma once

#include "KestroBase/Geometry.h"
#include "platform/linux/AccessibleSpace.h"
#include "platform/linux/X11Windows.h"
#include "platform/linux/XConnection.h"

#include <optional>
#include <vector>

namespace kestro::platform::linux_x11 {

// How an application's accessible windows are matched to the X windows they are.

bool holds(const Rect& r, double x, double y);

// Where the application's own window lies in root pixels (inside a window manager's frame,
// when one holds it).
Rect clientRect(const XConnection& x, const TopLevel& window);

// The window as it lies now; nothing when it is gone or no longer shown.
std::optional<TopLevel> placedNow(const XConnection& x, const TopLevel& window);

// The rectangles a toolkit may report as its window: the application's own window, the window
// manager's frame round it (GTK 3 counts it in), or what the application draws inside its own
// shadow (_GTK_FRAME_EXTENTS: left, right, top, bottom).
std::vector<Rect> windowRects(const XConnection& x, const TopLevel& window);

// The space in which the accessible window reported as `reported` is that X window, if it is.
std::optional<AccessibleSpace> spaceOnWindow(const Rect& reported, const std::vector<Rect>& rects);

// Whether two spaces put the same reported point at the same root pixel.
bool sameSpace(const AccessibleSpace& a, const AccessibleSpace& b);

} // namespace kestro::platform::linux_x11
