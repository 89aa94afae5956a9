#include "KestroCore/ActionEvent.h"

#include "KestroCore/GeometryJson.h"
#include "KestroCore/StoredReader.h"

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
        throw json::DecodingError(
            json::concat({"dataCorrupted: cannot initialize ActionType from invalid String value ",
                          value.get_ref<const std::string&>()}));
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
    // The stored id, never a drawn one that would be thrown away.
    ActionEvent e{.id = r.requiredUuid("id")};
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

namespace {

template <typename Writable>
void writeOptional(json::StoredWriter& out, std::string_view key,
                   const std::optional<Writable>& v) {
    if (v) {
        out.key(key);
        writeStored(out, *v);
    }
}

constexpr std::array<std::string_view, 11> kEventKeys = {
    "id",     "timeOffset", "type",    "location",      "endLocation", "scrollDelta",
    "target", "typedText",  "keyCode", "modifierFlags", "frameIndex"};

} // namespace

ActionType actionTypeFromStored(json::Element value) {
    const std::string_view raw = json::storedText(value, "ActionType");
    auto type = actionTypeFromRawValue(raw);
    if (!type) {
        throw json::DecodingError(json::concat(
            {"dataCorrupted: cannot initialize ActionType from invalid String value ", raw}));
    }
    return *type;
}

void writeStored(json::StoredWriter& out, const ActionEvent& e) {
    out.beginObject();
    writeOptional(out, "endLocation", e.endLocation);
    if (e.frameIndex) {
        out.key("frameIndex");
        out.integer(*e.frameIndex);
    }
    out.key("id");
    out.uuid(e.id);
    if (e.keyCode) {
        out.key("keyCode");
        out.unsignedInteger(*e.keyCode);
    }
    writeOptional(out, "location", e.location);
    if (e.modifierFlags) {
        out.key("modifierFlags");
        out.unsignedInteger(*e.modifierFlags);
    }
    writeOptional(out, "scrollDelta", e.scrollDelta);
    writeOptional(out, "target", e.target);
    out.key("timeOffset");
    out.number(e.timeOffset);
    out.key("type");
    out.string(rawValue(e.type));
    if (e.typedText) {
        out.key("typedText");
        out.string(*e.typedText);
    }
    out.endObject();
}

ActionEvent actionEventFromStored(json::Element value) {
    json::StoredObject r(value, kEventKeys, "ActionEvent");
    ActionEvent e{.id = r.requiredUuid(0)};
    e.timeOffset = r.requiredDouble(1);
    e.type = actionTypeFromStored(r.required(2));
    if (auto v = r.optional(3)) {
        e.location = pointFromStored(*v);
    }
    if (auto v = r.optional(4)) {
        e.endLocation = pointFromStored(*v);
    }
    if (auto v = r.optional(5)) {
        e.scrollDelta = sizeFromStored(*v);
    }
    if (auto v = r.optional(6)) {
        e.target = axTargetFromStored(*v);
    }
    e.typedText = r.optionalString(7);
    e.keyCode = r.optionalInt<std::uint16_t>(8);
    e.modifierFlags = r.optionalInt<std::uint64_t>(9);
    e.frameIndex = r.optionalInt<std::int64_t>(10);
    return e;
}

} // namespace kestro
