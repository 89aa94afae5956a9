#include "Kestro/overlay/WobbleGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestro {

WobbleStyle WobbleStyle::of(WobbleMode mode) {
    switch (mode) {
    case WobbleMode::casting:
        return WobbleStyle{9, 30, 6, 0.4, 56};
    case WobbleMode::recording:
        break;
    }
    return WobbleStyle{6, 22, 4, 0.25, 56};
}

namespace WobbleGeometry {

namespace {
constexpr double pi = std::numbers::pi;
}

Point Piece::point(double u) const {
    if (!arc) {
        return Point{a.x + (b.x - a.x) * u, a.y + (b.y - a.y) * u};
    }
    const double angle = a0 + pi / 2 * u;
    return Point{centre.x + radius * std::cos(angle), centre.y + radius * std::sin(angle)};
}

Point Piece::normal(double u) const {
    if (!arc) {
        return n;
    }
    const double angle = a0 + pi / 2 * u;
    return Point{std::cos(angle), std::sin(angle)};
}

Model buildModel(double width, double height, const WobbleStyle& style) {
    Model model;
    const double inset = style.amplitude + style.thickness / 2 + 2;
    const double minX = inset;
    const double minY = inset;
    const double w = width - 2 * inset;
    const double h = height - 2 * inset;
    // Also refuses NaN sizes.
    if (!(w > 0) || !(h > 0)) {
        return model;
    }
    const double maxX = minX + w;
    const double maxY = minY + h;
    const double cr = std::min(style.cornerRadius, std::min(w, h) / 2);
    const double straightW = w - 2 * cr;
    const double straightH = h - 2 * cr;
    const double arcLen = pi / 2 * cr;

    auto edge = [&](Point from, Point to, Point n, double len) {
        if (len > 0) {
            Piece p;
            p.a = from;
            p.b = to;
            p.n = n;
            p.len = len;
            model.pieces.push_back(p);
        }
    };
    auto arc = [&](double cx, double cy, double a0) {
        if (cr > 0) {
            Piece p;
            p.arc = true;
            p.centre = Point{cx, cy};
            p.radius = cr;
            p.a0 = a0;
            p.len = arcLen;
            model.pieces.push_back(p);
        }
    };
    edge({minX + cr, minY}, {maxX - cr, minY}, {0, -1}, straightW);
    arc(maxX - cr, minY + cr, -pi / 2);
    edge({maxX, minY + cr}, {maxX, maxY - cr}, {1, 0}, straightH);
    arc(maxX - cr, maxY - cr, 0);
    edge({maxX - cr, maxY}, {minX + cr, maxY}, {0, 1}, straightW);
    arc(minX + cr, maxY - cr, pi / 2);
    edge({minX, maxY - cr}, {minX, minY + cr}, {-1, 0}, straightH);
    arc(minX + cr, minY + cr, pi);

    double sum = 0;
    for (Piece& p : model.pieces) {
        p.start = sum;
        sum += p.len;
    }
    model.perimeter = sum;
    return model;
}

Located locate(const Model& model, double s) {
    s = std::fmod(s, model.perimeter);
    if (s < 0) {
        s += model.perimeter;
    }
    for (const Piece& p : model.pieces) {
        if (p.start <= s && s < p.start + p.len) {
            const double u = (s - p.start) / p.len;
            return Located{p.point(u), p.normal(u)};
        }
    }
    const Piece& last = model.pieces.back();
    return Located{last.point(1), last.normal(1)};
}

double offset(const Model& model, const WobbleStyle& style, double s, double t) {
    const double phase = t * style.frequency * 2 * pi;
    return style.amplitude * std::sin(2 * pi * style.waveCount * s / model.perimeter + phase);
}

std::vector<Point> samples(const Model& model, const WobbleStyle& style, double t) {
    std::vector<Point> points;
    if (model.empty()) {
        return points;
    }
    const int count = std::max(style.waveCount * 10, 64);
    points.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const double s = static_cast<double>(i) / static_cast<double>(count) * model.perimeter;
        const Located at = locate(model, s);
        const double d = offset(model, style, s, t);
        points.push_back(Point{at.point.x + at.normal.x * d, at.point.y + at.normal.y * d});
    }
    return points;
}

std::vector<Segment> bezierSegments(const std::vector<Point>& points) {
    std::vector<Segment> segments;
    const std::size_t n = points.size();
    if (n <= 2) {
        return segments;
    }
    segments.reserve(n);
    for (std::size_t i = 0; i < n; ++i) {
        const Point& p0 = points[(i + n - 1) % n];
        const Point& p1 = points[i];
        const Point& p2 = points[(i + 1) % n];
        const Point& p3 = points[(i + 2) % n];
        segments.push_back(Segment{
            Point{p1.x + (p2.x - p0.x) / 6, p1.y + (p2.y - p0.y) / 6},
            Point{p2.x - (p3.x - p1.x) / 6, p2.y - (p3.y - p1.y) / 6},
            p2,
        });
    }
    return segments;
}

} // namespace WobbleGeometry
} // namespace kestro
