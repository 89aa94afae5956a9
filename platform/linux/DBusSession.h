#pragma once

using GDBusConnection = struct _GDBusConnection;

namespace kestro::platform::linux_x11 {

// A private connection to the session bus named by the environment, or null without one.
// Private, so that the bus going away closes only this connection: GIO's shared connection
// ends the process in that case.
GDBusConnection* openSessionBus();

} // namespace kestro::platform::linux_x11
