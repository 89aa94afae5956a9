#pragma once

#include "platform/Clock.h"
#include "platform/Services.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/CurlTransport.h"
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/LinuxPermissionChecks.h"
#include "platform/linux/LinuxURLOpener.h"
#include "platform/linux/X11AppActivator.h"
#include "platform/linux/X11Applications.h"
#include "platform/linux/X11DisplaySource.h"
#include "platform/linux/X11EventTaps.h"
#include "platform/linux/X11ScreenCapture.h"
#include "platform/linux/X11SurfaceWindows.h"
#include "platform/linux/X11SyntheticInput.h"

#include <memory>

namespace kestro::platform::linux_x11 {

// Every desktop service of the Linux build, wired to each other, in the one place that builds
// them for the application and the tests alike. DISPLAY and the session bus must already point
// at the desktop. Main thread.
class LinuxServices {
public:
    LinuxServices();
    ~LinuxServices();
    LinuxServices(const LinuxServices&) = delete;
    LinuxServices& operator=(const LinuxServices&) = delete;

    // Whether the accessibility bus and the screen capture came up.
    bool ok() const;

    // Each service by its interface.
    // `captureInstead`, when given, stands for the screen capture (it must outlive the use).
    platform::Services services(platform::ScreenCapture* captureInstead = nullptr);

    // The window-system side of the frames and the pill, on the toolkit's XCB connection
    // (which must outlive it).
    std::unique_ptr<X11SurfaceWindows> makeSurfaceWindows(void* toolkitConnection);
    // Whether the toolkit's XCB connection is broken (its server gone). Any thread.
    static bool connectionBroken(void* toolkitConnection);

    GLibMainQueue queue;
    platform::SystemClock clock;
    X11EventTaps taps;
    X11DisplaySource displays;
    AtspiAccessibility accessibility;
    X11Applications applications;
    X11ScreenCapture capture;
    LinuxPermissionChecks permissionChecks;
    LinuxURLOpener urlOpener;
    X11SyntheticInput input;
    X11AppActivator activator;
    std::shared_ptr<linux_curl::CurlTransport> transport;
};

} // namespace kestro::platform::linux_x11
