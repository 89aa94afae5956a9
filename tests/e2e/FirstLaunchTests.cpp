// A first start on a fresh desktop: the main window in its empty state, the pill resting at the
// right edge, the tray menu where a tray host runs, and the self-test run on the same data
// folder; on the usual desktop, with a compositing manager, and without a tray host.

#include "tests/support/e2e/EndToEndTest.h"

#include <algorithm>
#include <set>

using namespace kestro::testing::e2e;
namespace fs = std::filesystem;

namespace {

class FirstLaunch : public EndToEndOnDesktops {
protected:
    // The tray menu, opened from the docked icon with the context click, shows its entries.
    void checkTrayMenu(long pid) {
        std::optional<XWindow> icon;
        ASSERT_TRUE(waitFor([&] { return (icon = trayIcon()).has_value(); }, 30))
            << "the tray icon did not dock";
        const std::vector<std::string> entries = {
            "Ready", "Start recording  (\u2303\u2303)",
            "No skills yet \u2014 record one with \u2303\u2303", "Quit Kestro"};
        MenuWatch watch(pid);
        auto menuShows = [&] {
            const auto shown = watch.entries();
            return std::all_of(entries.begin(), entries.end(), [&](const std::string& e) {
                return std::find(shown.begin(), shown.end(), e) != shown.end();
            });
        };
        bool menu = false;
        for (int attempt = 0; attempt < 3 && !menu; ++attempt) {
            x().click(icon->centreX(), icon->centreY(), 3);
            settle(300);
            // The items speak up as the keyboard moves over them.
            x().tap("Down");
            menu = waitFor(menuShows, 10);
        }
        screenshot(shot("first-launch-tray-menu"));
        EXPECT_TRUE(menu) << "the tray menu did not show its entries";
        x().tap("Escape");
    }
};

TEST_P(FirstLaunch, EmptyMainWindowRestingPillTrayMenuAndACleanSelfTest) {
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(kestro.running());
    const auto monitor = desk().monitors().front();

    // The main window at its empty size, with the key cap above the empty-state text.
    const auto window = mainWindow();
    ASSERT_TRUE(window);
    EXPECT_EQ(window->width, 720);
    EXPECT_EQ(window->height, 520);
    const std::string emptyText = "Double-tap Control (\u2303) to create your first skill";
    std::optional<AccessibleNode> label;
    std::vector<AccessibleNode> tree;
    ASSERT_TRUE(waitFor(
        [&] {
            tree = accessibleTree(kestro.pid());
            for (const auto& node : tree) {
                if (node.name == emptyText && node.showing) {
                    label = node;
                }
            }
            return label.has_value();
        },
        30))
        << "no empty-state text in Kestro's accessibility tree";
    const bool keyCapAbove = std::any_of(tree.begin(), tree.end(), [&](const AccessibleNode& n) {
        const int centre = n.x + n.width / 2;
        return n.showing && n.name.empty() && n.width > 30 && n.width < 200 &&
               std::abs(centre - (label->x + label->width / 2)) <= 2 &&
               n.y + n.height <= label->y && n.y + n.height >= label->y - 40;
    });
    EXPECT_TRUE(keyCapAbove) << "no key cap above the empty-state text";

    // The pill at the right edge of the first monitor, collapsed, letting clicks through.
    std::optional<XWindow> restingPill;
    ASSERT_TRUE(waitFor([&] { return (restingPill = pill()).has_value(); }, 20));
    EXPECT_EQ(restingPill->right(), monitor.x + monitor.width);
    EXPECT_TRUE(x().inputShapeEmpty(restingPill->id)) << "the resting pill takes clicks";
    const auto shape = pillDrawn();
    ASSERT_TRUE(shape) << "the pill draws nothing";
    EXPECT_LE(shape->width, 30) << "the pill is not collapsed";
    EXPECT_LE(shape->height, 30) << "the pill is not collapsed";
    EXPECT_GE(shape->x + shape->width, monitor.x + monitor.width - 10);
    EXPECT_EQ(pillRedPixels(), 0) << "the resting pill shows the recording dot";
    screenshot(shot("first-launch"));

    if (desk().options().trayHost) {
        checkTrayMenu(kestro.pid());
    }

    // The self-test of the shipped program on the same data folder passes and leaves it as it
    // was.
    const auto before = allFiles();
    const std::set<std::string> skillsBefore(folders("skills").begin(), folders("skills").end());
    const Finished selfTest = runToEnd({KestroProcess::programPath(), "--selftest"}, 120);
    EXPECT_EQ(selfTest.status, 0) << selfTest.out;
    EXPECT_NE(selfTest.out.find("PASS"), std::string::npos) << selfTest.out;
    EXPECT_EQ(allFiles(), before);
    EXPECT_TRUE(folders("skills").empty());
    EXPECT_TRUE(folders("recordings").empty());
    EXPECT_TRUE(kestro.running());
}

INSTANTIATE_TEST_SUITE_P(Desktops, FirstLaunch, ::testing::ValuesIn(desktopKinds()),
                         FirstLaunch::testName);

} // namespace
