// Quitting while a cast waits on a model service that does not answer: the process ends at once
// whichever way the user quits, the request in flight notwithstanding.

#include "tests/e2e/ScenarioSteps.h"

#include <algorithm>

using namespace kestro::testing::e2e;
namespace steps = kestro::testing::e2e::steps;

namespace {

enum class Way { trayMenu, controlQ };

struct QuitCase {
    const char* name;
    Way way;
};

class Quit : public EndToEndTest, public ::testing::WithParamInterface<QuitCase> {};

kestro::Skill fileIssue() {
    return steps::linearSkill("File a bug", "file a bug", "Files a bug in Linear.",
                              "Create the issue");
}

TEST_P(Quit, DuringAStalledCastTheProcessEndsWithinASecond) {
    setApiKey("sk-test-quit");
    connectLinear("lin-token");
    storeSkill(fileIssue());
    model().stall(ModelStandIn::textReply("late"), std::chrono::seconds(120));
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(kestro.running());

    // Cast from the row's play button; the stand-in holds the request.
    const auto row = steps::waitForRow(kestro.pid(), "/file-a-bug", 30);
    ASSERT_TRUE(row) << "no row for the stored skill";
    steps::clickCentre(x(), row->play);
    ASSERT_TRUE(model().waitUntilHolding(std::chrono::seconds(30)))
        << "the cast's request did not arrive";
    // The frames say a cast runs (reading the window's texts is slow while they animate).
    ASSERT_TRUE(waitFor([&] { return !frames().empty(); }, 20)) << "no frames for the cast";

    Clock::time_point asked;
    if (GetParam().way == Way::trayMenu) {
        std::optional<XWindow> icon;
        ASSERT_TRUE(waitFor([&] { return (icon = trayIcon()).has_value(); }, 30))
            << "the tray icon did not dock";
        MenuWatch watch(kestro.pid());
        // From no highlighted item, Up goes to the last one.
        const bool onQuit = steps::openTrayMenu(x(), *icon, watch, "Up", [](MenuWatch& w) {
            const auto entries = w.entries();
            return !entries.empty() && entries.back() == "Quit Kestro";
        });
        ASSERT_TRUE(onQuit) << "the tray menu did not show Quit Kestro last";
        screenshot("quit-tray-menu");
        asked = Clock::now();
        x().tap("Return");
    } else {
        // The main window has the keyboard since its play button was pressed.
        const auto main = mainWindow();
        ASSERT_TRUE(main);
        ASSERT_TRUE(waitFor([&] { return x().windowPid(x().focusWindow()) == kestro.pid(); }, 10))
            << "Kestro's window does not have the keyboard";
        screenshot("quit-control-q");
        asked = Clock::now();
        x().chord({"Control_L", "q"});
    }
    const auto status = kestro.wait(10);
    const double took = secondsSince(asked);
    std::printf("[ figure ] quit by %s during a stalled cast: %.2f s\n", GetParam().name, took);
    RecordProperty("quitSeconds", std::to_string(took));
    ASSERT_TRUE(status) << "Kestro did not end within 10 s";
    EXPECT_EQ(*status, 0);
    // About a second; the margin is for a loaded machine, the stalled request holds for a minute.
    EXPECT_LT(took, 3.0) << "quitting waited on the stalled request";
    model().release();
}

void PrintTo(const QuitCase& c, std::ostream* out) {
    *out << c.name;
}

INSTANTIATE_TEST_SUITE_P(Ways, Quit,
                         ::testing::Values(QuitCase{"the tray menu", Way::trayMenu},
                                           QuitCase{"Control-Q", Way::controlQ}),
                         [](const ::testing::TestParamInfo<QuitCase>& param) {
                             return param.param.way == Way::trayMenu ? std::string("TrayMenu")
                                                                     : std::string("ControlQ");
                         });

} // namespace
