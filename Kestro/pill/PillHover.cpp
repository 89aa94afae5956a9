#include "Kestro/pill/PillHover.h"

namespace kestro::PillHover {

bool contains(const Rect& r, Point p) {
    const double left = r.origin.x;
    const double right = r.origin.x + r.size.width;
    const double top = r.origin.y;
    const double bottom = r.origin.y + r.size.height;
    return left <= p.x && p.x < right && top < p.y && p.y <= bottom;
}

Rect tabZone(const Rect& f) {
    return Rect::make(f.origin.x + f.size.width - tabZoneWidth,
                      f.origin.y + f.size.height / 2 - tabZoneHeight / 2, tabZoneWidth,
                      tabZoneHeight);
}

Rect expandedZone(const Rect& f) {
    return Rect::make(f.origin.x - expandedSlack, f.origin.y - expandedSlack,
                      f.size.width + 2 * expandedSlack, f.size.height + 2 * expandedSlack);
}

Rect tipZone(const Rect& f) {
    return Rect::make(f.origin.x, f.origin.y + f.size.height / 2 - tipZoneHeight / 2,
                      f.size.width - tipZoneRightGap, tipZoneHeight);
}

Decision step(bool expanded, Point mouse, const Rect& frame, bool hasTip) {
    Decision d{expanded, false};
    if (!expanded) {
        if (contains(tabZone(frame), mouse)) {
            d.expanded = true;
        }
    } else if (!contains(expandedZone(frame), mouse)) {
        d.expanded = false;
    }
    const bool overTip = hasTip && contains(tipZone(frame), mouse);
    d.acceptsMouse = d.expanded || overTip;
    return d;
}

} // namespace kestro::PillHover
