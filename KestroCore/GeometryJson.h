#pragma once

#include "KestroBase/Geometry.h"
#include "KestroCore/Json.h"

namespace kestro {

json::Value toJson(const Point& point);
json::Value toJson(const Size& size);
json::Value toJson(const Rect& rect);
json::Value toJson(const DisplayInfo& display);

Point pointFromJson(const json::Value& value);
Size sizeFromJson(const json::Value& value);
Rect rectFromJson(const json::Value& value);
DisplayInfo displayInfoFromJson(const json::Value& value);

// The same records in the stored form, written and read without a Value in between.
void writeStored(json::StoredWriter& out, const Point& point);
void writeStored(json::StoredWriter& out, const Size& size);
void writeStored(json::StoredWriter& out, const Rect& rect);
void writeStored(json::StoredWriter& out, const DisplayInfo& display);

Point pointFromStored(json::Element value);
Size sizeFromStored(json::Element value);
Rect rectFromStored(json::Element value);
DisplayInfo displayInfoFromStored(json::Element value);

} // namespace kestro
