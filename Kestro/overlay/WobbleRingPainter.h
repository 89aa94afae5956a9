#pragma once

#include "Kestro/overlay/WobbleGeometry.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>

#include <array>
#include <vector>

namespace kestro {

// Draws the frame's line into the ring of one view of a given size and style, as a black,
// round-joined pen of the style's width draws the outline, at a small part of the cost:
// - The line is the band half its width to either side of the curve, taken every few pixels and
//   filled tile by tile with only the stretch of it that reaches each tile. The pen's outline of
//   joins and offset curves is many times longer, and one anti-aliased fill along a whole edge
//   of a 4K screen costs many times what short fills do.
// - Along the long straight stretches of the edges the wave only slides, by one wavelength per
//   period: there the line is drawn once, ahead of time, a wavelength longer than the stretch
//   and at four quarter-pixel offsets, and each frame copies the right part into place. That
//   line follows the wave itself where the outline follows a smooth curve through samples of it;
//   the two differ by a small fraction of a pixel.
// The corners, where the line bends, are filled afresh at every frame. Main thread.
class WobbleRingPainter {
public:
    WobbleRingPainter() = default;
    WobbleRingPainter(QSize size, WobbleMode mode);

    // Clears `region` and draws into it the line of `path`, the outline `WobbleFrameView::pathFor`
    // gives for this size and style at `t` seconds. A region of many slivers (a window shaped
    // to its line) is painted as the whole ring round it: on a widget the painter's own clip
    // keeps that to the region.
    void paint(QPainter& painter, const QRegion& region, const QPainterPath& path, double t) const;

    // The parts of the ring copied from the lines drawn ahead of time.
    QRegion slidingArea() const { return slidingArea_; }

    // Side of the grid's squares the corners are filled in.
    static constexpr int tileSide = 128;

private:
    struct Strip {
        QRect area;                  // where on the view it is copied to
        QPoint along;                // the unit step along the edge the wave's shape slides against
        QPoint origin;               // the view position of the images' top-left pixel
        std::array<QImage, 4> steps; // drawn a quarter pixel further along each
    };
    void buildStrips(const WobbleGeometry::Model& model);

    QSize size_;
    WobbleMode mode_ = WobbleMode::recording;
    double wavelength_ = 0;
    QRegion ring_;
    QRegion slidingArea_;
    std::vector<Strip> strips_;
    // The rest of the ring cut along a grid of `tileSide` squares.
    int columns_ = 0;
    std::vector<QRect> tiles_;
    std::vector<std::vector<int>> tilesInSquare_;
};

} // namespace kestro
