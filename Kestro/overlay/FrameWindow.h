#pragma once

#include "Kestro/overlay/WobbleFrameView.h"
#include "platform/SurfaceWindows.h"

#include <QRect>
#include <QWidget>

namespace kestro {

// A clear window covering one whole screen above every other window, holding the wobbling
// frame. It bypasses the window manager (so it is on every workspace, in no taskbar or window
// cycle), never takes focus, and lets every click, scroll and hover through: its input region
// is empty. Without a compositing manager it is shaped to the line it draws, frame by frame, or
// its clear parts would show black; the shape goes to the window system directly, so that the
// toolkit still paints and sends the ring in a few large pieces instead of thousands of slivers.
// Main thread.
class FrameWindow final : public QWidget {
    Q_OBJECT
public:
    // `surfaces` may be null (no window system to ask: then it counts as compositing).
    FrameWindow(QRect screenGeometry, platform::SurfaceWindows* surfaces);

    WobbleFrameView* frameView() const { return frameView_; }

    // Restyles the frame and starts its animation.
    void setMode(WobbleFrameView::Mode mode);
    // Brings it on screen, above the others, without activating anything.
    void orderFront();
    // Stops the animation first, then takes it off screen.
    void orderOut();

    // Milliseconds between two frames of `mode` while shaped: as long as the line takes to move
    // one pixel, within these bounds.
    static int shapedFrameInterval(WobbleFrameView::Mode mode);
    static constexpr int shapedIntervalMin = 33;
    static constexpr int shapedIntervalMax = 100;

    // Shapes the window to the line it draws (no compositor) or lets it be whole.
    void setMasked(bool masked);
    bool isMasked() const { return masked_; }
    // What the window shows while masked (empty otherwise).
    const QRegion& shape() const { return shape_; }

protected:
    void hideEvent(QHideEvent* event) override;

private:
    QRegion shapeFor(const QPainterPath& path) const;
    void applyShape(QRegion shape);

    platform::SurfaceWindows* surfaces_;
    WobbleFrameView* frameView_;
    bool masked_ = false;
    QRegion shape_;
};

} // namespace kestro
