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
    GVariant* address =
        callA11yBus(b, "org.a11y.Bus", "GetAddress", nullptr, G_VARIANT_TYPE("(s)"));
    if (!address) {
        return false;
    }
    g_variant_unref(address);
    GVariant* reply =
        callA11yBus(b, "org.freedesktop.DBus.Properties", "Get",
                    g_variant_new("(ss)", "org.a11y.Status", "IsEnabled"), G_VARIANT_TYPE("(v)"));
    if (!reply) {
        return false;
    }
    GVariant* value = nullptr;
    g_variant_get(reply, "(v)", &value);
    const bool enabled =
        g_variant_is_of_type(value, G_VARIANT_TYPE_BOOLEAN) && g_variant_get_boolean(value);
    g_variant_unref(value);
    g_variant_unref(reply);
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
