#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace kestro::testing {

// A private Xvfb on a free display number, and optionally a private D-Bus session bus with
// accessibility switched on. DISPLAY and DBUS_SESSION_BUS_ADDRESS point at them while the session
// lives (without a bus of its own, the address is noBusAddress); everything started is stopped in
// the destructor, and ends with the test process should that be killed.
class DesktopSession {
public:
    // A session bus address nobody can listen on (/dev/null is no folder).
    static constexpr const char* noBusAddress = "unix:path=/dev/null/no-session-bus";

    struct Options {
        int width = 1920;
        int height = 1080;
        bool dbus = false;
        bool accessibility = false; // implies dbus
        // An Xorg server with the dummy video driver in place of Xvfb: its outputs (DUMMY0 to
        // DUMMY15) are monitors that xrandr switches on and off, as toolkits see them. Only
        // DUMMY0 is on, at width x height. Needs root, as Xorg does.
        bool monitors = false;
    };

    DesktopSession();
    explicit DesktopSession(Options options);
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }
    const std::string& display() const { return display_; }
    const std::string& busAddress() const { return busAddress_; }

    // Starts a program in this session (its environment is ours); stopped with the session
    // unless stopped earlier. Returns its pid, or -1.
    pid_t spawn(const std::vector<std::string>& argv);
    void stop(pid_t pid);
    // The display server dies at once (as in a crash); everything else stays.
    void killDisplay();

    // Runs a program to completion and returns its exit status (or -1).
    static int run(const std::vector<std::string>& argv, double timeoutSeconds = 20);

private:
    bool startXvfb(const Options& options);
    bool startXorg(const Options& options);
    bool startBus(bool accessibility);

    bool ok_ = false;
    std::string error_;
    std::string display_;
    std::string busAddress_;
    std::string savedDisplay_;
    std::string savedBus_;
    bool hadDisplay_ = false;
    bool hadBus_ = false;
    pid_t xvfb_ = -1;
    pid_t bus_ = -1;
    std::vector<pid_t> children_;
    std::string configDir_;
};

} // namespace kestro::testing
