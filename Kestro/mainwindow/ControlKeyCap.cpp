#include "Kestro/mainwindow/ControlKeyCap.h"

#include "Kestro/ui/SharedWake.h"
#include "Kestro/ui/Symbols.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

namespace kestro {

ControlKeyCap::ControlKeyCap(platform::MainQueue& queue, QWidget* parent)
    : QWidget(parent), queue_(queue), self_(std::make_shared<ControlKeyCap*>(this)) {
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_TranslucentBackground);
    stepTimer_.setSingleShot(true);
    stepTimer_.setTimerType(Qt::PreciseTimer);
    connect(&stepTimer_, &QTimer::timeout, this, [this] {
        step();
        SharedWake::woke();
    });
}

ControlKeyCap::~ControlKeyCap() {
    *self_ = nullptr;
}

void ControlKeyCap::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    start();
}

void ControlKeyCap::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // Changes already scheduled still run, so the cap ends released.
    timer_.reset();
}

void ControlKeyCap::start() {
    tapTwice();
    timer_ = queue_.repeat(interval, [this] { tapTwice(); });
}

void ControlKeyCap::tapTwice() {
    bool value = true;
    for (double delay : changeDelays) {
        queue_.postAfter(delay, [self = self_, value] {
            if (*self) {
                (*self)->setPressed(value);
                SharedWake::woke();
            }
        });
        value = !value;
    }
}

void ControlKeyCap::setPressed(bool pressed) {
    pressed_ = pressed;
    from_ = depth_;
    to_ = pressed ? 1.0 : 0.0;
    moving_.start();
    step();
}

double ControlKeyCap::depthAt(double progress) const {
    return from_ + (to_ - from_) * easing_.valueForProgress(std::clamp(progress, 0.0, 1.0));
}

void ControlKeyCap::step() {
    const double progress = static_cast<double>(moving_.nsecsElapsed()) / 1e6 / animationMs;
    depth_ = progress >= 1 ? to_ : depthAt(progress);
    // Repaint only when the picture changes, and only the cap's own rectangle; at once, as
    // this is the timer's only work, rather than through a posted request that wakes the
    // event loop a second time.
    const int frame = frameFor(depth_);
    if (frame != shownFrame_) {
        shownFrame_ = frame;
        if (isVisible()) {
            repaint();
        }
    }
    if (progress >= 1) {
        stepTimer_.stop();
        return;
    }
    // The moment the eased depth shows the next step: the curve is monotonic, so halving the
    // time left finds it.
    double lo = progress;
    double hi = 1;
    for (int i = 0; i < 24; ++i) {
        const double mid = (lo + hi) / 2;
        (frameFor(depthAt(mid)) == frame ? lo : hi) = mid;
    }
    const double ms = (hi - progress) * animationMs;
    stepTimer_.start(static_cast<int>(std::ceil(std::max(ms, 1.0))));
}

int ControlKeyCap::frameFor(double depth) {
    return static_cast<int>(std::lround(std::clamp(depth, 0.0, 1.0) * frameSteps));
}

QImage ControlKeyCap::render(double d, qreal density) {
    const QSize size(64, 56);
    QImage image(size * density, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(density);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    const double scale = 1.0 - 0.1 * d;
    const double shadowOpacity = 0.12 - 0.08 * d;
    const double shadowRadius = 3 - 2 * d;
    const double shadowOffset = 2 - 1.5 * d;
    const QRectF cap(capRect);

    p.translate(cap.center());
    p.scale(scale, scale);
    p.translate(-cap.center());

    // A soft shadow from a few widening, fading outlines.
    for (int i = 1; i <= 3; ++i) {
        const double grow = shadowRadius * i / 3.0;
        QPainterPath shadow;
        shadow.addRoundedRect(cap.adjusted(-grow, -grow, grow, grow).translated(0, shadowOffset),
                              10 + grow, 10 + grow);
        p.fillPath(shadow, QColor::fromRgbF(0, 0, 0, static_cast<float>(shadowOpacity / 3)));
    }
    QPainterPath path;
    path.addRoundedRect(cap, 10, 10);
    p.fillPath(path, QColor::fromRgbF(0.96f, 0.96f, 0.96f));
    // Inside the border: half the line's width in from the edge.
    QPainterPath border;
    border.addRoundedRect(cap.adjusted(0.5, 0.5, -0.5, -0.5), 9.5, 9.5);
    p.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.12f), 1));
    p.drawPath(border);

    // The chevron over "control", 3 apart, centred together in the cap.
    const QColor secondary = QColor::fromRgbF(0.24f, 0.24f, 0.26f, 0.6f);
    const double chevron = Symbols::sizeForFont(15);
    QFont font = p.font();
    font.setPixelSize(8);
    font.setWeight(QFont::Medium);
    const double textHeight = QFontMetricsF(font).height();
    const double top = cap.top() + (cap.height() - (chevron + 3 + textHeight)) / 2;
    const QImage symbol = Symbols::image(QStringLiteral("chevron.up"), chevron, secondary,
                                         Symbols::Weight::semibold, density);
    p.drawImage(QRectF(cap.center().x() - chevron / 2, top, chevron, chevron), symbol);
    p.setFont(font);
    p.setPen(secondary);
    p.drawText(QRectF(cap.left(), top + chevron + 3, cap.width(), textHeight), Qt::AlignCenter,
               QStringLiteral("control"));
    // The cap darkens as a whole when pressed, its label included.
    p.end();
    if (d > 0) {
        QPainter dim(&image);
        dim.setCompositionMode(QPainter::CompositionMode_SourceAtop);
        dim.fillRect(QRectF(QPointF(0, 0), QSizeF(size)),
                     QColor::fromRgbF(0, 0, 0, float(0.05 * d)));
    }
    return image;
}

void ControlKeyCap::paintEvent(QPaintEvent*) {
    ++paints_;
    const qreal density = devicePixelRatioF();
    if (framesDensity_ != density) {
        frames_.assign(frameSteps + 1, QImage());
        framesDensity_ = density;
    }
    QImage& frame = frames_[static_cast<std::size_t>(shownFrame_)];
    if (frame.isNull()) {
        frame = render(static_cast<double>(shownFrame_) / frameSteps, density);
    }
    QPainter p(this);
    p.drawImage(QPointF(0, 0), frame);
}

} // namespace kestro
