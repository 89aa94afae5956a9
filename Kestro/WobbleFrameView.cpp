#include "Kestro/WobbleFrameView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPathStroker>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace kestro {

namespace {

// Points along the curve no further apart than this (pixels): the chord of the tightest bend
// (the corners' inner edge, about 50 px round) then strays less than 0.05 px from it.
constexpr double ribbonStep = 4;

// The two edges of the line along a closed outline: for each point taken on the curve, the
// points half the line's width to its left and to its right.
struct Ribbon {
    std::vector<QPointF> centre, left, right;
    // The curve bends tighter than half the line somewhere (only on a tiny view): there the
    // inner edge folds over itself and the band is not the line.
    bool folded = false;
};

QPointF cubicAt(const QPointF& a, const QPointF& b, const QPointF& c, const QPointF& d, double u) {
    const double v = 1 - u;
    return v * v * v * a + 3 * v * v * u * b + 3 * v * u * u * c + u * u * u * d;
}

QPointF cubicTangent(const QPointF& a, const QPointF& b, const QPointF& c, const QPointF& d,
                     double u) {
    const double v = 1 - u;
    return 3 * v * v * (b - a) + 6 * v * u * (c - b) + 3 * u * u * (d - c);
}

QPointF cubicBend(const QPointF& a, const QPointF& b, const QPointF& c, const QPointF& d,
                  double u) {
    return 6 * (1 - u) * (c - 2 * b + a) + 6 * u * (d - 2 * c + b);
}

double length(const QPointF& p) {
    return std::sqrt(p.x() * p.x() + p.y() * p.y());
}

Ribbon ribbonOf(const QPainterPath& path, double halfWidth) {
    Ribbon r;
    const int count = path.elementCount();
    r.centre.reserve(static_cast<std::size_t>(count * 4));
    r.left.reserve(r.centre.capacity());
    r.right.reserve(r.centre.capacity());
    auto add = [&](const QPointF& at, QPointF tangent, const QPointF& chord, const QPointF& bend) {
        double len = length(tangent);
        if (len < 1e-9) {
            tangent = chord;
            len = length(tangent);
        }
        if (len < 1e-9) {
            return;
        }
        // Curvature times half the line: 1 where the inner edge comes to a point; stay well
        // below.
        const double curvature =
            std::abs(tangent.x() * bend.y() - tangent.y() * bend.x()) / (len * len * len);
        if (curvature * halfWidth > 0.5) {
            r.folded = true;
        }
        const QPointF normal(-tangent.y() / len * halfWidth, tangent.x() / len * halfWidth);
        r.centre.push_back(at);
        r.left.push_back(at + normal);
        r.right.push_back(at - normal);
    };
    QPointF from;
    for (int i = 0; i < count; ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        if (e.isMoveTo()) {
            from = e;
            continue;
        }
        if (e.isCurveTo() && i + 2 < count) {
            const QPointF c1 = e;
            const QPointF c2 = path.elementAt(i + 1);
            const QPointF to = path.elementAt(i + 2);
            i += 2;
            // The control polygon is never shorter than the curve.
            const double hull = length(c1 - from) + length(c2 - c1) + length(to - c2);
            const int n = std::max(1, static_cast<int>(std::ceil(hull / ribbonStep)));
            for (int k = 0; k < n; ++k) {
                const double u = static_cast<double>(k) / n;
                add(cubicAt(from, c1, c2, to, u), cubicTangent(from, c1, c2, to, u), to - from,
                    cubicBend(from, c1, c2, to, u));
            }
            from = to;
        } else {
            const QPointF to = e;
            const int n = std::max(1, static_cast<int>(std::ceil(length(to - from) / ribbonStep)));
            for (int k = 0; k < n; ++k) {
                const QPointF at = from + (to - from) * (static_cast<double>(k) / n);
                add(at, to - from, to - from, QPointF());
            }
            from = to;
        }
    }
    return r;
}

} // namespace

WobbleFrameView::WobbleFrameView(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &WobbleFrameView::tick);
}

void WobbleFrameView::setMode(Mode mode) {
    if (mode_ == mode) {
        return;
    }
    mode_ = mode;
    ring_ = ringRegion(size(), mode_);
    tiles_ = ringTiles(size(), mode_);
    update();
}

void WobbleFrameView::startAnimating() {
    if (timer_.isActive()) {
        return;
    }
    clock_.start();
    int interval = 16;
    if (const QScreen* s = screen(); s && s->refreshRate() > 1) {
        interval = std::max(4, static_cast<int>(std::lround(1000.0 / s->refreshRate())));
    }
    timer_.start(interval);
    tick();
}

void WobbleFrameView::stopAnimating() {
    timer_.stop();
}

double WobbleFrameView::elapsed() const {
    return clock_.isValid() ? static_cast<double>(clock_.nsecsElapsed()) / 1e9 : 0.0;
}

QPainterPath WobbleFrameView::pathFor(QSizeF size, Mode mode, double t) {
    const WobbleStyle style = WobbleStyle::of(mode);
    const WobbleGeometry::Model model =
        WobbleGeometry::buildModel(size.width(), size.height(), style);
    const std::vector<Point> points = WobbleGeometry::samples(model, style, t);
    const std::vector<WobbleGeometry::Segment> segments = WobbleGeometry::bezierSegments(points);
    QPainterPath path;
    if (segments.empty()) {
        return path;
    }
    // The one flip from y-up into the widget's y-down space.
    const double h = size.height();
    auto flip = [h](const Point& p) { return QPointF(p.x, h - p.y); };
    path.moveTo(flip(points.front()));
    for (const WobbleGeometry::Segment& s : segments) {
        path.cubicTo(flip(s.control1), flip(s.control2), flip(s.end));
    }
    path.closeSubpath();
    return path;
}

QRegion WobbleFrameView::ringRegion(QSize size, Mode mode) {
    const WobbleStyle style = WobbleStyle::of(mode);
    const QRect all(QPoint(0, 0), size);
    // The outline's rectangle lies `inset` in; crests reach amplitude plus half the line out of
    // it and as far into it, and the round caps and anti-aliasing a little more.
    const double inset = style.amplitude + style.thickness / 2 + 2;
    const int band = static_cast<int>(std::ceil(inset + style.amplitude + style.thickness / 2)) + 2;
    if (size.width() <= 2 * band || size.height() <= 2 * band) {
        return QRegion(all);
    }
    QRegion ring = QRegion(all).subtracted(QRegion(all.adjusted(band, band, -band, -band)));
    // The rounded corners bend inwards by up to the corner radius.
    const int corner = band + static_cast<int>(std::ceil(style.cornerRadius));
    const int cw = std::min(corner, size.width() / 2);
    const int ch = std::min(corner, size.height() / 2);
    ring += QRegion(0, 0, cw, ch);
    ring += QRegion(size.width() - cw, 0, cw, ch);
    ring += QRegion(0, size.height() - ch, cw, ch);
    ring += QRegion(size.width() - cw, size.height() - ch, cw, ch);
    return ring;
}

WobbleFrameView::Tiles WobbleFrameView::ringTiles(QSize size, Mode mode, int side) {
    Tiles tiles;
    tiles.side = std::max(16, side);
    tiles.columns = (size.width() + tiles.side - 1) / tiles.side;
    const int rows = (size.height() + tiles.side - 1) / tiles.side;
    tiles.inSquare.resize(static_cast<std::size_t>(tiles.columns * rows));
    const QRegion ring = ringRegion(size, mode);
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < tiles.columns; ++column) {
            const QRect square(column * tiles.side, row * tiles.side, tiles.side, tiles.side);
            for (const QRect& r : ring.intersected(square)) {
                tiles.inSquare[static_cast<std::size_t>(row * tiles.columns + column)].push_back(
                    static_cast<int>(tiles.rects.size()));
                tiles.rects.push_back(r);
            }
        }
    }
    return tiles;
}

void WobbleFrameView::paintRing(QPainter& painter, const QRegion& region, const QPainterPath& path,
                                const Tiles& tiles, Mode mode) {
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect& r : region) {
        painter.fillRect(r, Qt::transparent);
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    const WobbleStyle style = WobbleStyle::of(mode);
    const Ribbon ribbon = ribbonOf(path, style.thickness / 2);
    const int m = static_cast<int>(ribbon.centre.size());
    painter.setRenderHint(QPainter::Antialiasing);
    if (ribbon.folded || tiles.columns <= 0) {
        // Too small a view for the band: the pen draws it, all at once.
        painter.setClipRegion(region);
        painter.setPen(
            QPen(Qt::black, style.thickness, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.restore();
        return;
    }
    if (m < 3) {
        painter.restore();
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);

    // Which points of the curve each tile's line can reach (half the line, and a pixel or two
    // of anti-aliasing), in order along the curve. A point reaches no further than one square
    // of the grid.
    const double reach = style.thickness / 2 + 2;
    const int rows = static_cast<int>(tiles.inSquare.size()) / tiles.columns;
    const double side = tiles.side;
    std::vector<std::vector<int>> near(tiles.rects.size());
    for (int i = 0; i < m; ++i) {
        const double x = ribbon.centre[static_cast<std::size_t>(i)].x();
        const double y = ribbon.centre[static_cast<std::size_t>(i)].y();
        const int c0 =
            std::clamp(static_cast<int>(std::floor((x - reach) / side)), 0, tiles.columns - 1);
        const int c1 =
            std::clamp(static_cast<int>(std::floor((x + reach) / side)), 0, tiles.columns - 1);
        const int r0 = std::clamp(static_cast<int>(std::floor((y - reach) / side)), 0, rows - 1);
        const int r1 = std::clamp(static_cast<int>(std::floor((y + reach) / side)), 0, rows - 1);
        for (int row = r0; row <= r1; ++row) {
            for (int column = c0; column <= c1; ++column) {
                for (int t :
                     tiles.inSquare[static_cast<std::size_t>(row * tiles.columns + column)]) {
                    const QRect& r = tiles.rects[static_cast<std::size_t>(t)];
                    if (x >= r.x() - reach && x <= r.x() + r.width() + reach &&
                        y >= r.y() - reach && y <= r.y() + r.height() + reach) {
                        near[static_cast<std::size_t>(t)].push_back(i);
                    }
                }
            }
        }
    }

    std::vector<QPointF> polygon;
    for (std::size_t t = 0; t < tiles.rects.size(); ++t) {
        const std::vector<int>& points = near[t];
        if (points.empty()) {
            continue;
        }
        const QRegion clip = region.intersected(tiles.rects[t]);
        if (clip.isEmpty()) {
            continue;
        }
        if (clip.rectCount() == 1) {
            painter.setClipRect(clip.boundingRect());
        } else {
            painter.setClipRegion(clip);
        }
        if (static_cast<int>(points.size()) == m) {
            // The whole line reaches this tile (a tiny screen): both edges, filled between.
            QPainterPath band;
            band.setFillRule(Qt::OddEvenFill);
            band.addPolygon(QPolygonF(QList<QPointF>(ribbon.left.begin(), ribbon.left.end())));
            band.closeSubpath();
            band.addPolygon(QPolygonF(QList<QPointF>(ribbon.right.begin(), ribbon.right.end())));
            band.closeSubpath();
            painter.drawPath(band);
            continue;
        }
        // Stretches of consecutive points; one that runs over the curve's start is joined up
        // by starting after a gap.
        std::size_t first = 0;
        for (std::size_t k = 0; k < points.size(); ++k) {
            const int previous = points[(k + points.size() - 1) % points.size()];
            if ((previous + 1) % m != points[k]) {
                first = k;
                break;
            }
        }
        std::size_t k = 0;
        while (k < points.size()) {
            const int start = points[(first + k) % points.size()];
            int end = start;
            ++k;
            while (k < points.size() && points[(first + k) % points.size()] == (end + 1) % m) {
                end = (end + 1) % m;
                ++k;
            }
            // One point more at either end, where the line is out of the tile's reach, so the
            // band's cut ends lie outside the tile.
            const int a = (start - 1 + m) % m;
            const int n = (end - start + m) % m + 3;
            polygon.clear();
            for (int j = 0; j < n; ++j) {
                polygon.push_back(ribbon.left[static_cast<std::size_t>((a + j) % m)]);
            }
            for (int j = n - 1; j >= 0; --j) {
                polygon.push_back(ribbon.right[static_cast<std::size_t>((a + j) % m)]);
            }
            painter.drawPolygon(polygon.data(), static_cast<int>(polygon.size()), Qt::WindingFill);
        }
    }
    painter.restore();
}

QRegion WobbleFrameView::strokeRegion(const QPainterPath& path, Mode mode) {
    if (path.isEmpty()) {
        return {};
    }
    QPainterPathStroker stroker;
    // A pixel wider than the line, so its anti-aliased edge stays inside.
    stroker.setWidth(WobbleStyle::of(mode).thickness + 2);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return QRegion(stroker.createStroke(path).toFillPolygon().toPolygon(), Qt::WindingFill);
}

void WobbleFrameView::tick() {
    path_ = pathFor(QSizeF(size()), mode_, elapsed());
    if (frameObserver_) {
        frameObserver_(path_);
    }
    update(ring_);
}

void WobbleFrameView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ring_ = ringRegion(size(), mode_);
    tiles_ = ringTiles(size(), mode_);
}

void WobbleFrameView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    paintRing(painter, event->region(), path_, tiles_, mode_);
}

} // namespace kestro
