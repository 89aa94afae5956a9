#pragma once

#include "Kestro/overlay/WobbleGeometry.h"
#include "Kestro/overlay/WobbleRingPainter.h"

#include <QElapsedTimer>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <array>
#include <functional>

namespace kestro {

// The black wavy outline round one screen. The geometry is worked out in y-up space and
// flipped once into the widget's coordinates, so the outline still runs counter-clockwise on
// screen and the wave still travels clockwise. Main thread.
class WobbleFrameView final : public QWidget {
    Q_OBJECT
public:
    using Mode = WobbleMode;

    explicit WobbleFrameView(QWidget* parent = nullptr);

    Mode mode() const { return mode_; }
    // Takes effect at the next frame; the wave keeps its start time.
    void setMode(Mode mode);

    // Starts the per-refresh timer unless it runs; a second start keeps the first start time.
    void startAnimating();
    // The shortest time between two frames, in milliseconds (0: one a refresh of the screen).
    // Takes effect at once while animating; the wave's speed stays.
    void setMinimumInterval(int ms);

    // Stops the timer; the last outline stays.
    void stopAnimating();
    bool isAnimating() const { return timer_.isActive(); }
    // Seconds since the animation started (0 while still and never started).
    double elapsed() const;

    // The outline at `t` seconds for a view of `size`, in the widget's y-down coordinates.
    static QPainterPath pathFor(QSizeF size, Mode mode, double t);
    // The band along the edges where the outline can lie, corners included; everything inside
    // it stays clear, so only this band needs repainting or, without a compositor, showing.
    static QRegion ringRegion(QSize size, Mode mode);
    // How far in from each edge the ring reaches.
    static int ringBand(Mode mode);

    // The region the stroked outline covers: without a compositor the window is shaped to it
    // at every frame, so nothing but the line itself is ever shown.
    static QRegion strokeRegion(const QPainterPath& path, Mode mode);
    // Called with the new outline at every frame (the frame window shapes itself with it).
    void setFrameObserver(std::function<void(const QPainterPath&)> observer) {
        frameObserver_ = std::move(observer);
    }
    const QPainterPath& path() const { return path_; }
    // While false a frame only moves the outline and repaints nothing: a window shaped to the
    // line without a compositor shows black all through its shape, whatever is drawn there.
    void setRepaintsFrames(bool repaints) { repaintsFrames_ = repaints; }

    // Makes ahead what `mode` draws with at the view's present size (else the first frame in
    // that style makes it).
    void prepare(Mode mode);

    // One animation step: the new outline and the repaint of the ring; public for measuring.
    void tick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    int interval() const;

    Mode mode_ = Mode::recording;
    QTimer timer_;
    QElapsedTimer clock_;
    QPainterPath path_;
    QRegion ring_;
    // One per style, each made for `painterSize_` of its own.
    const WobbleRingPainter& painter(Mode mode);
    std::array<WobbleRingPainter, 2> painters_;
    std::array<QSize, 2> painterSize_;
    double time_ = 0;
    int minimumInterval_ = 0;
    bool repaintsFrames_ = true;
    std::function<void(const QPainterPath&)> frameObserver_;
};

} // namespace kestro
