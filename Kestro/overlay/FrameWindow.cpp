#include "Kestro/overlay/FrameWindow.h"

#include <algorithm>
#include <numbers>

namespace kestro {

FrameWindow::FrameWindow(QRect screenGeometry, platform::SurfaceWindows* surfaces)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus),
      surfaces_(surfaces), frameView_(new WobbleFrameView(this)) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setFocusPolicy(Qt::NoFocus);
    setWindowTitle(QStringLiteral("Kestro frame"));
    setGeometry(screenGeometry);
    frameView_->setGeometry(QRect(QPoint(0, 0), screenGeometry.size()));
    frameView_->setFrameObserver([this](const QPainterPath& path) {
        if (masked_) {
            applyShape(shapeFor(path));
        }
    });
    // The native window exists from here on, so its input region can be emptied before it is
    // ever mapped.
    const auto id = static_cast<platform::SurfaceWindows::WindowID>(winId());
    if (surfaces_) {
        surfaces_->setAcceptsInput(id, false);
        setMasked(!surfaces_->compositing());
    }
}

QRegion FrameWindow::shapeFor(const QPainterPath& path) const {
    QRegion shape = WobbleFrameView::strokeRegion(path, frameView_->mode());
    // An empty mask would show the whole window; one pixel in a corner shows nothing much.
    return shape.isEmpty() ? QRegion(0, 0, 1, 1) : shape;
}

void FrameWindow::applyShape(QRegion shape) {
    if (shape == shape_) {
        return;
    }
    shape_ = std::move(shape);
    if (!surfaces_) {
        setMask(shape_);
        return;
    }
    std::vector<platform::SurfaceWindows::ShapeRect> rects;
    rects.reserve(static_cast<std::size_t>(shape_.rectCount()));
    for (const QRect& r : shape_) {
        rects.push_back({r.x(), r.y(), r.width(), r.height()});
    }
    surfaces_->setShape(static_cast<platform::SurfaceWindows::WindowID>(winId()), rects);
}

void FrameWindow::setMode(WobbleFrameView::Mode mode) {
    frameView_->setMode(mode);
    if (masked_) {
        frameView_->setMinimumInterval(shapedFrameInterval(mode));
    }
    frameView_->startAnimating();
}

int FrameWindow::shapedFrameInterval(WobbleFrameView::Mode mode) {
    // Each point of the line moves along its normal, at most amplitude times the wave's angular
    // speed: a new shape no sooner than that takes to cover one pixel moves the line one pixel
    // at a time, as a new shape at every refresh does.
    const WobbleStyle style = WobbleStyle::of(mode);
    const double pixelsPerSecond = style.amplitude * 2 * std::numbers::pi * style.frequency;
    const double ms = pixelsPerSecond > 0 ? 1000 / pixelsPerSecond : shapedIntervalMax;
    return std::clamp(static_cast<int>(ms), shapedIntervalMin, shapedIntervalMax);
}

void FrameWindow::orderFront() {
    show();
    raise();
}

void FrameWindow::orderOut() {
    frameView_->stopAnimating();
    hide();
}

void FrameWindow::setMasked(bool masked) {
    masked_ = masked;
    // Each new shape costs the X server a pass over every window beneath and over the line's
    // thousands of rectangles: fewer shapes cost less, and the wave keeps its speed.
    frameView_->setMinimumInterval(masked ? shapedFrameInterval(frameView_->mode()) : 0);
    frameView_->setRepaintsFrames(!masked);
    if (masked) {
        applyShape(shapeFor(frameView_->path()));
    } else {
        shape_ = QRegion();
        frameView_->update();
        if (surfaces_) {
            surfaces_->clearShape(static_cast<platform::SurfaceWindows::WindowID>(winId()));
        } else {
            clearMask();
        }
    }
}

void FrameWindow::hideEvent(QHideEvent* event) {
    // However it went off screen, a hidden frame costs nothing.
    frameView_->stopAnimating();
    QWidget::hideEvent(event);
}

} // namespace kestro
