#include "KestroBase/Geometry.h"

using kestro::hashCombine;
using kestro::hashDouble;

std::size_t std::hash<kestro::Point>::operator()(const kestro::Point& p) const noexcept {
    std::size_t seed = hashDouble(p.x);
    hashCombine(seed, hashDouble(p.y));
    return seed;
}

std::size_t std::hash<kestro::Size>::operator()(const kestro::Size& s) const noexcept {
    std::size_t seed = hashDouble(s.width);
    hashCombine(seed, hashDouble(s.height));
    return seed;
}

std::size_t std::hash<kestro::Rect>::operator()(const kestro::Rect& r) const noexcept {
    std::size_t seed = std::hash<kestro::Point>{}(r.origin);
    hashCombine(seed, std::hash<kestro::Size>{}(r.size));
    return seed;
}

std::size_t
std::hash<kestro::DisplayInfo>::operator()(const kestro::DisplayInfo& d) const noexcept {
    std::size_t seed = std::hash<std::uint32_t>{}(d.id);
    hashCombine(seed, std::hash<kestro::Rect>{}(d.frame));
    hashCombine(seed, hashDouble(d.scaleFactor));
    hashCombine(seed, std::hash<bool>{}(d.isMain));
    return seed;
}
