#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kestro {

struct Point {
    double x;
    double y;

    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width;
    double height;

    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    static Rect make(double x, double y, double width, double height) {
        return Rect{Point{x, y}, Size{width, height}};
    }

    friend bool operator==(const Rect&, const Rect&) = default;
};

struct DisplayInfo {
    std::uint32_t id;
    Rect frame;
    double scaleFactor;
    bool isMain;

    friend bool operator==(const DisplayInfo&, const DisplayInfo&) = default;
};

// Hash combining for records whose equality is field-wise; -0.0 and 0.0 hash alike.
inline void hashCombine(std::size_t& seed, std::size_t value) {
    seed ^= value + 0x9e3779b97f4a7c15ULL + (seed << 6) + (seed >> 2);
}
inline std::size_t hashDouble(double d) {
    return std::hash<double>{}(d == 0.0 ? 0.0 : d);
}

} // namespace kestro

template <> struct std::hash<kestro::Point> {
    std::size_t operator()(const kestro::Point& p) const noexcept;
};
template <> struct std::hash<kestro::Size> {
    std::size_t operator()(const kestro::Size& s) const noexcept;
};
template <> struct std::hash<kestro::Rect> {
    std::size_t operator()(const kestro::Rect& r) const noexcept;
};
template <> struct std::hash<kestro::DisplayInfo> {
    std::size_t operator()(const kestro::DisplayInfo& d) const noexcept;
};
