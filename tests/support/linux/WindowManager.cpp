#include "tests/support/linux/WindowManager.h"

#include "platform/linux/XConnection.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace kestro::testing {

namespace {

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* r = xcb_intern_atom_reply(
        c, xcb_intern_atom(c, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
    const xcb_atom_t a = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    std::free(r);
    return a;
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
    const xcb_atom_t check = atom(x.xcb(), "_NET_SUPPORTING_WM_CHECK");
    const auto deadline = std::chrono::steady_clock::now() +
                          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                              std::chrono::duration<double>(timeoutSeconds));
    while (std::chrono::steady_clock::now() < deadline) {
        // Set once the redirect is its own; the window names itself again while it lives.
        const auto support = x.propertyCardinal(x.root(), check, XCB_ATOM_WINDOW);
        if (support && *support != 0 &&
            x.propertyCardinal(*support, check, XCB_ATOM_WINDOW) == support) {
            return pid;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    session.stop(pid);
    return -1;
}

} // namespace kestro::testing
