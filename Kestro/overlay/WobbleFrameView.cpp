#include "Kestro/overlay/WobbleFrameView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPainterPathStroker>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace kestro {

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
    update();
}

const WobbleRingPainter& WobbleFrameView::painter(Mode mode) {
    const auto i = static_cast<std::size_t>(mode);
    if (painterSize_[i] != size()) {
        painters_[i] = WobbleRingPainter(size(), mode);
        painterSize_[i] = size();
    }
    return painters_[i];
}

void WobbleFrameView::prepare(Mode mode) {
    painter(mode);
}

void WobbleFrameView::startAnimating() {
    if (timer_.isActive()) {
        return;
    }
    clock_.start();
    timer_.start(interval());
    tick();
}

int WobbleFrameView::interval() const {
    int ms = 16;
    if (const QScreen* s = screen(); s && s->refreshRate() > 1) {
        ms = std::max(4, static_cast<int>(std::lround(1000.0 / s->refreshRate())));
    }
    return std::max(ms, minimumInterval_);
}

void WobbleFrameView::setMinimumInterval(int ms) {
    minimumInterval_ = ms;
    if (timer_.isActive()) {
        timer_.start(interval());
    }
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

int WobbleFrameView::ringBand(Mode mode) {
    const WobbleStyle style = WobbleStyle::of(mode);
    // The outline's rectangle lies `inset` in; crests reach amplitude plus half the line out of
    // it and as far into it, and the round caps and anti-aliasing a little more.
    const double inset = style.amplitude + style.thickness / 2 + 2;
    return static_cast<int>(std::ceil(inset + style.amplitude + style.thickness / 2)) + 2;
}

QRegion WobbleFrameView::ringRegion(QSize size, Mode mode) {
    const WobbleStyle style = WobbleStyle::of(mode);
    const QRect all(QPoint(0, 0), size);
    const int band = ringBand(mode);
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

namespace {

// The pixels whose centres lie inside `polygons` (non-zero winding), as the region of y-x
// banded rectangles it is, each band as tall as the rows it repeats. The edges keep their
// fractions, where a region made from a whole-pixel polygon moves them by up to half a pixel
// and the line's width wanders with them.
QRegion pixelCentresInside(const QList<QPolygonF>& polygons) {
    struct Edge {
        double y0, y1, x0, slope;
        int winding;
    };
    std::vector<Edge> edges;
    double top = 1e300;
    double bottom = -1e300;
    for (const QPolygonF& polygon : polygons) {
        const qsizetype n = polygon.size();
        for (qsizetype i = 0; i < n; ++i) {
            const QPointF a = polygon[i];
            const QPointF b = polygon[(i + 1) % n];
            if (a.y() == b.y()) {
                continue;
            }
            const bool down = b.y() > a.y();
            const QPointF lo = down ? a : b;
            const QPointF hi = down ? b : a;
            edges.push_back(
                {lo.y(), hi.y(), lo.x(), (hi.x() - lo.x()) / (hi.y() - lo.y()), down ? 1 : -1});
            top = std::min(top, lo.y());
            bottom = std::max(bottom, hi.y());
        }
    }
    if (edges.empty()) {
        return {};
    }
    std::sort(edges.begin(), edges.end(), [](const Edge& a, const Edge& b) { return a.y0 < b.y0; });
    std::vector<QRect> rects;
    std::vector<std::pair<int, int>> band;  // the spans of the band being built
    std::vector<std::pair<int, int>> spans; // those of the present row
    std::vector<std::pair<double, int>> crossings;
    std::vector<std::size_t> active;
    int bandTop = 0;
    auto closeBand = [&](int row) {
        for (const auto& [x0, x1] : band) {
            rects.emplace_back(x0, bandTop, x1 - x0, row - bandTop);
        }
        band.clear();
    };
    std::size_t next = 0;
    const int firstRow = static_cast<int>(std::floor(top - 0.5));
    const int lastRow = static_cast<int>(std::ceil(bottom));
    for (int row = firstRow; row <= lastRow; ++row) {
        const double y = row + 0.5;
        while (next < edges.size() && edges[next].y0 <= y) {
            active.push_back(next++);
        }
        crossings.clear();
        std::erase_if(active, [&](std::size_t i) { return edges[i].y1 <= y; });
        for (const std::size_t i : active) {
            const Edge& e = edges[i];
            if (e.y0 <= y) {
                crossings.emplace_back(e.x0 + (y - e.y0) * e.slope, e.winding);
            }
        }
        std::sort(crossings.begin(), crossings.end());
        spans.clear();
        int winding = 0;
        double from = 0;
        for (const auto& [x, w] : crossings) {
            const int before = winding;
            winding += w;
            if (before == 0 && winding != 0) {
                from = x;
            } else if (before != 0 && winding == 0) {
                // Columns c with c + 0.5 in [from, x).
                const int c0 = static_cast<int>(std::ceil(from - 0.5));
                const int c1 = static_cast<int>(std::ceil(x - 0.5));
                if (c1 > c0) {
                    if (!spans.empty() && spans.back().second >= c0) {
                        spans.back().second = std::max(spans.back().second, c1);
                    } else {
                        spans.emplace_back(c0, c1);
                    }
                }
            }
        }
        if (spans != band) {
            closeBand(row);
            band = spans;
            bandTop = row;
        }
    }
    closeBand(lastRow + 1);
    QRegion region;
    region.setRects(rects.data(), static_cast<int>(rects.size()));
    return region;
}

} // namespace

QRegion WobbleFrameView::strokeRegion(const QPainterPath& path, Mode mode) {
    if (path.isEmpty()) {
        return {};
    }
    // The pixels the line covers at least half: a shaped window cannot blend its edge, and
    // this keeps the line as wide as the anti-aliased one looks.
    QPainterPathStroker stroker;
    stroker.setWidth(WobbleStyle::of(mode).thickness);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    return pixelCentresInside(stroker.createStroke(path).toSubpathPolygons());
}

void WobbleFrameView::tick() {
    time_ = elapsed();
    path_ = pathFor(QSizeF(size()), mode_, time_);
    if (frameObserver_) {
        frameObserver_(path_);
    }
    if (repaintsFrames_) {
        update(ring_);
    }
}

void WobbleFrameView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ring_ = ringRegion(size(), mode_);
}

void WobbleFrameView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    this->painter(mode_).paint(painter, event->region(), path_, time_);
}

} // namespace kestro
