// Kestro started while the desktop's accessibility is off: it asks for setup and will not
// record; once accessibility is switched on it notices by itself and the hotkeys record.

#include "tests/e2e/ScenarioSteps.h"

#include <algorithm>
#include <cstdlib>

using namespace kestro::testing::e2e;
namespace steps = kestro::testing::e2e::steps;

namespace {

// The desktop-wide switch that accessibility tools and Kestro's check read.
bool switchAccessibility(bool on) {
    return kestro::testing::DesktopSession::run(
               {"dbus-send", "--session", "--print-reply", "--dest=org.a11y.Bus", "/org/a11y/bus",
                "org.freedesktop.DBus.Properties.Set", "string:org.a11y.Status", "string:IsEnabled",
                std::string("variant:boolean:") + (on ? "true" : "false")}) == 0;
}

bool contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

class Permissions : public EndToEndTest {};

TEST_F(Permissions, WithAccessibilityOffSetupIsAskedAndSwitchingItOnArmsRecording) {
    ASSERT_TRUE(switchAccessibility(false));
    // Kestro's own widgets stay readable to the test while the switch is off.
    ::setenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1", 1);
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(kestro.running());
    const long pid = kestro.pid();

    // The banner, and a record button that cannot be pressed.
    EXPECT_TRUE(steps::waitForShowing(pid, "Finish setup", 30)) << "no permissions banner";
    EXPECT_TRUE(steps::findShowing(pid, "Open setup\u2026", "button"));
    const auto record = steps::waitForShowing(pid, "Record  (\u2303\u2303)", 10, "button");
    ASSERT_TRUE(record) << "no record button";
    EXPECT_FALSE(record->enabled) << "the record button is enabled without accessibility";

    // The onboarding opened by itself at the accessibility step (screen capture is granted).
    EXPECT_TRUE(steps::waitForShowing(pid, "Step 2 of 3", 20)) << "onboarding not at step 2";
    EXPECT_TRUE(steps::findShowing(pid, "Kestro needs to control your screen."));
    EXPECT_TRUE(steps::findShowing(pid, "Give access to accessibility", "button"));
    screenshot("permissions-off");

    // The tray menu asks for setup and will not start a recording.
    std::optional<XWindow> icon;
    ASSERT_TRUE(waitFor([&] { return (icon = trayIcon()).has_value(); }, 30))
        << "the tray icon did not dock";
    const std::string startItem = "Start recording  (\u2303\u2303)";
    const std::string paletteItem = "Run a skill\u2026  (\u2303/)";
    {
        MenuWatch watch(pid);
        const bool shown = steps::openTrayMenu(x(), *icon, watch, "Down", [&](MenuWatch& w) {
            const auto e = w.entries();
            return contains(e, "Finish setup\u2026") && contains(e, startItem);
        });
        screenshot("permissions-off-tray-menu");
        ASSERT_TRUE(shown) << "the tray menu does not offer setup";
        EXPECT_TRUE(contains(watch.disabledEntries(), startItem));
        EXPECT_TRUE(contains(watch.disabledEntries(), paletteItem));
        x().tap("Escape");
    }

    // Nor does a double tap record.
    ASSERT_TRUE(waitForHotkeys()) << "Kestro's hotkeys did not start";
    x().doubleTapControl();
    EXPECT_FALSE(waitFor([&] { return !frames().empty(); }, 2)) << "recorded without access";
    EXPECT_TRUE(folders("recordings").empty());

    // Switched on: the poll notices within its period; the onboarding ends on its success page.
    const auto switched = Clock::now();
    ASSERT_TRUE(switchAccessibility(true));
    ASSERT_TRUE(steps::waitForShowing(pid, "You're all set", 20)) << "no success page";
    const double noticed = secondsSince(switched);
    std::printf("[ figure ] accessibility switched on to the success page: %.2f s\n", noticed);
    RecordProperty("noticedSeconds", std::to_string(noticed));
    // The poll runs every 1.5 s (the figure above); the bound leaves a loaded machine slack
    // while still catching a poll that misses the change.
    EXPECT_LT(noticed, 6.0);
    screenshot("permissions-granted");
    EXPECT_TRUE(waitFor([&] { return !steps::findShowing(pid, "Finish setup"); }, 10))
        << "the banner stayed";

    // The hotkeys record now.
    const auto tapped = Clock::now();
    x().doubleTapControl();
    ASSERT_TRUE(waitFor([&] { return !frames().empty(); }, 20))
        << "the double tap did not record once access was given";
    const double armed = secondsSince(switched);
    std::printf("[ figure ] double tap to frames %.2f s; switch to recording %.2f s\n",
                secondsSince(tapped), armed);
    screenshot("permissions-recording");
    x().doubleTapControl();
    EXPECT_TRUE(waitFor([&] { return frames().empty(); }, 20)) << "the recording did not stop";
    EXPECT_TRUE(kestro.running());
}

} // namespace
