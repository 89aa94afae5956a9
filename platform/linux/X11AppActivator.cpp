#include "platform/linux/X11AppActivator.h"

#include "platform/linux/X11Atoms.h"
#include "platform/linux/X11Windows.h"

#include <vector>

namespace kestro::platform::linux_x11 {

namespace {

// A source indication of 2 tells the window manager that a pager-like tool acts for the user,
// which focus-stealing prevention lets through.
constexpr std::uint32_t sourceIsPager = 2;

} // namespace

X11AppActivator::X11AppActivator(X11Applications& applications, const char* displayName)
    : x_(displayName), applications_(applications) {
    if (x_.ok()) {
        const std::vector<xcb_atom_t> atoms =
            internAtoms(x_.xcb(), {"_NET_SUPPORTED", "_NET_SUPPORTING_WM_CHECK"});
        netSupported_ = atoms[0];
        netSupportingWmCheck_ = atoms[1];
    }
}

bool X11AppActivator::windowManagerActivates() {
    xcb_connection_t* c = x_.xcb();
    // A window manager that has gone leaves its properties behind; its check window goes with it.
    const auto check = x_.propertyCardinal(x_.root(), netSupportingWmCheck_, XCB_ATOM_WINDOW);
    if (!check || !*check) {
        return false;
    }
    Reply<xcb_get_window_attributes_reply_t> alive(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, *check), nullptr));
    if (!alive) {
        return false;
    }
    Reply<xcb_get_property_reply_t> supported(xcb_get_property_reply(
        c, xcb_get_property(c, 0, x_.root(), netSupported_, XCB_ATOM_ATOM, 0, 4096), nullptr));
    if (!supported || supported->format != 32) {
        return false;
    }
    const auto* atoms = static_cast<const xcb_atom_t*>(xcb_get_property_value(supported.get()));
    const int count = xcb_get_property_value_length(supported.get()) / 4;
    for (int i = 0; i < count; ++i) {
        if (atoms[i] == x_.atoms().netActiveWindow) {
            return true;
        }
    }
    return false;
}

bool X11AppActivator::activate(const std::string& bundleIdentifier) {
    if (!x_.ok()) {
        return false;
    }
    x_.discardEvents();
    const bool managed = windowManagerActivates();

    // Candidates from the top of the stack down.
    std::vector<ManagedWindow> candidates;
    if (managed) {
        candidates = managedWindows(x_);
    } else {
        for (const TopLevel& t : listTopLevels(x_)) {
            if (t.viewable && t.inputOutput) {
                candidates.push_back(ManagedWindow{t.client, t.processID});
            }
        }
    }
    xcb_window_t chosen = XCB_NONE;
    for (auto it = candidates.rbegin(); it != candidates.rend() && chosen == XCB_NONE; ++it) {
        if (!it->processID) {
            continue;
        }
        const auto app = applications_.runningApplication(*it->processID);
        if (app && app->bundleIdentifier == bundleIdentifier) {
            chosen = it->window;
        }
    }
    if (chosen == XCB_NONE) {
        return false;
    }

    xcb_connection_t* c = x_.xcb();
    if (managed) {
        askWindowManager(
            c, x_.root(),
            {chosen, x_.atoms().netActiveWindow, {sourceIsPager, XCB_CURRENT_TIME, XCB_NONE}});
    } else {
        // Nobody manages the windows: raise the top-level that holds this one and focus it.
        const std::uint32_t above = XCB_STACK_MODE_ABOVE;
        for (const TopLevel& t : listTopLevels(x_)) {
            if (t.client == chosen) {
                xcb_configure_window(c, t.window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
            }
        }
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_POINTER_ROOT, chosen, XCB_CURRENT_TIME);
    }
    xcb_flush(c);
    return true;
}

} // namespace kestro::platform::linux_x11
