#include "Kestro/ControlKeyCap.h"

#include "Kestro/Symbols.h"

#include <QPainter>
#include <QPainterPath>

namespace kestro {

ControlKeyCap::ControlKeyCap(platform::MainQueue& queue, QWidget* parent)
    : QWidget(parent), queue_(queue), self_(std::make_shared<ControlKeyCap*>(this)) {
    setFixedSize(sizeHint());
    setAttribute(Qt::WA_TranslucentBackground);
    animation_.setDuration(animationMs);
    animation_.setEasingCurve(QEasingCurve::InOutQuad);
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        depth_ = v.toDouble();
        update();
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
            }
        });
        value = !value;
    }
}

void ControlKeyCap::setPressed(bool pressed) {
    pressed_ = pressed;
    animation_.stop();
    animation_.setStartValue(depth_);
    animation_.setEndValue(pressed ? 1.0 : 0.0);
    animation_.start();
}

void ControlKeyCap::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const double d = depth_;
    const double scale = 1.0 - 0.1 * d;
    const double shadowOpacity = 0.12 - 0.08 * d;
    const double shadowRadius = 3 - 2 * d;
    const double shadowOffset = 2 - 1.5 * d;
    const QRectF cap(0, 0, 56, 48);

    p.translate(cap.center());
    p.scale(scale, scale);
    p.translate(-cap.center());
    const QRectF body = cap.adjusted(4, 3, -4, -5);

    // A soft shadow from a few widening, fading outlines.
    for (int i = 1; i <= 3; ++i) {
        const double grow = shadowRadius * i / 3.0;
        QPainterPath shadow;
        shadow.addRoundedRect(body.adjusted(-grow, -grow, grow, grow).translated(0, shadowOffset),
                              10 + grow, 10 + grow);
        p.fillPath(shadow, QColor::fromRgbF(0, 0, 0, static_cast<float>(shadowOpacity / 3)));
    }
    QPainterPath path;
    path.addRoundedRect(body, 10, 10);
    const double white = 0.96 - 0.05 * d;
    p.fillPath(path, QColor::fromRgbF(static_cast<float>(white), static_cast<float>(white),
                                      static_cast<float>(white)));
    p.setPen(QPen(QColor::fromRgbF(0, 0, 0, 0.12f), 1));
    p.drawPath(path);

    const QColor secondary = QColor::fromRgbF(0.24f, 0.24f, 0.26f, 0.6f);
    // The symbol is the same in every frame of the animation: rendered once, then reused.
    const qreal density = devicePixelRatioF();
    if (chevron_.isNull() || chevron_.devicePixelRatio() != density) {
        chevron_ = Symbols::image(QStringLiteral("chevron.up"), chevronSize, secondary,
                                  Symbols::Weight::semibold, density);
    }
    const QPointF chevronCenter(body.center().x(), body.top() + 14);
    p.drawImage(QRectF(chevronCenter.x() - chevronSize / 2, chevronCenter.y() - chevronSize / 2,
                       chevronSize, chevronSize),
                chevron_);
    QFont font = p.font();
    font.setPixelSize(10);
    font.setWeight(QFont::Medium);
    p.setFont(font);
    p.setPen(secondary);
    p.drawText(QRectF(body.left(), body.top() + 22, body.width(), 14), Qt::AlignCenter, "control");
}

} // namespace kestro
