#include "platform/linux/X11ClientSync.h"

#include "platform/linux/X11Atoms.h"

#include <poll.h>

#include <chrono>

namespace kestro::platform::linux_x11 {

X11ClientSync::X11ClientSync(const char* displayName) : x_(displayName) {
    if (!x_.ok()) {
        return;
    }
    xcb_connection_t* c = x_.xcb();
    const std::vector<xcb_atom_t> atoms = internAtoms(c, {"WM_PROTOCOLS", "_NET_WM_PING"});
    wmProtocols_ = atoms[0];
    netWmPing_ = atoms[1];
    // Clients send their answers to the root, to whoever watches its changes or its children's
    // (toolkits differ in which).
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, x_.root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(c);
}

bool X11ClientSync::takesPings(xcb_window_t window) {
    xcb_connection_t* c = x_.xcb();
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, wmProtocols_, XCB_ATOM_ATOM, 0, 64), nullptr));
    if (!reply || reply->format != 32) {
        return false;
    }
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == netWmPing_) {
            return true;
        }
    }
    return false;
}

X11ClientSync::Result X11ClientSync::sync(xcb_window_t window, int timeoutMilliseconds) {
    if (!x_.ok() || xcb_connection_has_error(x_.xcb()) || netWmPing_ == XCB_ATOM_NONE || !window ||
        !takesPings(window)) {
        return Result::cannotAsk;
    }
    xcb_connection_t* c = x_.xcb();
    x_.discardEvents();
    const std::uint32_t serial = ++serial_ == 0 ? ++serial_ : serial_;
    // The answer carries the serial back unchanged.
    sendToClient(c, {window, wmProtocols_, {netWmPing_, serial, window}});

    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMilliseconds);
    while (true) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            bool answer = false;
            if ((event->response_type & 0x7F) == XCB_CLIENT_MESSAGE) {
                const auto* m = reinterpret_cast<const xcb_client_message_event_t*>(event);
                answer = m->type == wmProtocols_ && m->format == 32 &&
                         m->data.data32[0] == netWmPing_ && m->data.data32[1] == serial;
            }
            std::free(event);
            if (answer) {
                return Result::handled;
            }
        }
        if (xcb_connection_has_error(c)) {
            return Result::cannotAsk;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0) {
            return Result::noAnswer;
        }
        pollfd fd{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&fd, 1, static_cast<int>(left));
    }
}

} // namespace kestro::platform::linux_x11
