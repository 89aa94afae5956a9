#include "platform/linux/XConnection.h"

#include "platform/linux/X11Atoms.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>

#include <array>
#include <cstring>
#include <mutex>
#include <set>

namespace kestro::platform::linux_x11 {

namespace {

std::mutex guardedMutex;
std::set<Display*> guarded;
XIOErrorHandler previousHandler = nullptr;

// Xlib calls this first for every display; the exit handler runs after it returns.
int onIOError(Display* display) {
    {
        std::lock_guard lock(guardedMutex);
        if (guarded.count(display)) {
            return 0;
        }
    }
    return previousHandler ? previousHandler(display) : 0;
}

void onIOErrorExit(Display*, void*) {
    // Returning leaves the display marked as lost; its owner notices and lets go of it.
}

} // namespace

Display* openDisplay(const char* name) {
    Display* display = XOpenDisplay(name);
    if (!display) {
        return nullptr;
    }
    std::lock_guard lock(guardedMutex);
    guarded.insert(display);
    XSetIOErrorExitHandler(display, &onIOErrorExit, nullptr);
    // Installed again if something replaced it since (it stays in the chain for the others).
    XIOErrorHandler current = XSetIOErrorHandler(&onIOError);
    if (current != &onIOError) {
        previousHandler = current;
    }
    return display;
}

void closeDisplay(Display* display) {
    if (!display) {
        return;
    }
    if (!connectionLost(display)) {
        XCloseDisplay(display);
    }
    // Otherwise closing would send requests over the dead connection, and Xlib can wait there
    // for ever on a lock that a call cut short by the loss left taken. The display, its socket
    // included, stays as it is, once per lost server: the socket number cannot come back to
    // someone else while something may still watch it.
    std::lock_guard lock(guardedMutex);
    guarded.erase(display);
}

bool connectionLost(Display* display) {
    return !display || xcb_connection_has_error(XGetXCBConnection(display)) != 0;
}

XConnection::XConnection(const char* name) {
    display_ = openDisplay(name);
    if (!display_) {
        return;
    }
    connection_ = XGetXCBConnection(display_);
    if (!connection_ || xcb_connection_has_error(connection_)) {
        closeDisplay(display_);
        display_ = nullptr;
        connection_ = nullptr;
        return;
    }
    // From here on XCB reads the events, so errors of XCB requests stay with XCB.
    XSetEventQueueOwner(display_, XCBOwnsEventQueue);
    const xcb_setup_t* setup = xcb_get_setup(connection_);
    resourceMask_ = setup->resource_id_mask;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup);
    for (int i = 0; i < DefaultScreen(display_) && it.rem; ++i) {
        xcb_screen_next(&it);
    }
    screen_ = it.data;
    root_ = screen_->root;

    struct Name {
        std::string_view text;
        xcb_atom_t* atom;
    };
    const std::array<Name, 13> names{{
        {"WM_STATE", &atoms_.wmState},
        {"WM_CLASS", &atoms_.wmClass},
        {"WM_NAME", &atoms_.wmName},
        {"_NET_WM_NAME", &atoms_.netWmName},
        {"_NET_WM_PID", &atoms_.netWmPid},
        {"_NET_ACTIVE_WINDOW", &atoms_.netActiveWindow},
        {"_NET_CLIENT_LIST_STACKING", &atoms_.netClientListStacking},
        {"UTF8_STRING", &atoms_.utf8String},
        {"_GTK_APPLICATION_ID", &atoms_.gtkApplicationId},
        {"_KDE_NET_WM_DESKTOP_FILE", &atoms_.kdeDesktopFile},
        {"_XROOTPMAP_ID", &atoms_.xrootpmapId},
        {"ESETROOT_PMAP_ID", &atoms_.esetrootPmapId},
        {"_GTK_FRAME_EXTENTS", &atoms_.gtkFrameExtents},
    }};
    std::vector<std::string_view> texts;
    for (const Name& n : names) {
        texts.push_back(n.text);
    }
    const std::vector<xcb_atom_t> atoms = internAtoms(connection_, texts);
    for (std::size_t i = 0; i < names.size(); ++i) {
        *names[i].atom = atoms[i];
    }
}

XConnection::~XConnection() {
    if (display_) {
        closeDisplay(display_);
    }
}

void XConnection::discardEvents() {
    if (!connection_) {
        return;
    }
    while (xcb_generic_event_t* event = xcb_poll_for_event(connection_)) {
        std::free(event);
    }
}

std::optional<std::string> XConnection::propertyBytes(xcb_window_t window, xcb_atom_t property,
                                                      xcb_atom_t type) const {
    if (!connection_ || property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    // Up to 64 KiB of value: enough for any name or class.
    xcb_get_property_cookie_t cookie =
        xcb_get_property(connection_, 0, window, property, type, 0, 16384);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->type == XCB_ATOM_NONE || reply->format != 8 ||
        (type != XCB_ATOM_ANY && reply->type != type)) {
        return std::nullopt;
    }
    const auto* data = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return std::string(data, static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
}

std::optional<std::uint32_t> XConnection::propertyCardinal(xcb_window_t window, xcb_atom_t property,
                                                           xcb_atom_t type) const {
    if (!connection_ || property == XCB_ATOM_NONE) {
        return std::nullopt;
    }
    xcb_get_property_cookie_t cookie =
        xcb_get_property(connection_, 0, window, property, type, 0, 1);
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(connection_, cookie, nullptr));
    if (!reply || reply->format != 32 || xcb_get_property_value_length(reply.get()) < 4) {
        return std::nullopt;
    }
    std::uint32_t value = 0;
    std::memcpy(&value, xcb_get_property_value(reply.get()), 4);
    return value;
}

std::vector<X11Monitor> XConnection::monitors() const {
    return listMonitors(display_);
}

RootOrigin XConnection::origin() const {
    return mainMonitorOrigin(monitors());
}

} // namespace kestro::platform::linux_x11
