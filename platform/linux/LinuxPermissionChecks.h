#pragma once

#include "platform/PermissionChecks.h"

#include <optional>
#include <string>

using Display = struct _XDisplay;
using GDBusConnection = struct _GDBusConnection;

namespace kestro::platform::linux_x11 {

// Linux has no consent model for these permissions; each reports whether the facility works:
// - screen capture: an X11 session whose server has Composite and MIT-SHM;
// - accessibility: the AT-SPI bus answers on the session bus and its org.a11y.Status
//   IsEnabled property is true (toolkits expose their widgets only then); the prompt sets it;
// - listen-event access: an X11 session whose server has XInput 2.2 or later and RECORD.
// A Wayland session denies the two X11 ones: its X server sees only X clients.
// Requests other than the accessibility prompt change nothing. Main thread.
class LinuxPermissionChecks final : public PermissionChecks {
public:
    LinuxPermissionChecks() = default;
    ~LinuxPermissionChecks() override;
    LinuxPermissionChecks(const LinuxPermissionChecks&) = delete;
    LinuxPermissionChecks& operator=(const LinuxPermissionChecks&) = delete;

    bool preflightScreenCaptureAccess() override;
    bool requestScreenCaptureAccess() override;
    bool isProcessTrusted() override;
    bool isProcessTrustedWithPrompt(bool prompt) override;
    std::uint32_t checkListenEventAccess() override;
    bool requestListenEventAccess() override;

private:
    struct XFacilities {
        bool capture = false; // Composite and MIT-SHM
        bool listen = false;  // XInput 2.2 or later and RECORD
    };
    // The server's extensions cannot change while we stay connected to it, and the permission
    // poll asks every 1.5 s: they are asked once per connection. Absent without a usable X11
    // connection.
    std::optional<XFacilities> xFacilities();

    Display* display();
    GDBusConnection* bus();
    Display* display_ = nullptr;
    GDBusConnection* bus_ = nullptr;
    std::optional<XFacilities> facilities_;
    // The unique bus name of the launcher that last gave its bus address; empty when none did.
    std::string addressFrom_;
};

} // namespace kestro::platform::linux_x11
