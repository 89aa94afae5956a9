#include "platform/linux/DBusSession.h"

#include <gio/gio.h>

#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace kestro::platform::linux_x11 {

namespace {
// The session bus address, without starting a bus where none runs (GIO would try to).
std::string sessionBusAddress() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
        return address;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        const std::string path = std::string(runtime) + "/bus";
        struct stat info {};
        if (::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
            gchar* escaped = g_dbus_address_escape_value(path.c_str());
            std::string address = std::string("unix:path=") + escaped;
            g_free(escaped);
            return address;
        }
    }
    return {};
}
} // namespace

GDBusConnection* openSessionBus() {
    const std::string address = sessionBusAddress();
    if (address.empty()) {
        return nullptr;
    }
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
    if (bus) {
        g_dbus_connection_set_exit_on_close(bus, FALSE);
    }
    return bus;
}

} // namespace kestro::platform::linux_x11
