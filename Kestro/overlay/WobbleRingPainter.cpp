#include "Kestro/overlay/WobbleRingPainter.h"

#include "Kestro/overlay/WobbleFrameView.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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

namespace {

// Fills the band between `left` and `right` from point `a` to point `b` (indices taken round a
// closed ribbon of `m` points) as one polygon.
void fillStretch(QPainter& painter, const Ribbon& ribbon, int a, int count,
                 std::vector<QPointF>& polygon) {
    const int m = static_cast<int>(ribbon.centre.size());
    polygon.clear();
    for (int j = 0; j < count; ++j) {
        polygon.push_back(ribbon.left[static_cast<std::size_t>((a + j) % m)]);
    }
    for (int j = count - 1; j >= 0; --j) {
        polygon.push_back(ribbon.right[static_cast<std::size_t>((a + j) % m)]);
    }
    painter.drawPolygon(polygon.data(), static_cast<int>(polygon.size()), Qt::WindingFill);
}

} // namespace

WobbleRingPainter::WobbleRingPainter(QSize size, WobbleMode mode)
    : size_(size), mode_(mode), ring_(WobbleFrameView::ringRegion(size, mode)) {
    const WobbleStyle style = WobbleStyle::of(mode);
    const WobbleGeometry::Model model =
        WobbleGeometry::buildModel(size.width(), size.height(), style);
    if (!model.empty()) {
        wavelength_ = model.perimeter / style.waveCount;
        buildStrips(model);
    }
    // The rest of the ring, cut along the grid.
    const QRegion rest = ring_.subtracted(slidingArea_);
    columns_ = (size.width() + tileSide - 1) / tileSide;
    const int rows = (size.height() + tileSide - 1) / tileSide;
    tilesInSquare_.resize(static_cast<std::size_t>(std::max(0, columns_ * rows)));
    for (int row = 0; row < rows; ++row) {
        for (int column = 0; column < columns_; ++column) {
            const QRect square(column * tileSide, row * tileSide, tileSide, tileSide);
            for (const QRect& r : rest.intersected(square)) {
                tilesInSquare_[static_cast<std::size_t>(row * columns_ + column)].push_back(
                    static_cast<int>(tiles_.size()));
                tiles_.push_back(r);
            }
        }
    }
}

void WobbleRingPainter::buildStrips(const WobbleGeometry::Model& model) {
    const WobbleStyle style = WobbleStyle::of(mode_);
    const double halfWidth = style.thickness / 2;
    const double reach = halfWidth + 2;
    const double k = 2 * std::numbers::pi * style.waveCount / model.perimeter;
    // The wave must bend gently enough for the band to be the line.
    if (style.amplitude * k * k * halfWidth > 0.25) {
        return;
    }
    const int band = WobbleFrameView::ringBand(mode_);
    const int w = size_.width();
    const int h = size_.height();
    // Each piece of the smooth curve follows the four samples round it, so two samples from
    // either end of a straight edge the curve also bends towards the corner's arc.
    const int samples = std::max(style.waveCount * 10, 64);
    const double margin = 2 * model.perimeter / samples + reach + 1;
    const int extra = static_cast<int>(std::ceil(wavelength_)) + 2;
    for (const WobbleGeometry::Piece& piece : model.pieces) {
        if (piece.arc || piece.len <= 0) {
            continue;
        }
        // Into the view's y-down space.
        const QPointF a(piece.a.x, h - piece.a.y);
        const QPointF b(piece.b.x, h - piece.b.y);
        const QPointF normal(piece.n.x, -piece.n.y);
        const QPointF along = (b - a) / piece.len;
        const bool horizontal = std::abs(along.x()) > 0.5;
        const double from = (horizontal ? std::min(a.x(), b.x()) : std::min(a.y(), b.y())) + margin;
        const double to = (horizontal ? std::max(a.x(), b.x()) : std::max(a.y(), b.y())) - margin;
        const int lo = static_cast<int>(std::ceil(from));
        const int hi = static_cast<int>(std::floor(to));
        if (hi - lo < 32) {
            continue;
        }
        Strip strip;
        if (horizontal) {
            strip.area = QRect(lo, normal.y() > 0 ? h - band : 0, hi - lo, band);
            strip.along = QPoint(along.x() > 0 ? 1 : -1, 0);
        } else {
            strip.area = QRect(normal.x() > 0 ? w - band : 0, lo, band, hi - lo);
            strip.along = QPoint(0, along.y() > 0 ? 1 : -1);
        }
        // A wavelength further along, where the shapes still to come are.
        const QRect image = strip.area.adjusted(
            std::min(0, strip.along.x() * extra), std::min(0, strip.along.y() * extra),
            std::max(0, strip.along.x() * extra), std::max(0, strip.along.y() * extra));
        strip.origin = image.topLeft();
        // Positions along the edge, from its start, that the image spans.
        auto position = [&](QPointF p) { return QPointF::dotProduct(p - a, along); };
        const double u0 =
            std::min(position(image.topLeft()), position(image.bottomRight() + QPoint(1, 1))) -
            reach - 4;
        const double u1 =
            std::max(position(image.topLeft()), position(image.bottomRight() + QPoint(1, 1))) +
            reach + 4;
        const int count = static_cast<int>(std::ceil((u1 - u0) / 2)) + 1;
        for (int step = 0; step < 4; ++step) {
            // The wave a quarter pixel further along at each step.
            Ribbon ribbon;
            for (int i = 0; i < count; ++i) {
                const double u = u0 + 2.0 * i;
                const double phase = k * (piece.start + u + step / 4.0);
                const QPointF centre = a + along * u + normal * (style.amplitude * std::sin(phase));
                const QPointF tangent = along + normal * (style.amplitude * k * std::cos(phase));
                const QPointF side = QPointF(-tangent.y(), tangent.x()) *
                                     (halfWidth / std::sqrt(QPointF::dotProduct(tangent, tangent)));
                ribbon.centre.push_back(centre);
                ribbon.left.push_back(centre + side);
                ribbon.right.push_back(centre - side);
            }
            QImage& out = strip.steps[static_cast<std::size_t>(step)];
            out = QImage(image.size(), QImage::Format_ARGB32_Premultiplied);
            out.fill(Qt::transparent);
            QPainter p(&out);
            p.translate(-strip.origin);
            p.setRenderHint(QPainter::Antialiasing);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::black);
            std::vector<QPointF> polygon;
            // In short pieces along the edge, each with the points that reach it.
            const int length = horizontal ? image.width() : image.height();
            for (int start = 0; start < length; start += tileSide) {
                const int size = std::min(tileSide, length - start);
                const QRect chunk = horizontal
                                        ? QRect(image.x() + start, image.y(), size, image.height())
                                        : QRect(image.x(), image.y() + start, image.width(), size);
                const double p0 = std::min(position(chunk.topLeft()),
                                           position(chunk.bottomRight() + QPoint(1, 1))) -
                                  reach - 2;
                const double p1 = std::max(position(chunk.topLeft()),
                                           position(chunk.bottomRight() + QPoint(1, 1))) +
                                  reach + 2;
                const int first =
                    std::clamp(static_cast<int>(std::floor((p0 - u0) / 2)), 0, count - 1);
                const int last =
                    std::clamp(static_cast<int>(std::ceil((p1 - u0) / 2)), 0, count - 1);
                if (last <= first) {
                    continue;
                }
                p.setClipRect(chunk);
                fillStretch(p, ribbon, first, last - first + 1, polygon);
            }
        }
        slidingArea_ += strip.area;
        strips_.push_back(std::move(strip));
    }
}

void WobbleRingPainter::paint(QPainter& painter, const QRegion& region, const QPainterPath& path,
                              double t) const {
    painter.save();
    const WobbleStyle style = WobbleStyle::of(mode_);
    const Ribbon ribbon = ribbonOf(path, style.thickness / 2);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    if (ribbon.folded) {
        // Too small a view for the band: the pen draws it, all at once.
        for (const QRect& r : region) {
            painter.fillRect(r, Qt::transparent);
        }
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setClipRegion(region);
        painter.setPen(
            QPen(Qt::black, style.thickness, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(path);
        painter.restore();
        return;
    }
    // Every step is clipped to one rectangle of the region: on a widget the painter is clipped
    // to the region already, and against a region of many rectangles each fill and copy goes
    // the slow way, scanline by scanline. A window shaped to its line (no compositor) is given
    // regions of thousands of slivers, though: then a few large steps on the painter's own clip
    // cost less than thousands of small ones.
    const bool slivers = region.rectCount() > 64;
    const QRegion coarse = slivers ? ring_.intersected(region.boundingRect()) : region;
    for (const QRect& r : coarse.subtracted(slidingArea_)) {
        if (!slivers) {
            painter.setClipRect(r);
        }
        painter.fillRect(r, Qt::transparent);
    }
    // The straight stretches: the wave has slid `shift` pixels back along the edge since it
    // started, one wavelength per period.
    if (!strips_.empty()) {
        const double cycles = t * style.frequency;
        const double shift = wavelength_ * (cycles - std::floor(cycles));
        const long quarters = std::lround(shift * 4);
        const int whole = static_cast<int>(quarters / 4);
        const auto step = static_cast<std::size_t>(quarters % 4);
        for (const Strip& strip : strips_) {
            const QPoint source = strip.along * whole - strip.origin;
            for (const QRect& r : coarse.intersected(strip.area)) {
                if (!slivers) {
                    painter.setClipRect(r);
                }
                painter.drawImage(r.topLeft(), strip.steps[step], r.translated(source));
            }
        }
    }
    const int m = static_cast<int>(ribbon.centre.size());
    if (m < 3 || tiles_.empty()) {
        painter.restore();
        return;
    }
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);

    // Which points of the curve each tile's line can reach (half the line, and a pixel or two
    // of anti-aliasing), in order along the curve. A point reaches no further than one square
    // of the grid.
    const double reach = style.thickness / 2 + 2;
    const int rows = static_cast<int>(tilesInSquare_.size()) / columns_;
    const double side = tileSide;
    std::vector<std::vector<int>> near(tiles_.size());
    for (int i = 0; i < m; ++i) {
        const double x = ribbon.centre[static_cast<std::size_t>(i)].x();
        const double y = ribbon.centre[static_cast<std::size_t>(i)].y();
        const int c0 =
            std::clamp(static_cast<int>(std::floor((x - reach) / side)), 0, columns_ - 1);
        const int c1 =
            std::clamp(static_cast<int>(std::floor((x + reach) / side)), 0, columns_ - 1);
        const int r0 = std::clamp(static_cast<int>(std::floor((y - reach) / side)), 0, rows - 1);
        const int r1 = std::clamp(static_cast<int>(std::floor((y + reach) / side)), 0, rows - 1);
        for (int row = r0; row <= r1; ++row) {
            for (int column = c0; column <= c1; ++column) {
                for (int t2 : tilesInSquare_[static_cast<std::size_t>(row * columns_ + column)]) {
                    const QRect& r = tiles_[static_cast<std::size_t>(t2)];
                    if (x >= r.x() - reach && x <= r.x() + r.width() + reach &&
                        y >= r.y() - reach && y <= r.y() + r.height() + reach) {
                        near[static_cast<std::size_t>(t2)].push_back(i);
                    }
                }
            }
        }
    }

    std::vector<QPointF> polygon;
    for (std::size_t tile = 0; tile < tiles_.size(); ++tile) {
        const std::vector<int>& points = near[tile];
        if (points.empty()) {
            continue;
        }
        const QRegion clip = coarse.intersected(tiles_[tile]);
        if (clip.isEmpty()) {
            continue;
        }
        if (clip.rectCount() == 1) {
            painter.setClipRect(clip.boundingRect());
        } else {
            painter.setClipRegion(clip);
        }
        if (static_cast<int>(points.size()) == m) {
            // The whole line reaches this tile (a small view): both edges, filled between.
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
            fillStretch(painter, ribbon, (start - 1 + m) % m, (end - start + m) % m + 3, polygon);
        }
    }
    painter.restore();
}

} // namespace kestro
