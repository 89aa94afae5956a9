#include "KestroCore/ActionEvent.h"

#include "KestroCore/GeometryJson.h"

namespace kestro {

namespace {
constexpr std::array<std::string_view, 9> kActionNames = {"click",     "rightClick",  "doubleClick",
                                                          "drag",      "keystroke",   "scroll",
                                                          "appSwitch", "windowFocus", "wait"};
}

std::string_view rawValue(ActionType type) {
    return kActionNames[static_cast<std::size_t>(type)];
}

std::optional<ActionType> actionTypeFromRawValue(std::string_view raw) {
    for (std::size_t i = 0; i < kActionNames.size(); ++i) {
        if (kActionNames[i] == raw) {
            return allActionTypes[i];
        }
    }
    return std::nullopt;
}

json::Value toJson(ActionType type) {
    return std::string(rawValue(type));
}

ActionType actionTypeFromJson(const json::Value& value) {
    if (!value.is_string()) {
        throw json::DecodingError("typeMismatch: expected a string for ActionType");
    }
    auto type = actionTypeFromRawValue(value.get_ref<const std::string&>());
    if (!type) {
        throw json::DecodingError("dataCorrupted: cannot initialize ActionType from invalid "
                                  "String value " +
                                  value.get<std::string>());
    }
    return *type;
}

json::Value toJson(const ActionEvent& e) {
    json::Value v = json::Value::object();
    v["id"] = json::uuidValue(e.id);
    v["timeOffset"] = e.timeOffset;
    v["type"] = toJson(e.type);
    if (e.location) {
        v["location"] = toJson(*e.location);
    }
    if (e.endLocation) {
        v["endLocation"] = toJson(*e.endLocation);
    }
    if (e.scrollDelta) {
        v["scrollDelta"] = toJson(*e.scrollDelta);
    }
    if (e.target) {
        v["target"] = toJson(*e.target);
    }
    json::setOptional(v, "typedText", e.typedText);
    json::setOptional(v, "keyCode", e.keyCode);
    json::setOptional(v, "modifierFlags", e.modifierFlags);
    json::setOptional(v, "frameIndex", e.frameIndex);
    return v;
}

ActionEvent actionEventFromJson(const json::Value& value) {
    json::ObjectReader r(value, "ActionEvent");
    ActionEvent e;
    e.id = r.requiredUuid("id");
    e.timeOffset = r.requiredDouble("timeOffset");
    e.type = actionTypeFromJson(r.required("type"));
    if (const json::Value* v = r.optional("location")) {
        e.location = pointFromJson(*v);
    }
    if (const json::Value* v = r.optional("endLocation")) {
        e.endLocation = pointFromJson(*v);
    }
    if (const json::Value* v = r.optional("scrollDelta")) {
        e.scrollDelta = sizeFromJson(*v);
    }
    if (const json::Value* v = r.optional("target")) {
        e.target = axTargetFromJson(*v);
    }
    e.typedText = r.optionalString("typedText");
    e.keyCode = r.optionalInt<std::uint16_t>("keyCode");
    e.modifierFlags = r.optionalInt<std::uint64_t>("modifierFlags");
    e.frameIndex = r.optionalInt<std::int64_t>("frameIndex");
    return e;
}

} // namespace kestro
