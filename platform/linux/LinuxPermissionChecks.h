#pragma once

#include "platform/PermissionChecks.h"

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
    Display* display();
    GDBusConnection* bus();
    Display* display_ = nullptr;
    GDBusConnection* bus_ = nullptr;
};

} // namespace kestro::platform::linux_x11
