#include "platform/linux/X11WindowSupport.h"

#include "platform/linux/X11Atoms.h"
#include "platform/linux/XConnection.h"

namespace kestro::platform::linux_x11 {

X11WindowSupport::X11WindowSupport() : x_(std::make_unique<XConnection>()) {
    if (!x_->ok()) {
        return;
    }
    xcb_connection_t* c = x_->xcb();
    const std::vector<xcb_atom_t> atoms =
        internAtoms(c, {"_NET_WM_USER_TIME", "_NET_WM_USER_TIME_WINDOW", "_NET_WM_DESKTOP"});
    userTime_ = atoms[0];
    userTimeWindow_ = atoms[1];
    wmDesktop_ = atoms[2];
    activeWindow_ = x_->atoms().netActiveWindow;
    cardinal_ = XCB_ATOM_CARDINAL;

    // An unmapped window whose property changes report the server time.
    timeWindow_ = xcb_generate_id(c);
    const std::uint32_t values[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, timeWindow_, x_->root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, values);
    xcb_flush(c);
}

X11WindowSupport::~X11WindowSupport() {
    if (x_->ok() && timeWindow_ != 0) {
        xcb_destroy_window(x_->xcb(), timeWindow_);
        xcb_flush(x_->xcb());
    }
}

bool X11WindowSupport::ok() const {
    return x_->ok();
}

std::uint32_t X11WindowSupport::serverTime() const {
    if (!ok()) {
        return 0;
    }
    xcb_connection_t* c = x_->xcb();
    x_->discardEvents();
    xcb_change_property(c, XCB_PROP_MODE_APPEND, timeWindow_, userTime_, cardinal_, 32, 0, nullptr);
    xcb_flush(c);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const bool found = (event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY;
        std::uint32_t time = 0;
        if (found) {
            time = reinterpret_cast<xcb_property_notify_event_t*>(event)->time;
        }
        std::free(event);
        if (found) {
            return time;
        }
    }
    return 0;
}

void X11WindowSupport::activate(std::uint32_t window, std::uint32_t time) const {
    if (!ok() || window == 0) {
        return;
    }
    if (time == 0) {
        time = serverTime();
    }
    xcb_connection_t* c = x_->xcb();
    // The window manager reads the user time from the window the client names for it, if any.
    xcb_window_t target = window;
    if (auto named = x_->propertyCardinal(window, userTimeWindow_, XCB_ATOM_WINDOW)) {
        if (*named != 0) {
            target = *named;
        }
    }
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, target, userTime_, cardinal_, 32, 1, &time);
    constexpr std::uint32_t fromApplication = 1;
    askWindowManager(c, x_->root(), {window, activeWindow_, {fromApplication, time, 0}});
}

void X11WindowSupport::setOnAllDesktops(std::uint32_t window) const {
    if (!ok() || window == 0) {
        return;
    }
    xcb_connection_t* c = x_->xcb();
    const std::uint32_t all = 0xFFFFFFFF;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, wmDesktop_, cardinal_, 32, 1, &all);
    constexpr std::uint32_t fromApplication = 1;
    askWindowManager(c, x_->root(), {window, wmDesktop_, {all, fromApplication}});
}

} // namespace kestro::platform::linux_x11
