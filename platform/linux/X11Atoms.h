#pragma once

#include <xcb/xcb.h>

typedef struct _XDisplay Display;

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace kestro::platform::linux_x11 {

// Atoms by name. XCB_ATOM_NONE when the server does not answer, or, for `existing`, when no
// client has made the name an atom yet (which spares the server an atom nobody reads).
enum class AtomLookup { intern, existing };
xcb_atom_t internAtom(xcb_connection_t* connection, std::string_view name,
                      AtomLookup lookup = AtomLookup::intern);
// Several in one round trip, in the order asked.
std::vector<xcb_atom_t> internAtoms(xcb_connection_t* connection,
                                    const std::vector<std::string_view>& names);
// On an Xlib display (through its XCB connection: the atom is the server's either way).
xcb_atom_t internAtom(Display* display, std::string_view name);

// A client message of the window-manager protocols: a request about `window`, of kind `type`,
// with up to five 32-bit words.
struct WindowMessage {
    xcb_window_t window = XCB_NONE;
    xcb_atom_t type = XCB_ATOM_NONE;
    std::array<std::uint32_t, 5> data{};
};

// Sent to the root window, where the window manager takes requests about the windows it
// manages (activation, desktops, states). Flushed.
void askWindowManager(xcb_connection_t* connection, xcb_window_t root,
                      const WindowMessage& message);
// Sent to the message's window itself, to its owner alone (WM_PROTOCOLS). Flushed.
void sendToClient(xcb_connection_t* connection, const WindowMessage& message);

} // namespace kestro::platform::linux_x11
