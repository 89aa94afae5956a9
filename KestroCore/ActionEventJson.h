#pragma once

#include "KestroCore/AXTargetJson.h"
#include "KestroCore/ActionEvent.h"
#include "KestroCore/GeometryJson.h"

namespace kestro {

json::Value toJson(ActionType type);
ActionType actionTypeFromJson(const json::Value& value);
ActionType actionTypeFromStored(json::Element value);

json::Value toJson(const ActionEvent& event);
ActionEvent actionEventFromJson(const json::Value& value);
void writeStored(json::StoredWriter& out, const ActionEvent& event);
ActionEvent actionEventFromStored(json::Element value);

} // namespace kestro

template <> struct kestro::json::EnumNames<kestro::ActionType> {
    static constexpr std::string_view name = "ActionType";
    static std::optional<ActionType> parse(std::string_view raw) {
        return actionTypeFromRawValue(raw);
    }
};

template <> struct kestro::json::Fields<kestro::ActionEvent> {
    static constexpr std::string_view name = "ActionEvent";
    static constexpr auto members = std::tuple{
        field("id", &ActionEvent::id),
        field("timeOffset", &ActionEvent::timeOffset),
        field("type", &ActionEvent::type),
        field("location", &ActionEvent::location),
        field("endLocation", &ActionEvent::endLocation),
        field("scrollDelta", &ActionEvent::scrollDelta),
        field("target", &ActionEvent::target),
        field("typedText", &ActionEvent::typedText),
        field("keyCode", &ActionEvent::keyCode),
        field("modifierFlags", &ActionEvent::modifierFlags),
        field("frameIndex", &ActionEvent::frameIndex),
    };
};
