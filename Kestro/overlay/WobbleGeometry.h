#pragma once

#include "KestroBase/Geometry.h"

#include <vector>

namespace kestro {

// The frame's two styles.
enum class WobbleMode { recording, casting };

// Everything the drawing of one style depends on; lengths in points.
struct WobbleStyle {
    double amplitude = 0;
    int waveCount = 0;
    double thickness = 0;
    double frequency = 0; // cycles per second
    double cornerRadius = 0;

    static WobbleStyle of(WobbleMode mode);
};

// The wavy outline round a screen, worked out in a y-up space (origin at the bottom-left), so
// that the outline runs counter-clockwise and the wave travels clockwise; the view flips it
// once when painting. No toolkit types, so it can be tested and measured on its own.
namespace WobbleGeometry {

// One straight or quarter-circle piece of the outline, with its arc-length position.
struct Piece {
    bool arc = false;
    double len = 0;
    double start = 0;
    // Straight: from `a` to `b` with the fixed outward normal `n`.
    Point a{0, 0};
    Point b{0, 0};
    Point n{0, 0};
    // Arc: centre, radius and start angle; a quarter turn counter-clockwise.
    Point centre{0, 0};
    double radius = 0;
    double a0 = 0;

    Point point(double u) const;
    Point normal(double u) const; // unit, pointing out of the rectangle
};

struct Model {
    std::vector<Piece> pieces;
    double perimeter = 0;
    bool empty() const { return pieces.empty() || perimeter <= 0; }
};

// The outline for a view of `width` by `height` points.
Model buildModel(double width, double height, const WobbleStyle& style);

struct Located {
    Point point;
    Point normal;
};
// The point and outward normal at arc length `s`, wrapped into the outline (negative values
// count back from its end). The model must not be empty.
Located locate(const Model& model, double s);

// The wave's displacement along the normal at arc length `s` and time `t` seconds.
double offset(const Model& model, const WobbleStyle& style, double s, double t);

// The wave's sample points at time `t`; none for an empty model.
std::vector<Point> samples(const Model& model, const WobbleStyle& style, double t);

// One cubic Bézier segment of the smooth closed curve through the samples.
struct Segment {
    Point control1;
    Point control2;
    Point end;
};
// The closed Catmull-Rom curve through `points`, starting and ending at points[0]; nothing for
// two points or fewer.
std::vector<Segment> bezierSegments(const std::vector<Point>& points);

} // namespace WobbleGeometry
} // namespace kestro
