#include "Kestro/WobbleFrameView.h"

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
    painter_ = WobbleRingPainter(size(), mode_);
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
    time_ = elapsed();
    path_ = pathFor(QSizeF(size()), mode_, time_);
    if (frameObserver_) {
        frameObserver_(path_);
    }
    update(ring_);
}

void WobbleFrameView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    ring_ = ringRegion(size(), mode_);
    painter_ = WobbleRingPainter(size(), mode_);
}

void WobbleFrameView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter_.paint(painter, event->region(), path_, time_);
}

} // namespace kestro
