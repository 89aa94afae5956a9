#pragma once

#include "platform/linux/XConnection.h"

#include <xcb/xcb.h>

#include <cstdint>

namespace kestro::platform::linux_x11 {

// Makes sure an X client has handled the input the server sent it so far, before anything it
// says about its state (over accessibility) is believed: its window is sent a _NET_WM_PING,
// which the client answers only once it has read every event queued for it before the ping.
// Works on a connection of its own that watches the root for the answers. Main thread.
class X11ClientSync {
public:
    explicit X11ClientSync(const char* displayName = nullptr);

    enum class Result {
        handled,   // the client answered: the input before now has reached it
        noAnswer,  // it did not answer in time (hung, stopped, or gone)
        cannotAsk, // the window takes no pings, or the display is gone
    };

    // `window`: the client's own top-level window (the one that carries WM_PROTOCOLS).
    Result sync(xcb_window_t window, int timeoutMilliseconds);

private:
    bool takesPings(xcb_window_t window);

    XConnection x_;
    xcb_atom_t wmProtocols_ = XCB_ATOM_NONE;
    xcb_atom_t netWmPing_ = XCB_ATOM_NONE;
    std::uint32_t serial_ = 0;
};

} // namespace kestro::platform::linux_x11
