#pragma once

#include "platform/linux/X11Monitors.h"

#include <xcb/xcb.h>

typedef struct _XDisplay Display;

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestro::platform::linux_x11 {

// Opens an Xlib display (DISPLAY, or `name`) that never ends the process when the server goes
// away: Xlib's default answer to a lost connection is to exit. Once lost, calls on the display
// return at once, and xcb_connection_has_error() of its connection says so. Other displays of
// the process (the toolkit's) keep the handling they had. Any thread.
Display* openDisplay(const char* name = nullptr);

// Whether the connection to the server is lost (or was never made).
bool connectionLost(Display* display);
// Closes a display from openDisplay(), lost or not.
void closeDisplay(Display* display);

// One private connection to the X server, for one thread. Requests go through XCB, whose
// errors come back with each reply (or are dropped with the events), so a window that vanishes
// in the middle of a query never reaches Xlib's process-wide error handler, which would end the
// process. The Xlib side exists only for the RandR monitor list.
class XConnection {
public:
    // Opens the display named by DISPLAY, or `name` when given; check ok().
    explicit XConnection(const char* name = nullptr);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    bool ok() const { return connection_ != nullptr; }
    // The server went away (or was never reached).
    bool lost() const { return !connection_ || xcb_connection_has_error(connection_) != 0; }
    xcb_connection_t* xcb() const { return connection_; }
    Display* xlib() const { return display_; }
    xcb_window_t root() const { return root_; }
    const xcb_screen_t* screen() const { return screen_; }
    // The bits of a resource id that name the client that created it.
    std::uint32_t clientBits(std::uint32_t resource) const { return resource & ~resourceMask_; }

    // Drops queued events and errors of earlier requests nobody waited for.
    void discardEvents();

    // Atoms this layer uses, interned once.
    struct Atoms {
        xcb_atom_t wmState = 0, wmClass = 0, wmName = 0, netWmName = 0, netWmPid = 0,
                   netActiveWindow = 0, netClientListStacking = 0, utf8String = 0,
                   gtkApplicationId = 0, kdeDesktopFile = 0, xrootpmapId = 0, esetrootPmapId = 0,
                   gtkFrameExtents = 0;
    };
    const Atoms& atoms() const { return atoms_; }

    // Whole property values; nothing when the window or the property is missing.
    std::optional<std::string> propertyBytes(xcb_window_t window, xcb_atom_t property,
                                             xcb_atom_t type = XCB_ATOM_ANY) const;
    std::optional<std::uint32_t> propertyCardinal(xcb_window_t window, xcb_atom_t property,
                                                  xcb_atom_t type) const;

    // The monitors as RandR lists them now, and the origin of global points in root pixels.
    std::vector<X11Monitor> monitors() const;
    RootOrigin origin() const;

private:
    Display* display_ = nullptr;
    xcb_connection_t* connection_ = nullptr;
    const xcb_screen_t* screen_ = nullptr;
    xcb_window_t root_ = 0;
    std::uint32_t resourceMask_ = 0;
    Atoms atoms_;
};

// A reply that frees itself.
template <typename T> struct FreeDeleter {
    void operator()(T* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeDeleter<T>>;

} // namespace kestro::platform::linux_x11
