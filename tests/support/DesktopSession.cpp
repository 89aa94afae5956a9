#include "tests/support/DesktopSession.h"

#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace kestro::testing {

namespace {

using Clock = std::chrono::steady_clock;

// Reads what a child writes to `fd` until a newline, EOF or the deadline.
std::string readLine(int fd, double seconds) {
    std::string out;
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < deadline) {
        pollfd p{fd, POLLIN, 0};
        int left = static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count());
        if (::poll(&p, 1, std::max(left, 1)) <= 0) {
            continue;
        }
        char c;
        ssize_t n = ::read(fd, &c, 1);
        if (n <= 0 || c == '\n') {
            break;
        }
        out.push_back(c);
    }
    return out;
}

} // namespace

DesktopSession::DesktopSession() : DesktopSession(Options{}) {}

DesktopSession::DesktopSession(Options options) {
    if (const char* d = std::getenv("DISPLAY")) {
        hadDisplay_ = true;
        savedDisplay_ = d;
    }
    if (const char* b = std::getenv("DBUS_SESSION_BUS_ADDRESS")) {
        hadBus_ = true;
        savedBus_ = b;
    }
    ok_ = options.monitors ? startXorg(options) : startXvfb(options);
    if (ok_ && (options.dbus || options.accessibility)) {
        ok_ = startBus(options.accessibility);
    } else if (ok_) {
        // With a display and no bus address, D-Bus clients (toolkits, this process included)
        // start a session bus of their own through the display and leave it running after the
        // test. An address that can never exist makes them go without one.
        ::setenv("DBUS_SESSION_BUS_ADDRESS", noBusAddress, 1);
    }
}

bool DesktopSession::startXvfb(const Options& options) {
    int fds[2];
    if (::pipe(fds) != 0) {
        error_ = "pipe failed";
        return false;
    }
    // -displayfd makes Xvfb pick a free display and report it only once it accepts clients;
    // -noreset keeps it from resetting when its last client leaves, which refuses whoever
    // connects meanwhile.
    const std::string screen =
        std::to_string(options.width) + "x" + std::to_string(options.height) + "x24";
    xvfb_ = spawnChild({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen,
                        "-nolisten", "tcp", "-noreset", "+extension", "RANDR", "+extension",
                        "RECORD"},
                       {.keep = fds[1]});
    ::close(fds[1]);
    std::string number = readLine(fds[0], 15);
    ::close(fds[0]);
    if (xvfb_ < 0 || number.empty()) {
        error_ = "Xvfb did not start";
        return false;
    }
    display_ = ":" + number;
    ::setenv("DISPLAY", display_.c_str(), 1);
    return true;
}

bool DesktopSession::startXorg(const Options& options) {
    if (::geteuid() != 0) {
        error_ = "an Xorg server with the dummy driver needs root";
        return false;
    }
    char folder[] = "/tmp/kestro-xorg-XXXXXX";
    if (!::mkdtemp(folder)) {
        error_ = "no temporary folder";
        return false;
    }
    configDir_ = folder;
    const std::string config = configDir_ + "/xorg.conf";
    {
        // No input devices: synthetic input comes through XTest. Room for a 4K desktop.
        std::ofstream out(config);
        out << "Section \"ServerFlags\"\n"
               "    Option \"AutoAddDevices\" \"false\"\n"
               "    Option \"AutoEnableDevices\" \"false\"\n"
               "    Option \"DontVTSwitch\" \"true\"\n"
               "EndSection\n"
               "Section \"Device\"\n"
               "    Identifier \"dummy\"\n"
               "    Driver \"dummy\"\n"
               "    VideoRam 256000\n"
               "EndSection\n"
               "Section \"Monitor\"\n"
               "    Identifier \"monitor\"\n"
               "    HorizSync 5.0-1000.0\n"
               "    VertRefresh 5.0-200.0\n"
               "EndSection\n"
               "Section \"Screen\"\n"
               "    Identifier \"screen\"\n"
               "    Device \"dummy\"\n"
               "    Monitor \"monitor\"\n"
               "    DefaultDepth 24\n"
               "    SubSection \"Display\"\n"
               "        Depth 24\n"
               "        Virtual 3840 2160\n"
               "    EndSubSection\n"
               "EndSection\n";
        if (!out) {
            error_ = "could not write " + config;
            return false;
        }
    }
    int fds[2];
    if (::pipe(fds) != 0) {
        error_ = "pipe failed";
        return false;
    }
    xvfb_ = spawnChild({"Xorg", "-displayfd", std::to_string(fds[1]), "-config", config, "-logfile",
                        configDir_ + "/xorg.log", "-nolisten", "tcp", "-noreset", "-novtswitch",
                        "-sharevts", "+extension", "RANDR", "+extension", "RECORD"},
                       {.keep = fds[1]});
    ::close(fds[1]);
    std::string number = readLine(fds[0], 30);
    ::close(fds[0]);
    if (xvfb_ < 0 || number.empty()) {
        error_ = "Xorg with the dummy driver did not start (see " + configDir_ + "/xorg.log)";
        return false;
    }
    display_ = ":" + number;
    ::setenv("DISPLAY", display_.c_str(), 1);
    const std::string mode = std::to_string(options.width) + "x" + std::to_string(options.height);
    if (run({"xrandr", "--output", "DUMMY0", "--mode", mode, "--pos", "0x0"}) != 0) {
        error_ = "xrandr could not set " + mode + " on DUMMY0";
        return false;
    }
    return true;
}

bool DesktopSession::startBus(bool accessibility) {
    int fds[2];
    if (::pipe(fds) != 0) {
        error_ = "pipe failed";
        return false;
    }
    bus_ =
        spawnChild({"dbus-daemon", "--session", "--nofork", "--print-address=1"}, {.out = fds[1]});
    ::close(fds[1]);
    busAddress_ = readLine(fds[0], 10);
    ::close(fds[0]);
    if (bus_ < 0 || busAddress_.empty()) {
        error_ = "dbus-daemon did not start";
        return false;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress_.c_str(), 1);
    if (accessibility) {
        // Toolkits expose their accessibility trees only when this is set before they start.
        int status = run({"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                          "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                          "string:org.a11y.Status", "string:IsEnabled", "variant:boolean:true"});
        if (status != 0) {
            error_ = "could not enable accessibility on the session bus";
            return false;
        }
    }
    return true;
}

DesktopSession::~DesktopSession() {
    for (auto it = children_.rbegin(); it != children_.rend(); ++it) {
        stopChild(*it);
    }
    // The accessibility bus launcher and registry were started by the bus: they end with it.
    stopChild(bus_);
    stopChild(xvfb_);
    if (!configDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(configDir_, ignored);
    }
    if (hadDisplay_) {
        ::setenv("DISPLAY", savedDisplay_.c_str(), 1);
    } else {
        ::unsetenv("DISPLAY");
    }
    if (hadBus_) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", savedBus_.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

pid_t DesktopSession::spawn(const std::vector<std::string>& argv) {
    pid_t pid = spawnChild(argv);
    if (pid > 0) {
        children_.push_back(pid);
    }
    return pid;
}

void DesktopSession::stop(pid_t pid) {
    stopChild(pid);
    std::erase(children_, pid);
}

void DesktopSession::killDisplay() {
    if (xvfb_ > 0) {
        ::kill(xvfb_, SIGKILL);
        int status;
        ::waitpid(xvfb_, &status, 0);
        xvfb_ = -1;
    }
}

int DesktopSession::run(const std::vector<std::string>& argv, double timeoutSeconds) {
    pid_t pid = spawnChild(argv);
    if (pid < 0) {
        return -1;
    }
    const auto deadline = Clock::now() + std::chrono::duration<double>(timeoutSeconds);
    while (Clock::now() < deadline) {
        int status;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stopChild(pid);
    return -1;
}

} // namespace kestro::testing
