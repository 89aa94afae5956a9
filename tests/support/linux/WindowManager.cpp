#include "tests/support/linux/WindowManager.h"

#include "platform/linux/X11Atoms.h"
#include "platform/linux/XConnection.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace kestro::testing {

namespace {

// Maps a small window until the window manager reparents it into a frame. It announces itself
// before its start-up is over and drops the map requests that arrive until then: a window mapped
// in that moment stays unmapped for good, so the request is made again until one is handled.
bool managesAWindow(platform::linux_x11::XConnection& x,
                    std::chrono::steady_clock::time_point deadline) {
    xcb_connection_t* c = x.xcb();
    const xcb_window_t probe = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, probe, x.root(), 0, 0, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
    bool managed = false;
    for (int round = 0; !managed && std::chrono::steady_clock::now() < deadline; ++round) {
        if (round % 10 == 0) {
            xcb_map_window(c, probe);
            xcb_flush(c);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        xcb_query_tree_reply_t* tree = xcb_query_tree_reply(c, xcb_query_tree(c, probe), nullptr);
        managed = tree && tree->parent != x.root();
        std::free(tree);
    }
    xcb_destroy_window(c, probe);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    return managed;
}

} // namespace

pid_t startWindowManager(DesktopSession& session, double timeoutSeconds) {
    platform::linux_x11::XConnection x(session.display().c_str());
    if (!x.ok()) {
        return -1;
    }
    const pid_t pid = session.spawn({"openbox", "--sm-disable"});
    if (pid <= 0) {
        return -1;
    }
    const xcb_atom_t check = platform::linux_x11::internAtom(x.xcb(), "_NET_SUPPORTING_WM_CHECK");
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    while (std::chrono::steady_clock::now() < deadline) {
        // Set once the redirect is its own; the window names itself again while it lives.
        const auto support = x.propertyCardinal(x.root(), check, XCB_ATOM_WINDOW);
        if (support && *support != 0 &&
            x.propertyCardinal(*support, check, XCB_ATOM_WINDOW) == support) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    // It announces itself before it has read its settings and begun handling requests; a window
    // mapped in between waits unmapped until then. Ready means a window of ours gets managed.
    if (std::chrono::steady_clock::now() < deadline && managesAWindow(x, deadline)) {
        return pid;
    }
    session.stop(pid);
    return -1;
}

} // namespace kestro::testing
