#include "KestroCore/Displays.h"

namespace kestro {

std::vector<DisplayInfo> Displays::all(platform::DisplaySource& source) {
    const auto count = source.activeDisplayCount();
    if (!count || *count == 0) {
        return {};
    }
    const auto ids = source.activeDisplayList(*count);
    if (!ids) {
        return {};
    }
    // Displays that went away between the two queries are simply not listed; the list never
    // grows past the first count.
    std::vector<DisplayInfo> displays;
    for (std::size_t i = 0; i < ids->size() && i < *count; ++i) {
        const std::uint32_t id = (*ids)[i];
        displays.push_back(
            DisplayInfo{id, source.bounds(id), scale(source, id), source.isMain(id)});
    }
    return displays;
}

double Displays::scale(platform::DisplaySource& source, std::uint32_t displayId) {
    for (const auto& screen : source.screens()) {
        if (screen.displayNumber && *screen.displayNumber == displayId) {
            return screen.backingScaleFactor;
        }
    }
    return 2.0;
}

std::optional<DisplayInfo> Displays::display(Point containing, const std::vector<DisplayInfo>& in) {
    const Point p = containing;
    for (const auto& d : in) {
        const Rect& f = d.frame;
        if (f.origin.x <= p.x && p.x < f.origin.x + f.size.width && f.origin.y <= p.y &&
            p.y < f.origin.y + f.size.height) {
            return d;
        }
    }
    for (const auto& d : in) {
        if (d.isMain) {
            return d;
        }
    }
    if (!in.empty()) {
        return in.front();
    }
    return std::nullopt;
}

} // namespace kestro
