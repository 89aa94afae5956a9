#include "Kestro/overlay/WobbleFrameView.h"
#include "Kestro/overlay/WobbleGeometry.h"
#include "tests/app/QtTestApp.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

using namespace kestro;
namespace WG = kestro::WobbleGeometry;

namespace {

constexpr double eps = 1e-4;

struct ModelCase {
    const char* name;
    double width;
    double height;
    WobbleMode mode;
    std::size_t pieces;
    double perimeter;
    double rectWidth;
    double rectHeight;
    double straightW;
    double straightH;
    double arcLen;
};

class WobbleModel : public ::testing::TestWithParam<ModelCase> {};

// The outline's rectangle, from the pieces themselves: the bottom-left end of the bottom edge
// lies at (minX + cr, minY) and the top arc reaches maxY.
TEST_P(WobbleModel, PiecesAndPerimeterMatchTheScreen) {
    const ModelCase& c = GetParam();
    const WobbleStyle style = WobbleStyle::of(c.mode);
    const WG::Model model = WG::buildModel(c.width, c.height, style);
    ASSERT_EQ(model.pieces.size(), c.pieces);
    EXPECT_NEAR(model.perimeter, c.perimeter, eps);

    double sum = 0;
    double straightW = -1;
    double straightH = -1;
    for (const WG::Piece& p : model.pieces) {
        EXPECT_NEAR(p.start, sum, 1e-9);
        sum += p.len;
        if (p.arc) {
            EXPECT_NEAR(p.len, c.arcLen, eps);
        } else if (p.n.y != 0) {
            straightW = p.len;
        } else {
            straightH = p.len;
        }
    }
    EXPECT_NEAR(straightW, c.straightW, eps);
    if (c.straightH > 0) {
        EXPECT_NEAR(straightH, c.straightH, eps);
    } else {
        EXPECT_EQ(straightH, -1) << "a zero-length side must be skipped";
    }
    const double inset = style.amplitude + style.thickness / 2 + 2;
    EXPECT_NEAR(c.width - 2 * inset, c.rectWidth, eps);
    EXPECT_NEAR(c.height - 2 * inset, c.rectHeight, eps);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, WobbleModel,
    ::testing::Values(ModelCase{"Recording1440x900", 1440, 900, WobbleMode::recording, 8, 4503.8584,
                                1420, 880, 1308, 768, 87.9646},
                      ModelCase{"Casting1440x900", 1440, 900, WobbleMode::casting, 8, 4471.8584,
                                1412, 872, 1300, 760, 87.9646},
                      ModelCase{"Recording100x60", 100, 60, WobbleMode::recording, 6, 205.6637, 80,
                                40, 40, 0, 31.4159}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(WobbleModel, TooSmallToDrawGivesNothing) {
    struct Case {
        WobbleMode mode;
        double width;
        double height;
        bool empty;
    };
    const Case cases[] = {
        {WobbleMode::recording, 20, 500, true},
        {WobbleMode::recording, 500, 20, true},
        {WobbleMode::recording, 20.5, 20.5, false},
        {WobbleMode::casting, 28, 500, true},
        {WobbleMode::casting, 500, 28, true},
        {WobbleMode::casting, 28.5, 28.5, false},
        {WobbleMode::recording, 0, 0, true},
        {WobbleMode::recording, -5, 100, true},
        {WobbleMode::recording, std::nan(""), 100, true},
    };
    for (const Case& c : cases) {
        const WobbleStyle style = WobbleStyle::of(c.mode);
        const WG::Model model = WG::buildModel(c.width, c.height, style);
        EXPECT_EQ(model.empty(), c.empty) << c.width << "x" << c.height;
        if (c.empty) {
            EXPECT_TRUE(WG::samples(model, style, 1.0).empty());
        }
    }
}

TEST(WobbleLocate, WrapsAtThePerimeterAndBackwards) {
    const WobbleStyle style = WobbleStyle::of(WobbleMode::recording);
    const WG::Model model = WG::buildModel(1440, 900, style);
    const double P = model.perimeter;
    const Point start{10 + 56, 10};

    for (double s : {0.0, P, 2 * P, -P}) {
        const WG::Located at = WG::locate(model, s);
        EXPECT_NEAR(at.point.x, start.x, 1e-6) << s;
        EXPECT_NEAR(at.point.y, start.y, 1e-6) << s;
        EXPECT_NEAR(at.normal.y, -1, 1e-9);
    }

    // Ten points before the end: on the bottom-left arc, centre (66, 66), radius 56.
    const WG::Located back = WG::locate(model, -10);
    const WG::Piece& last = model.pieces.back();
    ASSERT_TRUE(last.arc);
    const double angle = std::numbers::pi + std::numbers::pi / 2 * (1 - 10 / last.len);
    EXPECT_NEAR(back.point.x, 66 + 56 * std::cos(angle), 1e-6);
    EXPECT_NEAR(back.point.y, 66 + 56 * std::sin(angle), 1e-6);
    EXPECT_NEAR(back.normal.x, std::cos(angle), 1e-9);
    EXPECT_NEAR(back.normal.y, std::sin(angle), 1e-9);

    // Pieces run counter-clockwise: the right edge points outwards to the right, the top up.
    EXPECT_NEAR(WG::locate(model, model.pieces[2].start + 1).normal.x, 1, 1e-9);
    EXPECT_NEAR(WG::locate(model, model.pieces[4].start + 1).normal.y, 1, 1e-9);
    EXPECT_NEAR(WG::locate(model, model.pieces[4].start + 1).point.y, 890, 1e-9);
}

TEST(WobbleSamples, CountStartAndSeamlessClose) {
    for (WobbleMode mode : {WobbleMode::recording, WobbleMode::casting}) {
        const WobbleStyle style = WobbleStyle::of(mode);
        const WG::Model model = WG::buildModel(1440, 900, style);
        const std::vector<Point> points = WG::samples(model, style, 0);
        ASSERT_EQ(points.size(), mode == WobbleMode::recording ? 220u : 300u);
        const double inset = style.amplitude + style.thickness / 2 + 2;
        EXPECT_NEAR(points[0].x, inset + 56, 1e-9);
        EXPECT_NEAR(points[0].y, inset, 1e-9);
        // A whole number of waves: the wave at the end of the outline meets its start.
        for (double t : {0.0, 0.37, 3.1}) {
            EXPECT_NEAR(WG::offset(model, style, model.perimeter, t),
                        WG::offset(model, style, 0, t), 1e-9);
            EXPECT_NEAR(WG::offset(model, style, model.perimeter - 0.01, t),
                        WG::offset(model, style, 0.01, t) - 2 * (WG::offset(model, style, 0.01, t) -
                                                                 WG::offset(model, style, 0, t)),
                        1e-3);
        }
        // No sample is ever farther out than the amplitude from the outline.
        for (const Point& p : WG::samples(model, style, 1.234)) {
            EXPECT_GE(p.x, inset - style.amplitude - 1e-9);
            EXPECT_LE(p.y, 900 - inset + style.amplitude + 1e-9);
        }
    }
}

// The crest moves backwards along the outline (clockwise on screen) by one wavelength per
// period of the wave.
TEST(WobbleSamples, CrestsTravelBackwards) {
    const WobbleStyle style = WobbleStyle::of(WobbleMode::recording);
    const WG::Model model = WG::buildModel(1440, 900, style);
    const double wavelength = model.perimeter / style.waveCount;
    auto crestNear = [&](double t, double around) {
        double best = around;
        double bestValue = -1e9;
        for (double s = around - wavelength / 2; s < around + wavelength / 2; s += 0.01) {
            const double v = WG::offset(model, style, s, t);
            if (v > bestValue) {
                bestValue = v;
                best = s;
            }
        }
        return best;
    };
    const double c0 = crestNear(0, wavelength / 4 + 300);
    const double c1 = crestNear(0.5, c0);
    EXPECT_LT(c1, c0);
    EXPECT_NEAR(c0 - c1, wavelength * style.frequency * 0.5, 0.05); // 51.18 points a second
    // After a whole period the pattern is back where it was.
    const std::vector<Point> a = WG::samples(model, style, 0.3);
    const std::vector<Point> b = WG::samples(model, style, 0.3 + 1 / style.frequency);
    for (std::size_t i = 0; i < a.size(); i += 17) {
        EXPECT_NEAR(a[i].x, b[i].x, 1e-6);
        EXPECT_NEAR(a[i].y, b[i].y, 1e-6);
    }
}

TEST(WobbleCurve, CatmullRomControlPointsOnASquare) {
    const std::vector<Point> square{{0, 0}, {6, 0}, {6, 6}, {0, 6}};
    const std::vector<WG::Segment> segments = WG::bezierSegments(square);
    ASSERT_EQ(segments.size(), 4u);
    // Segment 0 runs from (0,0) to (6,0); p0 = (0,6), p3 = (6,6).
    EXPECT_EQ(segments[0].control1, (Point{1, -1}));
    EXPECT_EQ(segments[0].control2, (Point{5, -1}));
    EXPECT_EQ(segments[0].end, (Point{6, 0}));
    // The last segment closes on the first point.
    EXPECT_EQ(segments[3].end, (Point{0, 0}));
    EXPECT_TRUE(WG::bezierSegments({{0, 0}, {1, 1}}).empty());
}

class WobbleView : public ::testing::Test {
protected:
    static void SetUpTestSuite() { kestro::testing::qtApp(); }
};

// Flipped once into y-down space the outline starts at the bottom, runs right along the bottom
// edge and then up the right side.
TEST_F(WobbleView, PathIsFlippedIntoWidgetSpace) {
    const QPainterPath path = WobbleFrameView::pathFor(QSizeF(1440, 900), WobbleMode::recording, 0);
    ASSERT_GT(path.elementCount(), 3);
    const QPointF first = path.elementAt(0);
    EXPECT_NEAR(first.x(), 66, 1e-9);
    EXPECT_NEAR(first.y(), 890, 1e-9);
    const QPointF next = path.elementAt(3); // end of the first cubic segment
    EXPECT_GT(next.x(), first.x());
    const QPointF quarter = path.pointAtPercent(0.3);
    EXPECT_GT(quarter.x(), 1300);
    EXPECT_LT(quarter.y(), 890);
    EXPECT_TRUE(WobbleFrameView::pathFor(QSizeF(20, 900), WobbleMode::recording, 0).isEmpty());

    // The whole outline lies inside the ring that is repainted and, without a compositor,
    // shown; the middle of the screen is not part of it.
    for (WobbleMode mode : {WobbleMode::recording, WobbleMode::casting}) {
        const QRegion ring = WobbleFrameView::ringRegion(QSize(1440, 900), mode);
        const QPainterPath p = WobbleFrameView::pathFor(QSizeF(1440, 900), mode, 0.77);
        const double half = WobbleStyle::of(mode).thickness / 2;
        for (int i = 0; i <= 400; ++i) {
            const QPointF at = p.pointAtPercent(i / 400.0);
            for (QPointF d :
                 {QPointF(half, 0), QPointF(-half, 0), QPointF(0, half), QPointF(0, -half)}) {
                EXPECT_TRUE(ring.contains((at + d).toPoint())) << at.x() << "," << at.y();
            }
        }
        EXPECT_FALSE(ring.contains(QPoint(720, 450)));
        EXPECT_FALSE(ring.contains(QPoint(200, 200)));
    }
}

// The line as a round-joined pen of the style's width draws it along the outline, in one piece.
QImage penStroke(QSize size, WobbleMode mode, const QPainterPath& path) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, WobbleStyle::of(mode).thickness, Qt::SolidLine, Qt::RoundCap,
                  Qt::RoundJoin));
    p.drawPath(path);
    return image;
}

constexpr QRgb stale = qRgba(200, 30, 30, 255);

// Over stale content everywhere: what the region covers must come out cleared.
QImage ringPainted(QSize size, WobbleMode mode, double t, const QRegion& region,
                   QRgb background = stale) {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(background);
    QPainter p(&image);
    WobbleRingPainter(size, mode)
        .paint(p, region, WobbleFrameView::pathFor(QSizeF(size), mode, t), t);
    return image;
}

// Coverage of the pen's line over `crop`, drawn eight times larger and averaged back: the
// line as it truly is, to within a few levels.
std::vector<int> trueCoverage(const QPainterPath& path, WobbleMode mode, QRect crop) {
    constexpr int k = 8;
    QImage big(crop.size() * k, QImage::Format_ARGB32_Premultiplied);
    big.fill(Qt::transparent);
    {
        QPainter p(&big);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(k, k);
        p.translate(-crop.topLeft());
        p.setPen(QPen(Qt::black, WobbleStyle::of(mode).thickness, Qt::SolidLine, Qt::RoundCap,
                      Qt::RoundJoin));
        p.drawPath(path);
    }
    std::vector<int> out;
    for (int y = 0; y < crop.height(); ++y) {
        for (int x = 0; x < crop.width(); ++x) {
            int sum = 0;
            for (int j = 0; j < k; ++j) {
                const auto* line = reinterpret_cast<const QRgb*>(big.constScanLine(y * k + j));
                for (int i = 0; i < k; ++i) {
                    sum += qAlpha(line[x * k + i]);
                }
            }
            out.push_back(sum / (k * k));
        }
    }
    return out;
}

// The frame is filled tile by tile from the band either side of the curve; it must be the line
// the pen draws: compared with that line worked out finely, a corner and the middle of two
// edges are within a tenth of a pixel's coverage everywhere (the pen drawn directly strays
// about twice as far). A view too small for the band is drawn by the pen itself.
TEST_F(WobbleView, TheTiledLineIsThePensLine) {
    struct Case {
        QSize size;
        WobbleMode mode;
        double t;
    };
    const Case cases[] = {
        {{1440, 900}, WobbleMode::recording, 0},    {{1440, 900}, WobbleMode::casting, 0.77},
        {{1920, 1080}, WobbleMode::casting, 1.3},   {{3840, 2160}, WobbleMode::casting, 2.05},
        {{3840, 2160}, WobbleMode::recording, 3.9}, {{100, 60}, WobbleMode::recording, 0.5},
        {{333, 97}, WobbleMode::casting, 0.1},
    };
    const QDir artifacts(QStringLiteral(KESTRO_ARTIFACT_DIR));
    QDir().mkpath(artifacts.path());
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.size.width() << "x" << c.size.height() << " t=" << c.t);
        const QPainterPath path = WobbleFrameView::pathFor(QSizeF(c.size), c.mode, c.t);
        const QRegion ring = WobbleFrameView::ringRegion(c.size, c.mode);
        const QImage tiled = ringPainted(c.size, c.mode, c.t, ring);
        const QImage pen = penStroke(c.size, c.mode, path);
        // Cleared and drawn black: nothing of the stale red stays in the ring.
        for (const QRect& r : ring) {
            for (int y = r.top(); y <= r.bottom(); ++y) {
                for (int x = r.left(); x <= r.right(); ++x) {
                    ASSERT_EQ(qRed(tiled.pixel(x, y)), 0) << x << "," << y;
                }
            }
        }
        const int w = c.size.width();
        const int h = c.size.height();
        if (w < 400) {
            for (int y = 0; y < h; ++y) {
                for (int x = 0; x < w; ++x) {
                    const QRgb expected = ring.contains(QPoint(x, y)) ? pen.pixel(x, y) : stale;
                    ASSERT_EQ(tiled.pixel(x, y), expected) << x << "," << y;
                }
            }
            continue;
        }
        const QRect crops[] = {
            {0, 0, 240, 200}, {w / 2 - 150, h - 50, 300, 50}, {w - 50, h / 2 - 150, 50, 300}};
        for (const QRect& crop : crops) {
            const std::vector<int> truth = trueCoverage(path, c.mode, crop);
            int worst = 0;
            int inked = 0;
            for (int y = 0; y < crop.height(); ++y) {
                for (int x = 0; x < crop.width(); ++x) {
                    const QPoint at = crop.topLeft() + QPoint(x, y);
                    const int mine = ring.contains(at) ? qAlpha(tiled.pixel(at)) : 0;
                    const int expected = truth[static_cast<std::size_t>(y * crop.width() + x)];
                    worst = std::max(worst, std::abs(mine - expected));
                    inked += expected > 128;
                }
            }
            EXPECT_GT(inked, 100) << "the crop " << crop.x() << "," << crop.y()
                                  << " holds the line";
            EXPECT_LE(worst, 24) << "at the crop " << crop.x() << "," << crop.y();
        }
        if (c.size == QSize(1920, 1080)) {
            pen.save(artifacts.filePath(QStringLiteral("frame-line-pen-1920x1080.png")));
            ringPainted(c.size, c.mode, c.t, ring, qRgba(0, 0, 0, 0))
                .save(artifacts.filePath(QStringLiteral("frame-line-tiled-1920x1080.png")));
        }
    }
}

// Only the region asked for is touched; a region across tile edges is painted as a whole.
TEST_F(WobbleView, OnlyTheRegionIsPainted) {
    const QSize size(640, 400);
    const QPainterPath path = WobbleFrameView::pathFor(QSizeF(size), WobbleMode::casting, 0.3);
    const QRegion part = QRegion(100, 370, 300, 30) + QRegion(0, 0, 20, 200);
    const QImage pen = penStroke(size, WobbleMode::casting, path);
    const QImage painted = ringPainted(size, WobbleMode::casting, 0.3, part);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            const QRgb p = painted.pixel(x, y);
            if (!part.contains(QPoint(x, y))) {
                ASSERT_EQ(p, stale) << x << "," << y;
            } else {
                ASSERT_LE(std::abs(qAlpha(p) - qAlpha(pen.pixel(x, y))), 40) << x << "," << y;
            }
        }
    }
}

TEST_F(WobbleView, StartingTwiceKeepsTheFirstStart) {
    WobbleFrameView view;
    view.resize(400, 300);
    EXPECT_FALSE(view.isAnimating());
    view.stopAnimating(); // still: nothing to do
    view.startAnimating();
    ASSERT_TRUE(view.isAnimating());
    QElapsedTimer wait;
    wait.start();
    while (wait.elapsed() < 30) {
        QCoreApplication::processEvents();
    }
    const double before = view.elapsed();
    view.startAnimating();
    EXPECT_GE(view.elapsed(), before);
    EXPECT_GT(view.elapsed(), 0.02);
    view.setMode(WobbleMode::casting);
    EXPECT_GE(view.elapsed(), before) << "a change of style keeps the wave's start";
    view.stopAnimating();
    EXPECT_FALSE(view.isAnimating());
}

} // namespace
