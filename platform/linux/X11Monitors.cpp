#include "platform/linux/X11Monitors.h"

#include "platform/linux/XConnection.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace kestro::platform::linux_x11 {

std::vector<X11Monitor> listMonitors(Display* display) {
    std::vector<X11Monitor> monitors;
    // A connection that is gone is not asked again: its requests would only go round Xlib's
    // handling of the loss once more.
    if (connectionLost(display)) {
        return monitors;
    }
    const Window root = DefaultRootWindow(display);
    int eventBase = 0, errorBase = 0, major = 0, minor = 0;
    if (XRRQueryExtension(display, &eventBase, &errorBase) &&
        XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        XRRMonitorInfo* info = XRRGetMonitors(display, root, True, &count);
        if (info && connectionLost(display)) {
            // Lost while the reply was read: its contents are not to be trusted.
            XRRFreeMonitors(info);
            return monitors;
        }
        for (int i = 0; info && i < count; ++i) {
            X11Monitor m;
            m.id = static_cast<std::uint32_t>(info[i].name);
            m.x = info[i].x;
            m.y = info[i].y;
            m.width = info[i].width;
            m.height = info[i].height;
            m.primary = info[i].primary != 0;
            if (char* name = XGetAtomName(display, info[i].name)) {
                m.name = name;
                XFree(name);
            }
            monitors.push_back(m);
        }
        if (info) {
            XRRFreeMonitors(info);
        }
    }
    if (monitors.empty()) {
        if (connectionLost(display)) {
            return monitors;
        }
        XWindowAttributes attributes{};
        XGetWindowAttributes(display, root, &attributes);
        monitors.push_back(
            X11Monitor{1, 0, 0, attributes.width, attributes.height, true, "screen"});
    }
    bool anyPrimary = false;
    for (const auto& m : monitors) {
        anyPrimary = anyPrimary || m.primary;
    }
    if (!anyPrimary) {
        monitors.front().primary = true;
    }
    return monitors;
}

RootOrigin mainMonitorOrigin(const std::vector<X11Monitor>& monitors) {
    for (const auto& m : monitors) {
        if (m.primary) {
            return RootOrigin{m.x, m.y};
        }
    }
    return monitors.empty() ? RootOrigin{} : RootOrigin{monitors.front().x, monitors.front().y};
}

} // namespace kestro::platform::linux_x11
