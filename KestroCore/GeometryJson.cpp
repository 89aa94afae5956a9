#include "KestroCore/GeometryJson.h"

#include "KestroCore/RecordCoding.h"

namespace kestro {

json::Value toJson(const Point& point) {
    return json::encodeValue(point);
}
json::Value toJson(const Size& size) {
    return json::encodeValue(size);
}
json::Value toJson(const Rect& rect) {
    return json::encodeValue(rect);
}
json::Value toJson(const DisplayInfo& display) {
    return json::encodeValue(display);
}

Point pointFromJson(const json::Value& value) {
    return json::decodeValue<Point>(value);
}
Size sizeFromJson(const json::Value& value) {
    return json::decodeValue<Size>(value);
}
Rect rectFromJson(const json::Value& value) {
    return json::decodeValue<Rect>(value);
}
DisplayInfo displayInfoFromJson(const json::Value& value) {
    return json::decodeValue<DisplayInfo>(value);
}

void writeStored(json::StoredWriter& out, const Point& point) {
    json::writeRecord(out, point);
}
void writeStored(json::StoredWriter& out, const Size& size) {
    json::writeRecord(out, size);
}
void writeStored(json::StoredWriter& out, const Rect& rect) {
    json::writeRecord(out, rect);
}
void writeStored(json::StoredWriter& out, const DisplayInfo& display) {
    json::writeRecord(out, display);
}

Point pointFromStored(json::Element value) {
    return json::readRecord<Point>(value);
}
Size sizeFromStored(json::Element value) {
    return json::readRecord<Size>(value);
}
Rect rectFromStored(json::Element value) {
    return json::readRecord<Rect>(value);
}
DisplayInfo displayInfoFromStored(json::Element value) {
    return json::readRecord<DisplayInfo>(value);
}

} // namespace kestro
