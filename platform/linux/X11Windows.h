#pragma once

#include "platform/linux/XConnection.h"

#include <xcb/xcb.h>

#include <optional>
#include <string>
#include <vector>

namespace kestro::platform::linux_x11 {

// A child of the root window, in root pixels.
struct TopLevel {
    xcb_window_t window = 0;
    // The application's own window: the top-level itself, or the descendant a reparenting
    // window manager put inside its frame (the one carrying WM_STATE).
    xcb_window_t client = 0;
    int x = 0; // outer top-left corner, border included
    int y = 0;
    int width = 0; // inside the border
    int height = 0;
    int border = 0;
    bool viewable = false; // mapped, with every ancestor mapped
    bool inputOutput = true;
    xcb_visualid_t visual = 0;
    // The process of the client that created the application's window, as the server knows it;
    // else what the window says of itself (_NET_WM_PID).
    std::optional<int> processID;

    bool contains(int px, int py) const {
        return px >= x && py >= y && px < x + width + 2 * border && py < y + height + 2 * border;
    }
};

// The root's children from the bottom of the stack to the top. Windows that vanish while they
// are asked about are left out.
std::vector<TopLevel> listTopLevels(const XConnection& x);

// Whether a click at (px, py), in root pixels, lands in this window rather than passing through
// it: inside its frame and, where it has cut its input shape (windows that let clicks through,
// such as our overlay frames and resting pill), inside that shape.
bool takesInputAt(const XConnection& x, const TopLevel& window, int px, int py);

// The top-level holding the keyboard: the window manager's active window, else the window
// with the input focus; nothing when neither is known.
std::optional<TopLevel> activeTopLevel(const XConnection& x, const std::vector<TopLevel>& stack);

// A window the window manager manages, and the process of the client that created it (as the
// server knows it, else what the window says of itself).
struct ManagedWindow {
    xcb_window_t window = 0;
    std::optional<int> processID;
};

// The windows an EWMH window manager manages, from the bottom of its stack to the top, minimised
// ones included (_NET_CLIENT_LIST_STACKING); empty when no such window manager runs.
std::vector<ManagedWindow> managedWindows(const XConnection& x);

// What a window says about the application it belongs to.
struct WindowIdentity {
    std::optional<std::string> desktopFileID; // _GTK_APPLICATION_ID or _KDE_NET_WM_DESKTOP_FILE
    std::optional<std::string> wmClass;       // the class half of WM_CLASS
    std::optional<std::string> title;
};
WindowIdentity windowIdentity(const XConnection& x, xcb_window_t window);

} // namespace kestro::platform::linux_x11
