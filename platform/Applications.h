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

// What the desktop can tell of the window that has the keyboard.
struct FrontmostRead {
    std::optional<RunningApplication> application;
    // A window has the keyboard but its application cannot be told (a remote client, a window
    // without a process, a lost display connection): what it shows and reads is not known.
    bool ownerUnknown = false;
};

// The desktop's running applications. Main thread only.
class Applications {
public:
    virtual ~Applications() = default;
    // The application whose window is in front and has the keyboard.
    virtual std::optional<RunningApplication> frontmostApplication() = 0;
    // As frontmostApplication(), telling an unknown owner apart from no window in front.
    virtual FrontmostRead readFrontmostApplication() { return {frontmostApplication(), false}; }
    virtual std::optional<RunningApplication> runningApplication(int processID) = 0;
};

} // namespace kestro::platform
