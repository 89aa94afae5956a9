#include "KestroCore/GeometryJson.h"

namespace kestro {

json::Value toJson(const Point& point) {
    return json::Value{{"x", point.x}, {"y", point.y}};
}

json::Value toJson(const Size& size) {
    return json::Value{{"width", size.width}, {"height", size.height}};
}

json::Value toJson(const Rect& rect) {
    return json::Value{{"origin", toJson(rect.origin)}, {"size", toJson(rect.size)}};
}

json::Value toJson(const DisplayInfo& display) {
    return json::Value{{"id", display.id},
                       {"frame", toJson(display.frame)},
                       {"scaleFactor", display.scaleFactor},
                       {"isMain", display.isMain}};
}

Point pointFromJson(const json::Value& value) {
    json::ObjectReader r(value, "Point");
    return Point{r.requiredDouble("x"), r.requiredDouble("y")};
}

Size sizeFromJson(const json::Value& value) {
    json::ObjectReader r(value, "Size");
    return Size{r.requiredDouble("width"), r.requiredDouble("height")};
}

Rect rectFromJson(const json::Value& value) {
    json::ObjectReader r(value, "Rect");
    return Rect{pointFromJson(r.required("origin")), sizeFromJson(r.required("size"))};
}

DisplayInfo displayInfoFromJson(const json::Value& value) {
    json::ObjectReader r(value, "DisplayInfo");
    return DisplayInfo{r.requiredInt<std::uint32_t>("id"), rectFromJson(r.required("frame")),
                       r.requiredDouble("scaleFactor"), r.requiredBool("isMain")};
}

} // namespace kestro
