#include "KestroCore/GeometryJson.h"

#include "KestroCore/StoredReader.h"

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

namespace kestro {

void writeStored(json::StoredWriter& out, const Point& point) {
    out.beginObject();
    out.key("x");
    out.number(point.x);
    out.key("y");
    out.number(point.y);
    out.endObject();
}

void writeStored(json::StoredWriter& out, const Size& size) {
    out.beginObject();
    out.key("height");
    out.number(size.height);
    out.key("width");
    out.number(size.width);
    out.endObject();
}

void writeStored(json::StoredWriter& out, const Rect& rect) {
    out.beginObject();
    out.key("origin");
    writeStored(out, rect.origin);
    out.key("size");
    writeStored(out, rect.size);
    out.endObject();
}

void writeStored(json::StoredWriter& out, const DisplayInfo& display) {
    out.beginObject();
    out.key("frame");
    writeStored(out, display.frame);
    out.key("id");
    out.unsignedInteger(display.id);
    out.key("isMain");
    out.boolean(display.isMain);
    out.key("scaleFactor");
    out.number(display.scaleFactor);
    out.endObject();
}

namespace {
constexpr std::array<std::string_view, 2> kPointKeys = {"x", "y"};
constexpr std::array<std::string_view, 2> kSizeKeys = {"width", "height"};
constexpr std::array<std::string_view, 2> kRectKeys = {"origin", "size"};
constexpr std::array<std::string_view, 4> kDisplayKeys = {"id", "frame", "scaleFactor", "isMain"};
} // namespace

Point pointFromStored(json::Element value) {
    json::StoredObject r(value, kPointKeys, "Point");
    const double x = r.requiredDouble(0);
    return Point{x, r.requiredDouble(1)};
}

Size sizeFromStored(json::Element value) {
    json::StoredObject r(value, kSizeKeys, "Size");
    const double width = r.requiredDouble(0);
    return Size{width, r.requiredDouble(1)};
}

Rect rectFromStored(json::Element value) {
    json::StoredObject r(value, kRectKeys, "Rect");
    const Point origin = pointFromStored(r.required(0));
    return Rect{origin, sizeFromStored(r.required(1))};
}

DisplayInfo displayInfoFromStored(json::Element value) {
    json::StoredObject r(value, kDisplayKeys, "DisplayInfo");
    const auto id = r.requiredInt<std::uint32_t>(0);
    const Rect frame = rectFromStored(r.required(1));
    const double scale = r.requiredDouble(2);
    return DisplayInfo{id, frame, scale, r.requiredBool(3)};
}

} // namespace kestro
