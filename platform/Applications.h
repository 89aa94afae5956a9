#pragma once

#include <optional>
#include <string>

namespace kestro::platform {

// A running application as the desktop knows it.
struct RunningApplication {
    int processIdentifier = 0;
    std::optional<std::string> bundleIdentifier; // stable identity of the application
    std::optional<std::string> localizedName;    // the name people see
};

// The desktop's running applications. Main thread only.
class Applications {
public:
    virtual ~Applications() = default;
    // The application whose window is in front and has the keyboard.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    virtual std::optional<RunningApplication> runningApplication(int processID) = 0;
};

} // namespace kestro::platform
