#include "platform/linux/X11Monitors.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/FixtureApp.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

// Xlib defines macros such as None and Bool; it comes after gtest.
#include <X11/Xlib.h>

using kestro::testing::DesktopSession;
namespace x11 = kestro::platform::linux_x11;

namespace {

using Clock = std::chrono::steady_clock;

// The whole of a /proc file (they report no size).
std::string slurp(const std::string& path) {
    std::string out;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char buffer[4096];
    for (ssize_t n; fd >= 0 && (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(n));
    }
    if (fd >= 0) {
        ::close(fd);
    }
    return out;
}

// An environment entry unique to one test run: whatever a session starts inherits it, down to
// the services the session bus and the accessibility bus launch, wherever they are reparented.
class Mark {
public:
    Mark()
        : name_("KESTRO_LEAK_MARK"),
          value_(std::to_string(::getpid()) + "-" +
                 std::to_string(Clock::now().time_since_epoch().count())) {}
    void apply() const { ::setenv(name_.c_str(), value_.c_str(), 1); }
    ~Mark() { ::unsetenv(name_.c_str()); }

    struct Process {
        pid_t pid;
        std::string command;
    };
    // The live processes carrying the mark, this one aside.
    std::vector<Process> carriers() const {
        const std::string entry = name_ + "=" + value_;
        std::vector<Process> found;
        DIR* proc = ::opendir("/proc");
        while (dirent* e = proc ? ::readdir(proc) : nullptr) {
            const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
            if (pid <= 0 || pid == ::getpid()) {
                continue;
            }
            const std::string dir = std::string("/proc/") + e->d_name;
            std::istringstream env(slurp(dir + "/environ"));
            bool carries = false;
            for (std::string var; std::getline(env, var, '\0');) {
                carries = carries || var == entry;
            }
            if (!carries) {
                continue;
            }
            std::string command = slurp(dir + "/cmdline");
            std::replace(command.begin(), command.end(), '\0', ' ');
            // A zombie has no command line left and holds nothing but its table entry.
            if (!command.empty()) {
                found.push_back({pid, command});
            }
        }
        if (proc) {
            ::closedir(proc);
        }
        return found;
    }
    bool carriedBy(const std::string& program) const {
        for (const Process& p : carriers()) {
            if (p.command.find(program) != std::string::npos) {
                return true;
            }
        }
        return false;
    }
    // Waits for every carrier to end; what is still there is listed, then killed, as a test
    // must not leave it behind even when it fails.
    std::string leftovers(double seconds) const {
        const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
        while (!carriers().empty() && Clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        std::string list;
        for (const Process& p : carriers()) {
            list += std::to_string(p.pid) + " " + p.command + "\n";
            ::kill(p.pid, SIGKILL);
        }
        return list;
    }

private:
    std::string name_;
    std::string value_;
};

bool waitFor(const std::function<bool()>& done, double seconds) {
    const auto deadline = Clock::now() + std::chrono::duration<double>(seconds);
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A process that owns a desktop with accessibility on and an application on it, as a test on a
// display has them; it holds them until told to end (by a byte on `go`) or until it is killed.
pid_t startSessionOwner(const Mark& mark, int go) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        mark.apply();
        {
            DesktopSession session({.accessibility = true});
            if (!session.ok() || session.spawn({kestro::testing::fixtureAppPath(), "--window-title",
                                                "Owned"}) <= 0) {
                ::_exit(1);
            }
            char byte;
            while (::read(go, &byte, 1) < 0) {
            }
        }
        ::_exit(0);
    }
    return pid;
}

} // namespace

TEST(DesktopSession, StartsAPrivateDisplayAndMonitorsAreListed) {
    DesktopSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    Display* display = XOpenDisplay(session.display().c_str());
    ASSERT_NE(display, nullptr);
    auto monitors = x11::listMonitors(display);
    ASSERT_EQ(monitors.size(), 1u);
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(monitors[0].width, 1920);
    EXPECT_EQ(monitors[0].height, 1080);

    // Two virtual monitors side by side, the right one primary: origins follow it.
    ASSERT_EQ(
        DesktopSession::run({"xrandr", "--setmonitor", "left", "960/254x1080/286+0+0", "none"}), 0);
    ASSERT_EQ(
        DesktopSession::run({"xrandr", "--setmonitor", "right", "960/254x1080/286+960+0", "none"}),
        0);
    monitors = x11::listMonitors(display);
    EXPECT_GE(monitors.size(), 2u);
    XCloseDisplay(display);
}

TEST(DesktopSession, AccessibilityBusAnswers) {
    DesktopSession session({.accessibility = true});
    ASSERT_TRUE(session.ok()) << session.error();
    EXPECT_FALSE(session.busAddress().empty());
    EXPECT_EQ(DesktopSession::run({"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                                   "/org/a11y/bus", "org.a11y.Bus.GetAddress"}),
              0);
}

// A session without a bus of its own: a D-Bus client started in it finds no bus and starts none
// (with a display and no address it would start one through the display, and that one outlives
// the test), and once the session has ended nothing it started is left.
TEST(DesktopSession, WithoutABusNoneIsStartedAndNothingIsLeft) {
    const Mark mark;
    mark.apply();
    {
        DesktopSession session;
        ASSERT_TRUE(session.ok()) << session.error();
        EXPECT_NE(DesktopSession::run({"dbus-send", "--session", "--print-reply",
                                       "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus.ListNames"}),
                  0);
        EXPECT_FALSE(mark.carriedBy("dbus-daemon"));
        EXPECT_FALSE(mark.carriedBy("dbus-launch"));
    }
    EXPECT_EQ(mark.leftovers(10), "");
}

// Whether the process that owns the session ends normally or is killed outright (as a test
// timing out is), the display, the session bus, the accessibility bus with its launcher and
// registry, and the application on the desktop all end with it.
TEST(DesktopSession, NothingOutlivesTheProcessThatOwnsIt) {
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "ending normally");
        const Mark mark;
        int go[2];
        ASSERT_EQ(::pipe(go), 0);
        const pid_t owner = startSessionOwner(mark, go[0]);
        ::close(go[0]);
        ASSERT_GT(owner, 0);
        // The registry starts once the application has registered on the accessibility bus: by
        // then everything is up.
        const bool up = waitFor([&] { return mark.carriedBy("at-spi2-registryd"); }, 60);
        if (killed) {
            ::kill(owner, SIGKILL);
        } else {
            EXPECT_EQ(::write(go[1], "x", 1), 1);
        }
        ::close(go[1]);
        int status = 0;
        ::waitpid(owner, &status, 0);
        EXPECT_TRUE(up) << "the accessibility registry did not start";
        if (!killed) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        }
        EXPECT_EQ(mark.leftovers(20), "");
    }
}
