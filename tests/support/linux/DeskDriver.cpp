#include "tests/support/linux/DeskDriver.h"

#include <X11/Xlib.h>

namespace kestro::testing {

namespace x11 = platform::linux_x11;

DeskDriver::DeskDriver(const std::string& display) {
    x = std::make_unique<x11::XConnection>();
    if (!x->ok()) {
        error_ = "no XCB connection";
        return;
    }
    xtest = XOpenDisplay(display.c_str());
    if (!xtest) {
        error_ = "no Xlib display for XTest";
        return;
    }
    desk = std::make_unique<LinuxDesk>();
    if (!desk->ok()) {
        error_ = "the Linux services did not start";
    }
}

// The recorder goes first, while the connections it may still use are open.
DeskDriver::~DeskDriver() {
    desk.reset();
    if (xtest) {
        XCloseDisplay(xtest);
    }
    x.reset();
}

std::optional<x11::TopLevel> DeskDriver::window(const std::string& title) const {
    for (const x11::TopLevel& t : x11::listTopLevels(*x)) {
        if (t.viewable && x11::windowIdentity(*x, t.client).title == title) {
            return t;
        }
    }
    return std::nullopt;
}

} // namespace kestro::testing
