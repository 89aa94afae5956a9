#include "platform/linux/LinuxServices.h"

#include <xcb/xcb.h>

namespace kestro::platform::linux_x11 {

LinuxServices::LinuxServices()
    : taps(queue), input(queue), activator(applications),
      transport(std::make_shared<linux_curl::CurlTransport>()) {
    applications.setToolkitNames([this](int pid) { return accessibility.applicationName(pid); });
}

LinuxServices::~LinuxServices() = default;

bool LinuxServices::ok() const {
    return accessibility.ok() && capture.ok();
}

platform::Services LinuxServices::services(platform::ScreenCapture* captureInstead) {
    return platform::Services{taps,
                              queue,
                              clock,
                              displays,
                              accessibility,
                              applications,
                              captureInstead ? *captureInstead : capture,
                              permissionChecks,
                              urlOpener,
                              input,
                              activator};
}

std::unique_ptr<X11SurfaceWindows> LinuxServices::makeSurfaceWindows(void* toolkitConnection) {
    return std::make_unique<X11SurfaceWindows>(queue, toolkitConnection);
}

bool LinuxServices::connectionBroken(void* toolkitConnection) {
    return !toolkitConnection ||
           xcb_connection_has_error(static_cast<xcb_connection_t*>(toolkitConnection)) != 0;
}

} // namespace kestro::platform::linux_x11
