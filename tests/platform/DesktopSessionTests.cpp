#include "platform/linux/X11Monitors.h"
#include "tests/support/DesktopSession.h"

#include <gtest/gtest.h>

// Xlib defines macros such as None and Bool; it comes after gtest.
#include <X11/Xlib.h>

using kestro::testing::DesktopSession;
namespace x11 = kestro::platform::linux_x11;

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
