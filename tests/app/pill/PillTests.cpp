#include "Kestro/pill/PillController.h"
#include "Kestro/pill/PillHover.h"
#include "Kestro/pill/PillPresentation.h"
#include "Kestro/pill/PillView.h"
#include "Kestro/ui/SharedWake.h"
#include "platform/fake/FakeSurfaceWindows.h"
#include "tests/app/QtTestApp.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QToolButton>

#include <gtest/gtest.h>

using namespace kestro;

namespace {

// The panel at (1000, 400), 320 by 140: the tab zone is x in [1296, 1320), y in (440, 500];
// open, the grown frame is x in [990, 1330), y in (390, 550]; the tip zone is x in
// [1000, 1274), y in (428, 512].
TEST(PillHover, BoundaryPoints) {
    const Rect frame = Rect::make(1000, 400, 320, 140);
    struct Case {
        const char* what;
        bool expanded;
        Point mouse;
        bool hasTip;
        bool expandedAfter;
        bool acceptsMouse;
    };
    const Case cases[] = {
        {"tab zone, left edge", false, {1296, 470}, false, true, true},
        {"just left of the tab zone", false, {1295.5, 470}, false, false, false},
        {"tab zone, right edge", false, {1320, 470}, false, false, false},
        {"tab zone, top edge is out", false, {1300, 440}, false, false, false},
        {"just under the top edge", false, {1300, 440.5}, false, true, true},
        {"tab zone, bottom edge is in", false, {1300, 500}, false, true, true},
        {"below the tab zone", false, {1300, 500.5}, false, false, false},
        {"pill body away from the tab", false, {1200, 470}, false, false, false},
        {"open, 10 out on the left", true, {990, 470}, false, true, true},
        {"open, 10.5 out on the left", true, {989.5, 470}, false, false, false},
        {"open, right edge of the slack", true, {1330, 470}, false, false, false},
        {"open, inside the right slack", true, {1329.5, 470}, false, true, true},
        {"open, top of the slack is out", true, {1100, 390}, false, false, false},
        {"open, bottom of the slack is in", true, {1100, 550}, false, true, true},
        {"open, below the slack", true, {1100, 551}, false, false, false},
        {"tip zone, left edge", false, {1000, 470}, true, false, true},
        {"tip zone, right edge is out", false, {1274, 470}, true, false, false},
        {"tip zone, just inside the right", false, {1273.5, 470}, true, false, true},
        {"tip zone, top edge is out", false, {1100, 428}, true, false, false},
        {"tip zone, bottom edge is in", false, {1100, 512}, true, false, true},
        {"tip zone without a tip", false, {1100, 470}, false, false, false},
        {"tab zone with a tip", false, {1300, 470}, true, true, true},
    };
    for (const Case& c : cases) {
        const PillHover::Decision d = PillHover::step(c.expanded, c.mouse, frame, c.hasTip);
        EXPECT_EQ(d.expanded, c.expandedAfter) << c.what;
        EXPECT_EQ(d.acceptsMouse, c.acceptsMouse) << c.what;
    }
}

using State = PillInputs::State;
using Status = PillInputs::Status;
using Cluster = PillPresentation::Cluster;

PillInputs inputs(State state, Status status, bool skillsEmpty, bool callTip, bool dismissed) {
    PillInputs in;
    in.state = state;
    in.status = status;
    in.skillsEmpty = skillsEmpty;
    in.showCallSkillTip = callTip;
    in.tipsDismissed = dismissed;
    return in;
}

TEST(PillPresentation, TipChoice) {
    const std::string first = PillPresentation::firstSkillTip;
    const std::string call = PillPresentation::callSkillTip;
    struct Case {
        const char* what;
        PillInputs in;
        bool expanded;
        std::optional<std::string> tip;
    };
    const Case cases[] = {
        {"recording, no skills", inputs(State::recording, Status::idle, true, false, false), false,
         first},
        {"recording, no skills, an old failure",
         inputs(State::recording, Status::failure, true, true, false), false, first},
        {"recording with a skill", inputs(State::recording, Status::idle, false, false, false),
         false, std::nullopt},
        {"recording, no skills, call tip on",
         inputs(State::recording, Status::idle, true, true, false), false, first},
        {"tips dismissed for good", inputs(State::recording, Status::idle, true, true, true), false,
         std::nullopt},
        {"open pill", inputs(State::recording, Status::idle, true, true, false), true,
         std::nullopt},
        {"call tip, idle", inputs(State::idle, Status::idle, false, true, false), false, call},
        {"call tip while building", inputs(State::idle, Status::creating, false, true, false),
         false, std::nullopt},
        {"call tip while a success shows", inputs(State::idle, Status::success, false, true, false),
         false, std::nullopt},
        {"call tip while casting", inputs(State::casting, Status::idle, false, true, false), false,
         std::nullopt},
        {"call tip dismissed", inputs(State::idle, Status::idle, false, true, true), false,
         std::nullopt},
        {"nothing to say", inputs(State::idle, Status::idle, true, false, false), false,
         std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PillPresentation::currentTip(c.in, c.expanded), c.tip) << c.what;
    }
}

TEST(PillPresentation, ClusterPrecedence) {
    struct Case {
        State state;
        Status status;
        bool expanded;
        Cluster cluster;
    };
    const Case cases[] = {
        {State::idle, Status::idle, false, Cluster::collapsed},
        {State::recording, Status::idle, false, Cluster::collapsed},
        {State::idle, Status::idle, true, Cluster::expanded},
        {State::recording, Status::idle, true, Cluster::expanded},
        {State::casting, Status::idle, true, Cluster::casting},
        {State::casting, Status::success, true, Cluster::success},
        {State::casting, Status::failure, false, Cluster::failure},
        {State::synthesizing, Status::creating, true, Cluster::creating},
        {State::idle, Status::creating, false, Cluster::creating},
        {State::synthesizing, Status::idle, false, Cluster::collapsed},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(
            PillPresentation::cluster(inputs(c.state, c.status, false, false, false), c.expanded),
            c.cluster)
            << int(c.state) << " " << int(c.status) << " " << c.expanded;
    }
}

class PillWidgets : public ::testing::Test {
protected:
    static void SetUpTestSuite() { kestro::testing::qtApp(); }
};

TEST_F(PillWidgets, NameShrinksThenIsCut) {
    const QFont font = PillView::uiFont(9, QFont::DemiBold, 96);
    const PillView::NameFit shortName = PillView::fitName(QStringLiteral("Mail"), font);
    EXPECT_EQ(shortName.scale, 1.0);
    EXPECT_EQ(shortName.lines, QStringList{QStringLiteral("Mail")});

    const PillView::NameFit two = PillView::fitName(QStringLiteral("Reconcile invoices"), font);
    EXPECT_EQ(two.scale, 1.0);
    EXPECT_EQ(two.lines.size(), 2);

    const PillView::NameFit shrunk =
        PillView::fitName(QStringLiteral("Reconcile monthly invoices"), font);
    EXPECT_LT(shrunk.scale, 1.0);
    EXPECT_GE(shrunk.scale, 0.6);
    EXPECT_EQ(shrunk.lines.join(' '), QStringLiteral("Reconcile monthly invoices"));
    EXPECT_LE(shrunk.lines.size(), 2);

    const QString longName =
        QStringLiteral("Download every quarterly report and file it in the shared finance folder");
    const PillView::NameFit cut = PillView::fitName(longName, font);
    EXPECT_DOUBLE_EQ(cut.scale, 0.6);
    ASSERT_EQ(cut.lines.size(), 2);
    EXPECT_TRUE(cut.lines[1].endsWith(QChar(0x2026))) << cut.lines[1].toStdString();
    EXPECT_TRUE(longName.startsWith(cut.lines[0]));
    // A name with no spaces still breaks, and markup stays text.
    const PillView::NameFit markup =
        PillView::fitName(QStringLiteral("<b>x</b><img src=a>aaaaaaaaaaaaaaaaaaaaaaaa"), font);
    EXPECT_EQ(markup.lines.size(), 2);
    EXPECT_TRUE(markup.lines[0].startsWith(QStringLiteral("<b>")));
}

TEST_F(PillWidgets, ControllerShowsOncePollsAndTogglesInputOnlyOnChange) {
    platform::fake::FakeSurfaceWindows surfaces;
    bool tip = false;
    int built = 0;
    PillController pill(
        &surfaces, [&] { return tip; }, [&](PillView&) { ++built; });
    pill.setHidden(true); // nothing to hide yet
    EXPECT_EQ(pill.view(), nullptr);
    pill.show();
    pill.show();
    ASSERT_NE(pill.view(), nullptr);
    EXPECT_EQ(built, 1);
    PillView* view = pill.view();
    const auto id = static_cast<platform::SurfaceWindows::WindowID>(view->winId());
    ASSERT_EQ(surfaces.inputChanges.size(), 1u);
    EXPECT_EQ(surfaces.inputChanges[0], std::make_pair(id, false));

    const QRect a = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(view->geometry(),
              QRect(a.x() + a.width() - 320, a.y() + a.height() / 2 - 70, 320, 140));
    EXPECT_TRUE(view->isVisible());

    const QRect g = view->geometry();
    const QPoint tab(g.right() - 5, g.center().y());
    const QPoint away(g.left() - 50, g.top() - 50);
    pill.pollAt(away);
    EXPECT_FALSE(pill.model().expanded());
    EXPECT_EQ(surfaces.inputChanges.size(), 1u);

    pill.pollAt(tab);
    EXPECT_TRUE(pill.model().expanded());
    EXPECT_TRUE(pill.acceptsMouse());
    pill.pollAt(tab);
    pill.pollAt(QPoint(g.left() + 5, g.top() + 5));
    ASSERT_EQ(surfaces.inputChanges.size(), 2u) << "the shape changes once per real change";
    EXPECT_EQ(surfaces.inputChanges[1], std::make_pair(id, true));
    EXPECT_EQ(view->cluster(), Cluster::expanded);
    EXPECT_TRUE(view->recordButton()->isVisible());

    // Hidden for the palette: polls change nothing and the open state is kept.
    pill.setHidden(true);
    EXPECT_FALSE(view->isVisible());
    pill.pollAt(away);
    EXPECT_TRUE(pill.model().expanded());
    pill.setHidden(false);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->windowOpacity(), 1.0);
    pill.pollAt(away);
    EXPECT_FALSE(pill.model().expanded());
    EXPECT_FALSE(pill.acceptsMouse());
    ASSERT_EQ(surfaces.inputChanges.size(), 3u);

    // A shown tip takes the mouse over the bubble only.
    tip = true;
    pill.pollAt(QPoint(g.left() + 10, g.center().y()));
    EXPECT_TRUE(pill.acceptsMouse());
    EXPECT_FALSE(pill.model().expanded());
    pill.pollAt(QPoint(g.right() - 30, g.center().y()));
    EXPECT_FALSE(pill.acceptsMouse());
}

TEST_F(PillWidgets, ButtonsAndTipCallTheApplication) {
    PillModel model;
    PillView view(&model);
    int toggles = 0;
    int mainWindow = 0;
    int dismissals = 0;
    view.setActions({[&] { ++toggles; }, [&] { ++mainWindow; }, [&] { ++dismissals; }});
    view.show();

    model.setExpanded(true);
    ASSERT_TRUE(view.recordButton()->isVisible());
    EXPECT_EQ(view.recordButton()->toolTip(), QStringLiteral("Record (\u2303\u2303)"));
    QTest::mouseClick(view.recordButton(), Qt::LeftButton);
    QTest::mouseClick(view.skillsButton(), Qt::LeftButton);
    EXPECT_EQ(toggles, 1);
    EXPECT_EQ(mainWindow, 1);
    EXPECT_EQ(view.skillsButton()->toolTip(), QStringLiteral("Skills"));

    PillInputs recording;
    recording.state = State::recording;
    view.setInputs(recording);
    EXPECT_EQ(view.recordButton()->toolTip(), QStringLiteral("Stop recording"));
    EXPECT_FALSE(view.tip().has_value()) << "no tip while open";
    EXPECT_FALSE(view.tipLink()->isVisible());

    model.setExpanded(false);
    EXPECT_FALSE(view.recordButton()->isVisible());
    ASSERT_EQ(view.tip(), std::optional<std::string>(PillPresentation::firstSkillTip));
    ASSERT_TRUE(view.tipLink()->isVisible());
    EXPECT_EQ(view.tipLink()->text(), QStringLiteral("Don't show me again, I've got it now"));
    QTest::mouseClick(view.tipLink(), Qt::LeftButton);
    QTest::mouseClick(view.tipCloseButton(), Qt::LeftButton);
    EXPECT_EQ(dismissals, 2);
    // The bubble stands left of the cluster and inside the zone where the panel takes clicks.
    const QRectF bubble = view.tipBubbleRect();
    EXPECT_LT(bubble.right(), view.clusterRect().left());
    EXPECT_GE(bubble.left(), 0);
    EXPECT_LE(bubble.right() + 7, 320 - 46 + 20);
    EXPECT_LE(bubble.height(), 84);
}

TEST_F(PillWidgets, SpinRestartsAtEachShowing) {
    PillModel model;
    PillView view(&model);
    view.show();
    PillInputs casting;
    casting.state = State::casting;
    view.setInputs(casting);
    QTest::qWait(150);
    EXPECT_GT(view.spinAngle(), 20.0);
    view.setInputs(PillInputs{});
    casting.state = State::casting;
    view.setInputs(casting);
    EXPECT_LT(view.spinAngle(), 20.0);
}

TEST_F(PillWidgets, MaskFollowsWhatIsDrawn) {
    PillModel model;
    PillView view(&model);
    view.setMasked(true);
    view.show();
    const QRegion collapsed = view.mask();
    EXPECT_TRUE(collapsed.contains(view.clusterRect().center().toPoint()));
    EXPECT_FALSE(collapsed.contains(QPoint(100, 70)));
    EXPECT_FALSE(collapsed.contains(QPoint(2, 2)));

    PillInputs recording;
    recording.state = State::recording;
    view.setInputs(recording);
    QTest::qWait(400); // the tip's entrance
    EXPECT_TRUE(view.mask().contains(view.tipBubbleRect().center().toPoint()));
    EXPECT_FALSE(view.mask().contains(QPoint(2, 2)));

    view.setMasked(false);
    EXPECT_TRUE(view.mask().isEmpty());
}

} // namespace

// Without a compositing manager the server shows whatever alpha leaves see-through as black: a
// shaped pill is opaque everywhere inside its shape, while things fade in and once they rest.
TEST_F(PillWidgets, ShapedPillIsOpaqueInsideItsShape) {
    auto inputs = [](State state, Status status, bool callTip) {
        PillInputs in;
        in.state = state;
        in.status = status;
        in.successName = "Sign in to the fixture";
        in.skillsEmpty = !callTip;
        in.showCallSkillTip = callTip;
        return in;
    };
    const struct {
        const char* name;
        PillInputs in;
    } cases[] = {
        {"building", inputs(State::synthesizing, Status::creating, false)},
        {"success with the call tip", inputs(State::idle, Status::success, true)},
        {"call tip at rest", inputs(State::idle, Status::idle, true)},
        {"failed", inputs(State::idle, Status::failure, false)},
        {"casting", inputs(State::casting, Status::idle, false)},
        {"recording with its tip", inputs(State::recording, Status::idle, false)},
        {"resting", inputs(State::idle, Status::idle, false)},
    };
    PillModel model;
    PillView view(&model);
    view.setMasked(true);
    view.show();
    for (const auto& c : cases) {
        view.setInputs(c.in);
        for (int wait : {40, 400}) { // while fading in, then at rest
            QTest::qWait(wait);
            const QImage image = view.grab().toImage().convertToFormat(QImage::Format_ARGB32);
            int clear = 0;
            for (const QRect& r : view.mask()) {
                for (int y = r.top(); y <= r.bottom(); ++y) {
                    for (int x = r.left(); x <= r.right(); ++x) {
                        clear += qAlpha(image.pixel(x, y)) < 255 ? 1 : 0;
                    }
                }
            }
            EXPECT_EQ(clear, 0) << c.name << " after " << wait << " ms";
        }
    }
}

// A name of any length is cut before it is laid out, and laid out once, not once per frame.
TEST_F(PillWidgets, AHugeNameIsFittedOnce) {
    PillModel model;
    PillView view(&model);
    view.show();
    PillInputs success;
    success.status = Status::success;
    success.successName = "Export " + std::string(100000, 'x');
    QElapsedTimer clock;
    clock.start();
    view.setInputs(success);
    const PillView::NameFit* fit = &view.successFit();
    for (int i = 0; i < 30; ++i) {
        view.repaint(); // as many frames as the fade has
    }
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(&view.successFit(), fit) << "fitted again for a frame";
    ASSERT_EQ(fit->lines.size(), 2);
    EXPECT_TRUE(fit->lines[0].startsWith(QStringLiteral("Export")));
    EXPECT_TRUE(fit->lines[1].endsWith(QChar(0x2026)));
    EXPECT_LE(PillView::boundedName(success.successName).size(), PillView::nameBound + 1);

    success.successName = "Mail";
    view.setInputs(success);
    EXPECT_EQ(view.successFit().lines, QStringList{QStringLiteral("Mail")});
}

// The poll asks where the pointer is only after the window system says it moved.
TEST_F(PillWidgets, PollAsksThePointerOnlyAfterItMoved) {
    platform::fake::FakeSurfaceWindows surfaces;
    PillController pill(&surfaces, [] { return false; });
    pill.show();
    const QRect g = pill.view()->geometry();
    const QPoint tab(g.right() - 5, g.center().y());
    QCursor::setPos(g.left() - 100, g.top() - 100);
    pill.poll();
    EXPECT_FALSE(pill.model().expanded());

    surfaces.pointerMoved = false;
    QCursor::setPos(tab);
    pill.poll();
    pill.poll();
    EXPECT_FALSE(pill.model().expanded()) << "asked the pointer with no motion reported";
    surfaces.pointerMoved = true;
    pill.poll();
    EXPECT_TRUE(pill.model().expanded());
    EXPECT_EQ(surfaces.pointerAsks, 4);
    pill.setHidden(true);
    pill.poll();
    EXPECT_EQ(surfaces.pointerAsks, 4) << "a hidden pill asks nothing";
}

// A wake of the main thread for other work carries the poll once the last one is old enough.
TEST_F(PillWidgets, AnotherTimersWakeCarriesThePoll) {
    platform::fake::FakeSurfaceWindows surfaces;
    PillController pill(&surfaces, [] { return false; });
    pill.show();
    QElapsedTimer shown;
    shown.start();
    int asks = surfaces.pointerAsks;
    SharedWake::woke();
    EXPECT_EQ(surfaces.pointerAsks, asks) << "polled again right after the poll started";

    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.elapsed() >= PillController::earlyPollMs; }));
    asks = surfaces.pointerAsks;
    SharedWake::woke();
    EXPECT_EQ(surfaces.pointerAsks, asks + 1);
    SharedWake::woke();
    EXPECT_EQ(surfaces.pointerAsks, asks + 1) << "two wakes in a row poll once";

    pill.setHidden(true);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return shown.elapsed() >= 2 * PillController::earlyPollMs; }));
    asks = surfaces.pointerAsks;
    SharedWake::woke();
    EXPECT_EQ(surfaces.pointerAsks, asks) << "a hidden pill asks nothing";
}

// The open pill's symbols fade in with its capsule; a shaped pill has no fade.
TEST_F(PillWidgets, OpenPillSymbolsFadeWithTheCapsule) {
    auto inkAt = [](PillView& view) {
        const QImage image = view.grab().toImage().convertToFormat(QImage::Format_ARGB32);
        const QPoint c = view.recordButton()->geometry().center();
        int ink = 0;
        for (int y = c.y() - 6; y <= c.y() + 6; ++y) {
            for (int x = c.x() - 6; x <= c.x() + 6; ++x) {
                const QRgb px = image.pixel(x, y);
                ink = std::max(ink, qAlpha(px) * (255 - qGray(px)) / 255);
            }
        }
        return ink;
    };
    for (bool masked : {false, true}) {
        PillModel model;
        PillView view(&model);
        view.setMasked(masked);
        view.show();
        model.setExpanded(true);
        const double started = view.clusterProgress();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.clusterProgress() > 0.1; }, 5000));
        const double progress = view.clusterProgress();
        const int early = inkAt(view);
        if (!masked) {
            view.grab().save(QStringLiteral(KESTRO_ARTIFACT_DIR "/pill-expanded-mid-fade.png"));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return view.clusterProgress() == 1.0; }, 5000));
        const int rest = inkAt(view);
        EXPECT_GT(rest, 120) << "the record symbol is drawn, masked " << masked;
        if (masked) {
            EXPECT_EQ(started, 1.0) << "a shaped pill faded";
            EXPECT_EQ(early, rest);
        } else if (progress < 0.7) { // a loaded machine may skip to the end
            EXPECT_LT(early, rest - 20) << "the symbols did not fade with the capsule";
            EXPECT_GT(early, 0);
        }
    }
}
