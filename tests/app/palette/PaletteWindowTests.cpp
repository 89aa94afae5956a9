#include "Kestro/palette/PaletteView.h"
#include "Kestro/palette/PaletteWindow.h"
#include "platform/fake/FakeSurfaceWindows.h"
#include "tests/app/QtTestApp.h"

#include <QDir>
#include <QLineEdit>
#include <QPixmap>
#include <QPointer>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kestro;

namespace {

struct Cast {
    std::string name;
    std::map<std::string, std::string> parameters;
};

// A palette owner that records what the palette asks of it.
struct PaletteFixture : ::testing::Test {
    PaletteWindow palette;
    std::vector<Skill> skills;
    std::vector<Cast> casts;
    int toggles = 0;
    int closed = 0;

    void SetUp() override {
        kestro::testing::qtApp();
        for (int i = 0; i < 12; ++i) {
            Skill s;
            s.name = "Skill " + std::to_string(i);
            skills.push_back(s);
        }
        // Names are data: drawn as typed, never as markup.
        skills[5].name = "<b>x</b> & weekly report";
        skills[6].name = "Send invoice to Crème Brûlée";
    }
    void TearDown() override {
        palette.close();
        QTest::qWait(1);
    }

    PaletteWindow::Host host() {
        return PaletteWindow::Host{
            .skills = [this] { return skills; },
            .toggleRecording = [this] { ++toggles; },
            .cast =
                [this](const Skill& s, const std::map<std::string, std::string>& p) {
                    casts.push_back({s.name, p});
                },
        };
    }
    void open() {
        palette.show(host(), [this] { ++closed; });
        ASSERT_TRUE(palette.isOpen());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(palette.panel()));
    }
    PaletteView& view() { return *palette.view(); }
    QLineEdit& field() { return *view().queryField(); }
    // Waits past the slide-out and its delayed close.
    void waitPastClose() { QTest::qWait(PaletteView::closeDelayMs + 150); }
};

} // namespace

TEST_F(PaletteFixture, EntranceSlidesInAndFocusesTheQuery) {
    open();
    EXPECT_EQ(view().model().shownCount(), 8u);
    EXPECT_LT(view().revealProgress(), 1.0);
    QTRY_COMPARE_WITH_TIMEOUT(view().revealProgress(), 1.0, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(field().hasFocus(), 3000);
    QTRY_COMPARE_WITH_TIMEOUT(view().spinAngle(), 360.0, 3000);
    EXPECT_EQ(view().closeButton()->toolTip(), "Close");

    // For a person to look at: the panel as drawn, transparent where nothing is painted.
    QDir().mkpath("artifacts");
    EXPECT_TRUE(palette.panel()->grab().save("artifacts/palette-offscreen.png"));
}

TEST_F(PaletteFixture, EscapeAndDeactivationCloseAtOnceWithOneCallback) {
    for (bool escape : {true, false}) {
        closed = 0;
        open();
        QWidget* panel = palette.panel();
        if (escape) {
            QTest::keyClick(&field(), Qt::Key_Escape);
        } else {
            QEvent deactivate(QEvent::WindowDeactivate);
            QApplication::sendEvent(panel, &deactivate);
        }
        EXPECT_FALSE(palette.isOpen()) << escape;
        EXPECT_FALSE(panel->isVisible()) << escape;
        EXPECT_EQ(closed, 1) << escape;
        palette.close();
        EXPECT_EQ(closed, 1) << escape;
    }
}

TEST_F(PaletteFixture, ReturnCastsOnceThenClosesAfterTheSlideOut) {
    skills[0].parameters = {Parameter{.name = "city", .exampleValue = "Lisbon"}};
    open();
    QTest::keyClicks(&field(), "skill 0");
    QTest::keyClick(&field(), Qt::Key_Return);
    ASSERT_EQ(casts.size(), 1u);
    EXPECT_EQ(casts[0].name, "Skill 0");
    EXPECT_EQ(casts[0].parameters.at("city"), "Lisbon");
    // Still on screen for the slide-out; a second Return or a click does nothing more.
    EXPECT_TRUE(palette.isOpen());
    QTest::keyClick(&field(), Qt::Key_Return);
    QTest::mouseClick(&view(), Qt::LeftButton, {}, view().rowRect(0).center().toPoint());
    EXPECT_EQ(casts.size(), 1u);
    EXPECT_EQ(closed, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!palette.isOpen(), 3000);
    EXPECT_EQ(closed, 1);
    waitPastClose();
    EXPECT_EQ(closed, 1);
    EXPECT_EQ(toggles, 0);
}

TEST_F(PaletteFixture, KeysMoveTheHighlightAndTheCreateRowRecords) {
    open();
    QTest::keyClick(&field(), Qt::Key_Down);
    QTest::keyClick(&field(), Qt::Key_Down);
    EXPECT_EQ(view().model().selection(), 2u);
    QTest::keyClick(&field(), Qt::Key_Up);
    EXPECT_EQ(view().model().selection(), 1u);
    QTest::keyClicks(&field(), "zzz");
    EXPECT_EQ(view().model().selection(), 0u);
    EXPECT_TRUE(view().model().createRowSelected());
    QTest::keyClick(&field(), Qt::Key_Enter);
    EXPECT_EQ(toggles, 1);
    EXPECT_TRUE(casts.empty());
    QTRY_VERIFY_WITH_TIMEOUT(!palette.isOpen(), 3000);
    EXPECT_EQ(closed, 1);
}

TEST_F(PaletteFixture, ClicksRunTheRowOrDismiss) {
    open();
    QTRY_COMPARE_WITH_TIMEOUT(view().revealProgress(), 1.0, 3000);
    // The second row runs although the first is highlighted.
    QTest::mouseClick(&view(), Qt::LeftButton, {}, view().rowRect(1).center().toPoint());
    ASSERT_EQ(casts.size(), 1u);
    EXPECT_EQ(casts[0].name, "Skill 1");
    QTRY_VERIFY_WITH_TIMEOUT(!palette.isOpen(), 3000);

    for (bool closeButton : {false, true}) {
        closed = 0;
        open();
        QTRY_COMPARE_WITH_TIMEOUT(view().revealProgress(), 1.0, 3000);
        if (closeButton) {
            QTest::mouseClick(view().closeButton(), Qt::LeftButton);
        } else {
            // The transparent part left of the column.
            QTest::mouseClick(&view(), Qt::LeftButton, {}, QPoint(20, 300));
        }
        EXPECT_TRUE(view().model().exiting()) << closeButton;
        QTRY_VERIFY_WITH_TIMEOUT(!palette.isOpen(), 3000);
        EXPECT_EQ(closed, 1) << closeButton;
    }
    EXPECT_EQ(casts.size(), 1u);
    EXPECT_EQ(toggles, 0);
}

TEST_F(PaletteFixture, EscapeDuringTheSlideOutLeavesTheLateCloseNothingToDo) {
    open();
    view().dismiss();
    QTest::keyClick(&field(), Qt::Key_Escape);
    EXPECT_EQ(closed, 1);
    waitPastClose();
    EXPECT_EQ(closed, 1);
}

TEST_F(PaletteFixture, ALateCloseNeverShutsTheNextPalette) {
    open();
    QTest::keyClick(&field(), Qt::Key_Return); // casts, close due in 0.3 s
    ASSERT_EQ(casts.size(), 1u);
    int secondClosed = 0;
    palette.show(host(), [&] { ++secondClosed; });
    EXPECT_EQ(closed, 1); // the first palette closed as the second opened
    waitPastClose();
    EXPECT_TRUE(palette.isOpen());
    EXPECT_EQ(secondClosed, 0);
    EXPECT_EQ(closed, 1);
    // The new palette is fresh.
    EXPECT_TRUE(palette.view()->queryField()->text().isEmpty());
    EXPECT_FALSE(palette.view()->model().exiting());
    palette.close();
    EXPECT_EQ(secondClosed, 1);
}

TEST_F(PaletteFixture, ReloadedSkillsKeepTheHighlightNumber) {
    skills.resize(3);
    open();
    for (int i = 0; i < 3; ++i) {
        QTest::keyClick(&field(), Qt::Key_Down);
    }
    ASSERT_TRUE(view().model().createRowSelected());
    Skill extra;
    extra.name = "Extra";
    skills.push_back(extra);
    palette.reloadSkills();
    EXPECT_EQ(view().model().selection(), 3u);
    EXPECT_FALSE(view().model().createRowSelected());
    QTest::keyClick(&field(), Qt::Key_Return);
    ASSERT_EQ(casts.size(), 1u);
    EXPECT_EQ(casts[0].name, "Extra");
}

TEST_F(PaletteFixture, TheDesktopPutsThePanelEverywhereAndActivatesItForTheKeyPress) {
    platform::fake::FakeSurfaceWindows desktop;
    PaletteWindow owned(&desktop);
    owned.show(
        host(), [this] { ++closed; }, 4242);
    ASSERT_TRUE(owned.isOpen());
    const auto window = static_cast<platform::SurfaceWindows::WindowID>(owned.panel()->winId());
    EXPECT_EQ(desktop.onAllDesktops, (std::vector<platform::SurfaceWindows::WindowID>{window}));
    ASSERT_EQ(desktop.activated.size(), 1u);
    EXPECT_EQ(desktop.activated[0], std::make_pair(window, std::uint32_t{4242}));
    owned.close();
    EXPECT_EQ(closed, 1);
}

// Where the desktop tells where the keyboard is, the palette goes by it and not by the toolkit,
// which settles a loss only after a delay: the toolkit's deactivation (the late end of the
// previous opening's focus) and a loss before the keyboard came leave it open, the keyboard's
// going closes it once, and what the watch told an earlier opening reaches nothing.
TEST_F(PaletteFixture, WatchedByTheDesktopItClosesWhenTheKeyboardItHadGoes) {
    platform::fake::FakeSurfaceWindows desktop;
    PaletteWindow owned(&desktop);
    owned.show(host(), [this] { ++closed; });
    const auto window = static_cast<platform::SurfaceWindows::WindowID>(owned.panel()->winId());
    ASSERT_EQ(desktop.keyboardWatches.count(window), 1u);
    const auto firstWatch = desktop.keyboardWatches[window];

    QEvent deactivate(QEvent::WindowDeactivate);
    QApplication::sendEvent(owned.panel(), &deactivate);
    EXPECT_TRUE(owned.isOpen()) << "closed by the toolkit's deactivation";
    desktop.moveKeyboard(window, false);
    EXPECT_TRUE(owned.isOpen()) << "closed by a loss before the keyboard came";
    desktop.moveKeyboard(window, true);
    EXPECT_TRUE(owned.isOpen());
    desktop.moveKeyboard(window, false);
    EXPECT_FALSE(owned.isOpen());
    EXPECT_EQ(closed, 1);

    owned.show(host(), [this] { ++closed; });
    desktop.moveKeyboard(window, true);
    firstWatch(true);
    firstWatch(false);
    EXPECT_TRUE(owned.isOpen()) << "closed by the watch of the earlier opening";
    EXPECT_EQ(closed, 1);
    desktop.moveKeyboard(window, false);
    EXPECT_FALSE(owned.isOpen());
    EXPECT_EQ(closed, 2);
}

// The panel is kept between openings: a late event on it while withdrawn reaches nothing, and
// it goes with its owner, an open one without the close callback of an owner going away.
TEST_F(PaletteFixture, AKeptPanelGoesWithItsOwnerAndALateEventReachesNothing) {
    QPointer<QWidget> closedPanel;
    {
        PaletteWindow owner;
        owner.show(host(), [this] { ++closed; });
        QWidget* kept = owner.panel();
        ASSERT_NE(kept, nullptr);
        closedPanel = kept;
        owner.close();
        EXPECT_EQ(closed, 1);
        ASSERT_TRUE(closedPanel);
        EXPECT_FALSE(kept->isVisible());
        QTest::keyClick(kept, Qt::Key_Escape);
        QEvent deactivate(QEvent::WindowDeactivate);
        QApplication::sendEvent(kept, &deactivate);
        EXPECT_EQ(closed, 1);
        EXPECT_EQ(owner.panel(), nullptr);
    }
    EXPECT_FALSE(closedPanel);

    QPointer<QWidget> openPanel;
    {
        PaletteWindow owner;
        owner.show(host(), [this] { ++closed; });
        openPanel = owner.panel();
        ASSERT_TRUE(openPanel);
    }
    EXPECT_FALSE(openPanel);
    EXPECT_EQ(closed, 1);
}

// A reopened palette is the same native window, entering afresh whatever the previous opening
// was left at: empty query, first row chosen, sliding in, its query taking the focus; the
// previous opening's view is gone.
TEST_F(PaletteFixture, AReopenedPaletteKeepsItsWindowAndEntersAfresh) {
    open();
    QTRY_VERIFY_WITH_TIMEOUT(field().hasFocus(), 3000);
    QTest::keyClicks(&field(), "skill");
    QTest::keyClick(&field(), Qt::Key_Down);
    ASSERT_EQ(view().model().selection(), 1u);
    QWidget* firstPanel = palette.panel();
    const WId firstWindow = firstPanel->winId();
    QPointer<PaletteView> firstView = palette.view();
    QTest::keyClick(&field(), Qt::Key_Escape);
    ASSERT_FALSE(palette.isOpen());

    open();
    EXPECT_EQ(palette.panel(), firstPanel);
    EXPECT_EQ(palette.panel()->winId(), firstWindow);
    EXPECT_NE(palette.view(), firstView.data());
    EXPECT_TRUE(field().text().isEmpty());
    EXPECT_EQ(view().model().selection(), 0u);
    EXPECT_EQ(view().model().shownCount(), 8u);
    EXPECT_LT(view().revealProgress(), 1.0);
    QTRY_COMPARE_WITH_TIMEOUT(view().revealProgress(), 1.0, 3000);
    QTRY_VERIFY_WITH_TIMEOUT(field().hasFocus(), 3000);
    QTRY_VERIFY_WITH_TIMEOUT(!firstView, 3000);
    palette.close();
    EXPECT_EQ(closed, 2);
}

TEST(PalettePlacement, RightEdgeTopAboveTheMiddleOfTheAvailableArea) {
    const struct {
        QRect available;
        QPoint expected;
    } cases[] = {
        {QRect(0, 0, 1920, 1080), QPoint(1380, 496)},
        // A panel at the top and a dock on the right shrink the area.
        {QRect(0, 30, 1850, 1050), QPoint(1310, 511)},
        {QRect(1920, 0, 1280, 1024), QPoint(2660, 468)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(PaletteWindow::placement(c.available), c.expected);
    }
}
