#include "platform/linux/AccessibleSpace.h"

#include <cmath>

namespace kestro::platform::linux_x11 {

Rect AccessibleSpace::toRoot(const Rect& r) const {
    if (identity()) {
        return r;
    }
    const double left = std::floor(root.x + scale * (r.origin.x - reported.x) + 1e-6);
    const double top = std::floor(root.y + scale * (r.origin.y - reported.y) + 1e-6);
    const double right =
        std::ceil(root.x + scale * (r.origin.x + r.size.width - reported.x) - 1e-6);
    const double bottom =
        std::ceil(root.y + scale * (r.origin.y + r.size.height - reported.y) - 1e-6);
    return Rect::make(left, top, right - left, bottom - top);
}

Point AccessibleSpace::toReported(Point p) const {
    if (identity()) {
        return p;
    }
    return Point{reported.x + (p.x - root.x) / scale, reported.y + (p.y - root.y) / scale};
}

std::optional<AccessibleSpace> spaceOnto(const Rect& reported, const Rect& actual) {
    const double rw = reported.size.width, rh = reported.size.height;
    const double aw = actual.size.width, ah = actual.size.height;
    // Too small to tell a scale by (a window being mapped reports 1 x 1).
    if (rw < 8 || rh < 8 || aw < 8 || ah < 8) {
        return std::nullopt;
    }
    auto near = [](double a, double b, double slack) { return std::abs(a - b) <= slack; };
    // Toolkits round each of their logical numbers: one logical pixel either way, scaled.
    auto fits = [&](double s) { return near(rw * s, aw, s + 1) && near(rh * s, ah, s + 1); };
    double scale = 0;
    if (near(rw, aw, 1) && near(rh, ah, 1)) {
        scale = 1;
    } else {
        // Scale factors are mostly quarters; Qt takes any number.
        const double estimate = (aw + ah) / (rw + rh);
        const double quarter = std::round(estimate * 4) / 4;
        if (quarter > 0 && fits(quarter)) {
            scale = quarter;
        } else if (fits(estimate)) {
            scale = estimate;
        }
        if (scale < 0.5 || scale > 8) {
            return std::nullopt;
        }
    }
    const AccessibleSpace space{reported.origin, actual.origin, scale};
    // Reported in root pixels (scaled, or not).
    if (near(reported.origin.x * scale, actual.origin.x, scale + 1) &&
        near(reported.origin.y * scale, actual.origin.y, scale + 1)) {
        return scale == 1 && near(reported.origin.x, actual.origin.x, 1) &&
                       near(reported.origin.y, actual.origin.y, 1)
                   ? AccessibleSpace{}
                   : space;
    }
    // Reported relative to the window itself.
    if (near(reported.origin.x, 0, 1) && near(reported.origin.y, 0, 1)) {
        return space;
    }
    return std::nullopt;
}

} // namespace kestro::platform::linux_x11
