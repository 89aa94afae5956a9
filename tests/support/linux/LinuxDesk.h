#pragma once

#include "KestroCore/Recorder.h"
#include "platform/linux/LinuxServices.h"

#include <functional>
#include <optional>
#include <string>

namespace kestro::testing {

// The recorder on the Linux services, as the application assembles it, for tests on a private
// desktop (DISPLAY and the session bus must already point at it).
class LinuxDesk {
public:
    LinuxDesk();
    ~LinuxDesk();

    bool ok() const { return services.ok(); }

    // Stops the recorder and runs the main loop until the recording comes back.
    std::optional<Recording> stopRecording(double timeoutSeconds = 30);

    // The global frame of the first element of the process's tree that `match` accepts (read by
    // its role, subrole and title), found by walking the accessibility tree.
    using Match = std::function<bool(const std::optional<std::string>& role,
                                     const std::optional<std::string>& subrole,
                                     const std::optional<std::string>& title)>;
    std::optional<Rect> findFrame(int processID, const Match& match);
    // Runs the main loop until the process has an accessibility tree.
    bool awaitApplication(int processID, double timeoutSeconds = 15);

    platform::linux_x11::LinuxServices services;
    platform::linux_x11::GLibMainQueue& queue = services.queue;
    platform::linux_x11::AtspiAccessibility& accessibility = services.accessibility;
    platform::linux_x11::X11EventTaps& taps = services.taps;
    platform::linux_x11::X11ScreenCapture& capture = services.capture;
    Recorder recorder;
};

} // namespace kestro::testing
