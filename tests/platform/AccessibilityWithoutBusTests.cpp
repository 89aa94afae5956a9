#include "KestroCore/AXResolver.h"
#include "platform/linux/AtspiAccessibility.h"
#include "platform/linux/X11Applications.h"
#include "tests/support/DesktopSession.h"

#include <gtest/gtest.h>

#include <cstdlib>

using namespace kestro;
namespace x11 = platform::linux_x11;

// A session without an accessibility bus: nothing is found, and the process goes on.
TEST(AccessibilityWithoutBus, AnswersNothing) {
    kestro::testing::DesktopSession session;
    ASSERT_TRUE(session.ok()) << session.error();
    ::setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/kestro-bus", 1);
    x11::AtspiAccessibility access;
    EXPECT_FALSE(access.ok());
    x11::X11Applications apps;
    AXResolver resolver(access, apps);
    EXPECT_FALSE(resolver.target(Point{10, 10}));
    EXPECT_FALSE(resolver.focusedTarget());
    EXPECT_TRUE(resolver.secureFieldRects().empty());
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}
