#pragma once

#include <cstdint>
#include <string>
#include <vector>

using Display = struct _XDisplay;

namespace kestro::platform::linux_x11 {

// One RandR monitor in X root-window pixels. Its id is the monitor's name atom, which stays the
// same while the monitor exists.
struct X11Monitor {
    std::uint32_t id = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool primary = false;
    std::string name;
};

// The active monitors; the primary one is marked (the first is taken when none is). Falls back
// to one monitor covering the root window when RandR is missing.
std::vector<X11Monitor> listMonitors(Display* display);

// Global points have their origin at the top-left of the main monitor; X pixels at the root's.
// This is the one place where the two are converted.
struct RootOrigin {
    int x = 0;
    int y = 0;
};
RootOrigin mainMonitorOrigin(const std::vector<X11Monitor>& monitors);

} // namespace kestro::platform::linux_x11
