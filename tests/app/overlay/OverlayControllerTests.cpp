#include "Kestro/overlay/FrameWindow.h"
#include "Kestro/overlay/OverlayController.h"
#include "platform/fake/FakeSurfaceWindows.h"
#include "tests/app/QtTestApp.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

using namespace kestro;

namespace {

// Counts the paints a widget receives.
class PaintCount final : public QObject {
public:
    explicit PaintCount(QWidget* widget) { widget->installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++count;
        }
        return QObject::eventFilter(watched, event);
    }
};

class Overlay : public ::testing::Test {
protected:
    static void SetUpTestSuite() { kestro::testing::qtApp(); }

    platform::fake::FakeSurfaceWindows surfaces;
    std::vector<QRect> screens{QRect(0, 0, 1440, 900), QRect(1440, 0, 1920, 1080)};
    OverlayController overlay{&surfaces, [this] { return screens; }};
};

TEST_F(Overlay, OneAnimatingFramePerScreenInTheAskedStyle) {
    overlay.show(false);
    ASSERT_EQ(overlay.windows().size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        FrameWindow& w = *overlay.windows()[i];
        EXPECT_EQ(w.geometry(), screens[i]);
        EXPECT_TRUE(w.isVisible());
        EXPECT_EQ(w.frameView()->mode(), WobbleMode::recording);
        EXPECT_TRUE(w.frameView()->isAnimating());
        EXPECT_EQ(w.frameView()->geometry(), QRect(QPoint(0, 0), screens[i].size()));
        EXPECT_FALSE(surfaces.acceptsInput.at(static_cast<std::uint64_t>(w.winId())));
        EXPECT_TRUE(w.windowFlags().testFlag(Qt::X11BypassWindowManagerHint));
        EXPECT_TRUE(w.windowFlags().testFlag(Qt::WindowDoesNotAcceptFocus));
    }
    overlay.show(true);
    ASSERT_EQ(overlay.windows().size(), 2u);
    EXPECT_EQ(overlay.windows()[0]->frameView()->mode(), WobbleMode::casting);

    overlay.hide();
    EXPECT_TRUE(overlay.windows().empty());
    EXPECT_FALSE(overlay.visible());
    EXPECT_TRUE(overlay.casting()) << "hiding keeps the style";
    overlay.show(false);
    EXPECT_EQ(overlay.windows()[1]->frameView()->mode(), WobbleMode::recording);
}

TEST_F(Overlay, FramesMadeAheadAreKeptAndRemadeOncePerBurstOfScreenChanges) {
    QSignalSpy rebuilt(&overlay, &OverlayController::rebuilt);
    QCoreApplication::processEvents();
    EXPECT_TRUE(overlay.windows().empty()) << "none on screen while hidden";
    ASSERT_EQ(overlay.kept().size(), 2u) << "made ahead for the screens there are";
    EXPECT_EQ(rebuilt.count(), 1);
    for (const auto& w : overlay.kept()) {
        EXPECT_FALSE(w->isVisible());
    }

    overlay.show(false);
    const FrameWindow* before = overlay.windows()[0].get();
    EXPECT_EQ(overlay.kept()[0].get(), before) << "showing maps the windows made ahead";
    EXPECT_EQ(rebuilt.count(), 1);
    QTest::qWait(250);
    overlay.hide();
    overlay.show(true);
    EXPECT_EQ(overlay.windows()[0].get(), before) << "and so does every later showing";
    EXPECT_LT(overlay.windows()[0]->frameView()->elapsed(), 0.5) << "with the wave started anew";

    screens.push_back(QRect(0, 900, 800, 600));
    overlay.screensChanged();
    overlay.screensChanged();
    overlay.screensChanged();
    EXPECT_EQ(overlay.windows().size(), 2u) << "the rebuild waits for the burst to end";
    QCoreApplication::processEvents();
    EXPECT_EQ(rebuilt.count(), 2);
    ASSERT_EQ(overlay.windows().size(), 3u);
    EXPECT_EQ(overlay.windows()[2]->geometry(), QRect(0, 900, 800, 600));
    EXPECT_EQ(overlay.windows()[2]->frameView()->mode(), WobbleMode::casting);
    EXPECT_TRUE(overlay.windows()[2]->isVisible());
    EXPECT_NE(overlay.windows()[0].get(), before);

    // While hidden a change of screens remakes the frames too, none of them shown.
    overlay.hide();
    screens.pop_back();
    overlay.screensChanged();
    QCoreApplication::processEvents();
    EXPECT_TRUE(overlay.windows().empty());
    ASSERT_EQ(overlay.kept().size(), 2u);
    for (const auto& w : overlay.kept()) {
        EXPECT_FALSE(w->isVisible());
        EXPECT_FALSE(w->frameView()->isAnimating());
    }
}

TEST_F(Overlay, WithoutScreensTheNextChangeBringsTheFrames) {
    screens.clear();
    overlay.show(true);
    EXPECT_TRUE(overlay.visible());
    EXPECT_TRUE(overlay.windows().empty());
    screens.push_back(QRect(0, 0, 1024, 768));
    overlay.screensChanged();
    QCoreApplication::processEvents();
    ASSERT_EQ(overlay.windows().size(), 1u);
    EXPECT_EQ(overlay.windows()[0]->frameView()->mode(), WobbleMode::casting);
}

TEST_F(Overlay, ShapedToTheLineWithoutACompositor) {
    surfaces.compositingNow = false;
    overlay.show(false);
    FrameWindow& w = *overlay.windows()[0];
    ASSERT_TRUE(w.isMasked());
    const QPainterPath& path = w.frameView()->path();
    ASSERT_FALSE(path.isEmpty());
    for (double at : {0.0, 0.13, 0.26, 0.5, 0.81}) {
        EXPECT_TRUE(w.shape().contains(path.pointAtPercent(at).toPoint())) << at;
    }
    EXPECT_FALSE(w.shape().contains(QPoint(0, 450))) << "clear outside the line";
    EXPECT_FALSE(w.shape().contains(QPoint(30, 450))) << "clear inside the line";
    EXPECT_FALSE(w.shape().contains(QPoint(720, 450)));
    // As wide as the line (4 px; a row across the slightly slanted wave may take a fifth
    // pixel centre), along the whole left edge.
    int fourWide = 0;
    for (int y = 100; y < 800; ++y) {
        const QRegion row = w.shape().intersected(QRect(0, y, 40, 1));
        ASSERT_EQ(row.rectCount(), 1) << y;
        const int width = row.boundingRect().width();
        EXPECT_TRUE(width == 4 || width == 5) << "row " << y << " is " << width << " px";
        fourWide += width == 4 ? 1 : 0;
    }
    EXPECT_GT(fourWide, 600);
    // The shape follows the line as it moves; nothing is repainted for it, as the shaped
    // window shows black all through its shape.
    QTest::qWait(20); // the first paint of the showing
    PaintCount paints(w.frameView());
    const QRegion before = w.shape();
    w.frameView()->tick();
    QTest::qWait(60);
    w.frameView()->tick();
    QCoreApplication::processEvents();
    EXPECT_NE(w.shape(), before);
    EXPECT_EQ(paints.count, 0);
    const auto id = static_cast<std::uint64_t>(w.winId());
    ASSERT_EQ(surfaces.shapes.count(id), 1u) << "the window system is given the shape";
    EXPECT_EQ(surfaces.shapes.at(id).size(), static_cast<std::size_t>(w.shape().rectCount()));
    EXPECT_TRUE(w.mask().isEmpty()) << "the toolkit is not: it paints the ring whole";

    surfaces.setCompositing(true);
    overlay.compositingChanged();
    EXPECT_FALSE(w.isMasked());
    EXPECT_TRUE(w.shape().isEmpty());
    EXPECT_EQ(surfaces.shapes.count(id), 0u);
    w.frameView()->tick();
    QCoreApplication::processEvents();
    EXPECT_GT(paints.count, 0) << "composited, the line itself is drawn at every frame";
    surfaces.setCompositing(false);
    overlay.compositingChanged();
    EXPECT_TRUE(w.isMasked());
}

// Shaped, the line is reshaped less often than the screen refreshes, yet never moves more than
// a pixel from one shape to the next, as it would at every refresh.
TEST_F(Overlay, ShapedTheLineMovesAPixelAtATime) {
    const QSizeF size(1440, 900);
    for (const auto mode : {WobbleMode::recording, WobbleMode::casting}) {
        const double step = FrameWindow::shapedFrameInterval(mode) / 1000.0;
        EXPECT_GT(step, 0.033) << static_cast<int>(mode);
        for (double t : {0.0, 0.37, 1.1, 2.45}) {
            const QRegion now =
                WobbleFrameView::strokeRegion(WobbleFrameView::pathFor(size, mode, t), mode);
            const QRegion next =
                WobbleFrameView::strokeRegion(WobbleFrameView::pathFor(size, mode, t + step), mode);
            QRegion reach = now;
            for (int dx = -1; dx <= 1; ++dx) {
                for (int dy = -1; dy <= 1; ++dy) {
                    reach += now.translated(dx, dy);
                }
            }
            EXPECT_TRUE(next.subtracted(reach).isEmpty())
                << static_cast<int>(mode) << " at " << t << ": "
                << next.subtracted(reach).boundingRect().topLeft().x() << ","
                << next.subtracted(reach).boundingRect().topLeft().y();
        }
    }
}

// What waits for the frames runs once every frame has painted, or at once when none is shown or
// they go before painting.
TEST_F(Overlay, WhenShownWaitsForTheFramesToPaint) {
    int ran = 0;
    overlay.whenShown([&] { ++ran; });
    EXPECT_EQ(ran, 1) << "hidden: at once";

    overlay.show(false);
    std::vector<std::unique_ptr<PaintCount>> paints;
    for (const auto& w : overlay.windows()) {
        paints.push_back(std::make_unique<PaintCount>(w->frameView()));
    }
    overlay.whenShown([&] { ++ran; });
    EXPECT_EQ(ran, 1) << "not before a turn of the event loop";
    ASSERT_TRUE(QTest::qWaitFor([&] { return ran == 2; }, 2000));
    for (const auto& p : paints) {
        EXPECT_GT(p->count, 0) << "ran before every frame painted";
    }

    // Hidden before they paint: it runs with the hiding.
    overlay.hide();
    overlay.show(true);
    overlay.whenShown([&] { ++ran; });
    overlay.hide();
    EXPECT_EQ(ran, 3);
}

TEST_F(Overlay, OrderedOutFramesStopAnimating) {
    FrameWindow w(QRect(0, 0, 640, 480), &surfaces);
    w.setMode(WobbleMode::casting);
    w.orderFront();
    EXPECT_TRUE(w.frameView()->isAnimating());
    w.orderOut();
    EXPECT_FALSE(w.frameView()->isAnimating());
    EXPECT_FALSE(w.isVisible());
    w.setMode(WobbleMode::recording);
    w.orderFront();
    w.hide(); // however it goes off screen
    EXPECT_FALSE(w.frameView()->isAnimating());
}

} // namespace
