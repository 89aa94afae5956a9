#pragma once

#include "platform/AppActivator.h"
#include "platform/linux/X11Applications.h"
#include "platform/linux/XConnection.h"

#include <string>

namespace kestro::platform::linux_x11 {

// Activation of an application's window. The application is found by the identity `applications`
// gives each window's process, the same the recorder stores, and its window highest in the
// stacking order is chosen. An EWMH window manager is asked for it with a _NET_ACTIVE_WINDOW
// message (which also brings a minimised window back); without one, the window is raised and
// given the input focus directly. Main thread only.
class X11AppActivator final : public AppActivator {
public:
    explicit X11AppActivator(X11Applications& applications, const char* displayName = nullptr);

    bool activate(const std::string& bundleIdentifier) override;

private:
    bool windowManagerActivates();

    XConnection x_;
    X11Applications& applications_;
    xcb_atom_t netSupported_ = XCB_ATOM_NONE;
    xcb_atom_t netSupportingWmCheck_ = XCB_ATOM_NONE;
};

} // namespace kestro::platform::linux_x11
