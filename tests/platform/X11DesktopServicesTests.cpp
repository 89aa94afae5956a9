#include "KestroCore/Displays.h"
#include "KestroCore/PermissionsManager.h"
#include "platform/linux/LinuxPermissionChecks.h"
#include "platform/linux/LinuxURLOpener.h"
#include "platform/linux/X11DisplaySource.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

// Xlib defines macros such as None and Bool; it comes after gtest.
#include <X11/Xlib.h>

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

using namespace kestro;
using kestro::platform::linux_x11::LinuxPermissionChecks;
using kestro::platform::linux_x11::LinuxURLOpener;
using kestro::platform::linux_x11::X11DisplaySource;
using kestro::testing::DesktopSession;

namespace {
std::uint32_t atom(Display* d, const char* name) {
    return static_cast<std::uint32_t>(XInternAtom(d, name, False));
}

// Sets an environment variable for the scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            saved_ = old;
        }
        if (value) {
            ::setenv(name, value, 1);
        } else {
            ::unsetenv(name);
        }
    }
    ~ScopedEnv() {
        if (saved_) {
            ::setenv(name_, saved_->c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }

private:
    const char* name_;
    std::optional<std::string> saved_;
};
} // namespace

TEST(X11Displays, MonitorsAreTheDisplaysWithThePrimaryAsMain) {
    DesktopSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    // Monitors set by clients live only while some client is connected.
    Display* held = XOpenDisplay(session.display().c_str());
    ASSERT_NE(held, nullptr);
    X11DisplaySource source;

    auto all = Displays::all(source);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0].frame, Rect::make(0, 0, 1920, 1080));
    EXPECT_TRUE(all[0].isMain);
    EXPECT_EQ(all[0].scaleFactor, 1.0);

    // Two monitors side by side; the right one is primary, so global points start at its
    // top-left corner.
    ASSERT_EQ(
        DesktopSession::run({"xrandr", "--setmonitor", "left", "960/254x1080/286+0+0", "screen"}),
        0);
    ASSERT_EQ(
        DesktopSession::run({"xrandr", "--setmonitor", "*right", "960/254x1080/286+960+0", "none"}),
        0);
    all = Displays::all(source);
    ASSERT_EQ(all.size(), 2u);
    const DisplayInfo right{atom(held, "right"), Rect::make(0, 0, 960, 1080), 1.0, true};
    const DisplayInfo left{atom(held, "left"), Rect::make(-960, 0, 960, 1080), 1.0, false};
    EXPECT_EQ(all, (std::vector<DisplayInfo>{right, left}));
    EXPECT_EQ(Displays::display(Point{-1, 500}, all), left);
    EXPECT_EQ(Displays::display(Point{0, 500}, all), right);
    EXPECT_EQ(Displays::display(Point{5000, 5000}, all), right);
    XCloseDisplay(held);
}

TEST(X11Displays, NoServerGivesNoDisplays) {
    ScopedEnv display("DISPLAY", ":9999");
    X11DisplaySource source;
    EXPECT_TRUE(Displays::all(source).empty());
}

namespace {
// Programs standing in for the desktop's tools: each writes its arguments, one a line, to
// <name>.args in the folder.
struct FakeTools {
    kestro::testing::TempDataDir temp;
    std::filesystem::path bin = temp.root() / "bin";
    FakeTools(std::initializer_list<const char*> names) {
        std::filesystem::create_directories(bin);
        for (const char* name : names) {
            const auto path = bin / name;
            std::ofstream(path) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \""
                                << (bin / name).string() << ".args\"\n";
            ::chmod(path.c_str(), 0755);
        }
    }
    // The arguments a program got, once it ran.
    std::optional<std::string> args(const char* name) {
        const auto path = bin / (std::string(name) + ".args");
        for (int i = 0; i < 300; ++i) {
            std::ifstream in(path);
            std::stringstream s;
            s << in.rdbuf();
            if (in && !s.str().empty()) {
                return s.str();
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return std::nullopt;
    }
};
} // namespace

TEST(LinuxURLOpener, SettingsPanesAndURLsOpenWithoutAShell) {
    FakeTools tools{"gnome-control-center", "xdg-open"};
    ScopedEnv path("PATH", tools.bin.c_str());
    LinuxURLOpener opener;

    EXPECT_EQ(LinuxURLOpener::commandFor(settingsURL(Permission::accessibility)),
              (std::vector<std::string>{"gnome-control-center", "universal-access"}));
    EXPECT_EQ(LinuxURLOpener::commandFor(settingsURL(Permission::inputMonitoring)),
              std::vector<std::string>{"gnome-control-center"});
    EXPECT_TRUE(LinuxURLOpener::commandFor(std::string(settingsURLPrefix) + "Bluetooth").empty());
    EXPECT_TRUE(LinuxURLOpener::commandFor("-x").empty()) << "would read as an option";

    ASSERT_TRUE(opener.open(settingsURL(Permission::accessibility)));
    EXPECT_EQ(tools.args("gnome-control-center"), "universal-access\n");

    const std::string hostile = "https://example.org/a?b=$(touch pwned);`touch pwned`&c='d'";
    ASSERT_TRUE(opener.open(hostile));
    EXPECT_EQ(tools.args("xdg-open"), hostile + "\n");
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_FALSE(std::filesystem::exists(tools.bin / "pwned"));

    ScopedEnv empty("PATH", (tools.temp.root() / "nothing").c_str());
    EXPECT_FALSE(opener.open(settingsURL(Permission::accessibility)));
    EXPECT_FALSE(opener.open("https://example.org"));
}

TEST(LinuxPermissions, StatusesFollowWhatTheSessionOffers) {
    DesktopSession session({.dbus = true});
    ASSERT_TRUE(session.ok()) << session.error();
    // Accessibility starts switched off on this bus.
    ASSERT_EQ(DesktopSession::run({"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus",
                                   "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                                   "string:org.a11y.Status", "string:IsEnabled",
                                   "variant:boolean:false"}),
              0);
    FakeTools tools{"gnome-control-center"};
    ScopedEnv path("PATH", (tools.bin.string() + ":/usr/bin:/bin").c_str());
    LinuxPermissionChecks checks;
    LinuxURLOpener opener;
    PermissionsManager manager(checks, opener);
    EXPECT_EQ(manager.status(Permission::screenRecording), PermissionStatus::granted);
    EXPECT_EQ(manager.status(Permission::accessibility), PermissionStatus::denied);
    EXPECT_EQ(manager.status(Permission::inputMonitoring), PermissionStatus::granted);
    EXPECT_FALSE(manager.allGranted());

    int notices = 0;
    auto subscription = manager.observeWillChange([&] { ++notices; });
    manager.request(Permission::accessibility);
    EXPECT_EQ(tools.args("gnome-control-center"), "universal-access\n");
    EXPECT_EQ(notices, 0);
    manager.refresh();
    manager.refresh();
    EXPECT_EQ(notices, 1);
    EXPECT_TRUE(manager.allGranted());

    {
        // On Wayland the X server sees only X clients: nothing to capture or observe there.
        ScopedEnv wayland("XDG_SESSION_TYPE", "wayland");
        manager.refresh();
        EXPECT_EQ(manager.status(Permission::screenRecording), PermissionStatus::denied);
        EXPECT_EQ(manager.status(Permission::inputMonitoring), PermissionStatus::denied);
        EXPECT_EQ(manager.status(Permission::accessibility), PermissionStatus::granted);
    }
    {
        ScopedEnv noDisplay("DISPLAY", ":9999");
        ScopedEnv noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        LinuxPermissionChecks bare;
        EXPECT_FALSE(bare.preflightScreenCaptureAccess());
        EXPECT_FALSE(bare.isProcessTrusted());
        EXPECT_EQ(bare.checkListenEventAccess(), platform::PermissionChecks::accessDenied);
    }
}
