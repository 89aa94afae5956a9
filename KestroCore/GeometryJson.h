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

} // namespace kestro
