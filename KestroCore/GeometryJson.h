#pragma once

#include "KestroBase/Geometry.h"
#include "KestroCore/Json.h"
#include "KestroCore/RecordFields.h"

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

template <> struct kestro::json::Fields<kestro::Point> {
    static constexpr std::string_view name = "Point";
    static constexpr auto members = std::tuple{field("x", &Point::x), field("y", &Point::y)};
};

template <> struct kestro::json::Fields<kestro::Size> {
    static constexpr std::string_view name = "Size";
    static constexpr auto members =
        std::tuple{field("width", &Size::width), field("height", &Size::height)};
};

template <> struct kestro::json::Fields<kestro::Rect> {
    static constexpr std::string_view name = "Rect";
    static constexpr auto members =
        std::tuple{field("origin", &Rect::origin), field("size", &Rect::size)};
};

template <> struct kestro::json::Fields<kestro::DisplayInfo> {
    static constexpr std::string_view name = "DisplayInfo";
    static constexpr auto members = std::tuple{
        field("id", &DisplayInfo::id), field("frame", &DisplayInfo::frame),
        field("scaleFactor", &DisplayInfo::scaleFactor), field("isMain", &DisplayInfo::isMain)};
};
