#include "platform/linux/X11Atoms.h"

#include "platform/linux/XConnection.h"

#include <X11/Xlib-xcb.h>

namespace kestro::platform::linux_x11 {

namespace {

xcb_intern_atom_cookie_t ask(xcb_connection_t* connection, std::string_view name,
                             AtomLookup lookup) {
    return xcb_intern_atom(connection, lookup == AtomLookup::existing ? 1 : 0,
                           static_cast<std::uint16_t>(name.size()), name.data());
}

xcb_atom_t answer(xcb_connection_t* connection, xcb_intern_atom_cookie_t cookie) {
    Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

void send(xcb_connection_t* connection, xcb_window_t destination, std::uint32_t eventMask,
          const WindowMessage& message) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = message.window;
    event.type = message.type;
    for (std::size_t i = 0; i < message.data.size(); ++i) {
        event.data.data32[i] = message.data[i];
    }
    xcb_send_event(connection, 0, destination, eventMask, reinterpret_cast<const char*>(&event));
    xcb_flush(connection);
}

} // namespace

xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name, AtomLookup lookup) {
    if (!connection) {
        return XCB_ATOM_NONE;
    }
    return answer(connection, ask(connection, name, lookup));
}

std::vector<xcb_atom_t> internAtoms(xcb_connection_t* connection,
                                    const std::vector<std::string_view>& names) {
    std::vector<xcb_atom_t> atoms(names.size(), XCB_ATOM_NONE);
    if (!connection) {
        return atoms;
    }
    std::vector<xcb_intern_atom_cookie_t> cookies;
    cookies.reserve(names.size());
    for (std::string_view name : names) {
        cookies.push_back(ask(connection, name, AtomLookup::intern));
    }
    for (std::size_t i = 0; i < cookies.size(); ++i) {
        atoms[i] = answer(connection, cookies[i]);
    }
    return atoms;
}

xcb_atom_t internAtom(Display* display, std::string_view name) {
    return display ? internAtom(XGetXCBConnection(display), name) : xcb_atom_t{XCB_ATOM_NONE};
}

void askWindowManager(xcb_connection_t* connection, xcb_window_t root,
                      const WindowMessage& message) {
    send(connection, root,
         XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY, message);
}

void sendToClient(xcb_connection_t* connection, const WindowMessage& message) {
    send(connection, message.window, XCB_EVENT_MASK_NO_EVENT, message);
}

} // namespace kestro::platform::linux_x11
