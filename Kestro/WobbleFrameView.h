#pragma once

#include "Kestro/WobbleGeometry.h"

#include <QElapsedTimer>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <vector>

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
    // The ring cut along a grid of `tileSide` squares: the line is filled one tile at a time.
    struct Tiles {
        int side = 0;
        int columns = 0;
        std::vector<QRect> rects;
        // The tiles in each square of the grid, row by row.
        std::vector<std::vector<int>> inSquare;
    };
    static Tiles ringTiles(QSize size, Mode mode, int side = tileSide);
    static constexpr int tileSide = 128;

    // Clears `region` and draws the line along `path` (a smooth closed outline as `pathFor`
    // makes) into it: the band half the line's width to either side of the curve, taken every
    // few pixels, filled tile by tile with only the stretch of it that reaches the tile. That is
    // the line a round-joined pen draws, at a small part of the cost: the pen's outline of
    // joins and offset curves is far longer, and one anti-aliased fill along a whole 4K edge
    // costs many times what the short fills do.
    static void paintRing(QPainter& painter, const QRegion& region, const QPainterPath& path,
                          const Tiles& tiles, Mode mode);

    // The region the stroked outline covers: without a compositor the window is shaped to it
    // at every frame, so nothing but the line itself is ever shown.
    static QRegion strokeRegion(const QPainterPath& path, Mode mode);
    // Called with the new outline at every frame (the frame window shapes itself with it).
    void setFrameObserver(std::function<void(const QPainterPath&)> observer) {
        frameObserver_ = std::move(observer);
    }
    const QPainterPath& path() const { return path_; }

    // One animation step: the new outline and the repaint of the ring; public for measuring.
    void tick();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    Mode mode_ = Mode::recording;
    QTimer timer_;
    QElapsedTimer clock_;
    QPainterPath path_;
    QRegion ring_;
    Tiles tiles_;
    std::function<void(const QPainterPath&)> frameObserver_;
};

} // namespace kestro
