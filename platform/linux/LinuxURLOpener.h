#pragma once

#include "platform/URLOpener.h"

#include <string>
#include <vector>

namespace kestro::platform::linux_x11 {

// Opens URLs with xdg-open and the settings locations (the settings URL prefix followed by a
// pane) with the desktop's own settings tool: the accessibility settings for "Accessibility";
// for "ScreenCapture" and "ListenEvent", which X11 has no switch for, the settings' main
// window. Programs are started from an argument list, never through a shell, and reaped.
class LinuxURLOpener final : public URLOpener {
public:
    bool open(const std::string& url) override;

    // The argument list `open` starts for a URL, the first whose program is on the PATH; empty
    // when there is none.
    static std::vector<std::string> commandFor(const std::string& url);
};

} // namespace kestro::platform::linux_x11
