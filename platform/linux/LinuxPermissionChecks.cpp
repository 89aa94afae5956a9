#include "platform/linux/LinuxPermissionChecks.h"
#include "platform/linux/XConnection.h"

#include "platform/linux/DBusSession.h"

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/record.h>
#include <gio/gio.h>

#include <cstdlib>
#include <cstring>

namespace kestro::platform::linux_x11 {

namespace {

constexpr int busTimeoutMs = 300; // a hung bus must not stall the main thread for long

bool waylandSession() {
    const char* type = std::getenv("XDG_SESSION_TYPE");
    return type && std::strcmp(type, "wayland") == 0;
}

bool hasExtension(Display* d, const char* name) {
    int opcode = 0, event = 0, error = 0;
    return XQueryExtension(d, name, &opcode, &event, &error) != 0;
}

GVariant* callA11yBus(GDBusConnection* bus, const char* interface, const char* method,
                      GVariant* parameters, const GVariantType* replyType) {
    return g_dbus_connection_call_sync(bus, "org.a11y.Bus", "/org/a11y/bus", interface, method,
                                       parameters, replyType, G_DBUS_CALL_FLAGS_NONE, busTimeoutMs,
                                       nullptr, nullptr);
}

} // namespace

LinuxPermissionChecks::~LinuxPermissionChecks() {
    if (display_) {
        closeDisplay(display_);
    }
    if (bus_) {
        g_object_unref(bus_);
    }
}

Display* LinuxPermissionChecks::display() {
    if (!display_) {
        display_ = openDisplay();
    }
    return display_;
}

GDBusConnection* LinuxPermissionChecks::bus() {
    if (bus_ && g_dbus_connection_is_closed(bus_)) {
        g_object_unref(bus_);
        bus_ = nullptr;
        addressFrom_.clear(); // unique names are only unique on one bus
    }
    if (!bus_) {
        bus_ = openSessionBus();
    }
    return bus_;
}

std::optional<LinuxPermissionChecks::XFacilities> LinuxPermissionChecks::xFacilities() {
    Display* d = waylandSession() ? nullptr : display();
    if (!d || connectionLost(d)) {
        return std::nullopt;
    }
    if (!facilities_) {
        int opcode = 0, event = 0, error = 0;
        int major = 2, minor = 2;
        const bool xi = XQueryExtension(d, "XInputExtension", &opcode, &event, &error) &&
                        XIQueryVersion(d, &major, &minor) == Success &&
                        (major > 2 || (major == 2 && minor >= 2));
        int recordMajor = 0, recordMinor = 0;
        const bool record =
            hasExtension(d, "RECORD") && XRecordQueryVersion(d, &recordMajor, &recordMinor) != 0;
        facilities_ =
            XFacilities{.capture = hasExtension(d, "Composite") && hasExtension(d, "MIT-SHM"),
                        .listen = xi && record};
    }
    return facilities_;
}

bool LinuxPermissionChecks::preflightScreenCaptureAccess() {
    const std::optional<XFacilities> facilities = xFacilities();
    return facilities && facilities->capture;
}

bool LinuxPermissionChecks::requestScreenCaptureAccess() {
    return preflightScreenCaptureAccess();
}

bool LinuxPermissionChecks::isProcessTrusted() {
    GDBusConnection* b = bus();
    if (!b) {
        return false;
    }
    // The poll asks every 1.5 s and each call is a round trip through the bus's worker thread.
    // The launcher's bus address stands while that same launcher answers, so it is asked again
    // only when another one replies to the status.
    GDBusMessage* call = g_dbus_message_new_method_call("org.a11y.Bus", "/org/a11y/bus",
                                                        "org.freedesktop.DBus.Properties", "Get");
    g_dbus_message_set_body(call, g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"));
    GDBusMessage* reply = g_dbus_connection_send_message_with_reply_sync(
        b, call, G_DBUS_SEND_MESSAGE_FLAGS_NONE, busTimeoutMs, nullptr, nullptr, nullptr);
    g_object_unref(call);
    if (!reply) {
        addressFrom_.clear();
        return false;
    }
    GVariant* body = g_dbus_message_get_body(reply);
    const bool answered =
        g_dbus_message_get_message_type(reply) == G_DBUS_MESSAGE_TYPE_METHOD_RETURN && body &&
        g_variant_is_of_type(body, G_VARIANT_TYPE("(v)"));
    bool enabled = false;
    if (answered) {
        GVariant* value = nullptr;
        g_variant_get(body, "(v)", &value);
        enabled =
            g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
        g_variant_unref(value);
    }
    const char* sender = g_dbus_message_get_sender(reply);
    const std::string launcher = sender ? sender : "";
    g_object_unref(reply);
    if (!answered) {
        addressFrom_.clear();
        return false;
    }
    if (launcher.empty() || launcher != addressFrom_) {
        GVariant* address =
            callA11yBus(b, "org.a11y.Bus", "GetAddress", nullptr, G_VARIANT_TYPE("(s)"));
        if (!address) {
            addressFrom_.clear();
            return false;
        }
        g_variant_unref(address);
        addressFrom_ = launcher;
    }
    return enabled;
}

bool LinuxPermissionChecks::isProcessTrustedWithPrompt(bool prompt) {
    if (prompt) {
        if (GDBusConnection* b = bus()) {
            GVariant* reply = callA11yBus(
                b, "org.freedesktop.DBus.Properties", "Set",
                g_variant_new("(ssv)", "org.a11y.Status", "IsEnabled", g_variant_new_boolean(TRUE)),
                nullptr);
            if (reply) {
                g_variant_unref(reply);
            }
        }
    }
    return isProcessTrusted();
}

std::uint32_t LinuxPermissionChecks::checkListenEventAccess() {
    const std::optional<XFacilities> facilities = xFacilities();
    return facilities && facilities->listen ? accessGranted : accessDenied;
}

bool LinuxPermissionChecks::requestListenEventAccess() {
    return checkListenEventAccess() == accessGranted;
}

} // namespace kestro::platform::linux_x11
