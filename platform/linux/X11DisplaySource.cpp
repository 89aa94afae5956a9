#include "platform/linux/X11DisplaySource.h"
#include "platform/linux/XConnection.h"

#include "platform/linux/X11Monitors.h"

#include <X11/Xlib.h>

namespace kestro::platform::linux_x11 {

X11DisplaySource::~X11DisplaySource() {
    if (display_) {
        closeDisplay(display_);
    }
}

Display* X11DisplaySource::connection() {
    if (!display_) {
        display_ = openDisplay();
    }
    return display_;
}

std::optional<std::uint32_t> X11DisplaySource::activeDisplayCount() {
    Display* d = connection();
    if (!d) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(listMonitors(d).size());
}

std::optional<std::vector<std::uint32_t>>
X11DisplaySource::activeDisplayList(std::uint32_t capacity) {
    Display* d = connection();
    if (!d) {
        return std::nullopt;
    }
    std::vector<std::uint32_t> ids;
    for (const auto& m : listMonitors(d)) {
        if (ids.size() < capacity) {
            ids.push_back(m.id);
        }
    }
    return ids;
}

Rect X11DisplaySource::bounds(std::uint32_t displayId) {
    Display* d = connection();
    if (!d) {
        return Rect{};
    }
    const auto monitors = listMonitors(d);
    const RootOrigin origin = mainMonitorOrigin(monitors);
    for (const auto& m : monitors) {
        if (m.id == displayId) {
            return Rect::make(m.x - origin.x, m.y - origin.y, m.width, m.height);
        }
    }
    return Rect{};
}

bool X11DisplaySource::isMain(std::uint32_t displayId) {
    Display* d = connection();
    if (!d) {
        return false;
    }
    for (const auto& m : listMonitors(d)) {
        if (m.id == displayId) {
            return m.primary;
        }
    }
    return false;
}

std::vector<DisplaySource::Screen> X11DisplaySource::screens() {
    std::vector<Screen> screens;
    if (Display* d = connection()) {
        for (const auto& m : listMonitors(d)) {
            screens.push_back(Screen{m.id, 1.0});
        }
    }
    return screens;
}

} // namespace kestro::platform::linux_x11
