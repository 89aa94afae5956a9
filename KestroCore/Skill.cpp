#include "KestroCore/Skill.h"

#include "KestroCore/GeometryJson.h"
#include "KestroCore/StoredReader.h"

namespace kestro {

namespace {

constexpr std::array<std::string_view, 2> kModeNames = {"agentic", "replay"};
constexpr std::array<std::string_view, 5> kParameterTypeNames = {"text", "date", "number",
                                                                 "filePath", "searchTerm"};

template <typename E, std::size_t N>
std::optional<E> fromNames(const std::array<std::string_view, N>& names,
                           const std::array<E, N>& cases, std::string_view raw) {
    for (std::size_t i = 0; i < N; ++i) {
        if (names[i] == raw) {
            return cases[i];
        }
    }
    return std::nullopt;
}

template <typename E>
E enumFromJson(const json::Value& value, std::optional<E> (*parse)(std::string_view),
               const char* typeName) {
    if (!value.is_string()) {
        throw json::DecodingError(std::string("typeMismatch: expected a string for ") + typeName);
    }
    auto e = parse(value.get_ref<const std::string&>());
    if (!e) {
        throw json::DecodingError(
            json::concat({"dataCorrupted: cannot initialize ", typeName,
                          " from invalid String value ", value.get_ref<const std::string&>()}));
    }
    return *e;
}

} // namespace

std::string_view rawValue(ExecutionMode mode) {
    return kModeNames[static_cast<std::size_t>(mode)];
}

std::optional<ExecutionMode> executionModeFromRawValue(std::string_view raw) {
    return fromNames(kModeNames, allExecutionModes, raw);
}

std::string_view rawValue(ParameterType type) {
    return kParameterTypeNames[static_cast<std::size_t>(type)];
}

std::optional<ParameterType> parameterTypeFromRawValue(std::string_view raw) {
    return fromNames(kParameterTypeNames, allParameterTypes, raw);
}

json::Value toJson(ExecutionMode mode) {
    return std::string(rawValue(mode));
}
json::Value toJson(ParameterType type) {
    return std::string(rawValue(type));
}

ExecutionMode executionModeFromJson(const json::Value& value) {
    return enumFromJson<ExecutionMode>(value, executionModeFromRawValue, "ExecutionMode");
}

ParameterType parameterTypeFromJson(const json::Value& value) {
    return enumFromJson<ParameterType>(value, parameterTypeFromRawValue, "ParameterType");
}

json::Value toJson(const Parameter& p) {
    return json::Value{{"id", json::uuidValue(p.id)},    {"name", p.name},
                       {"type", toJson(p.type)},         {"prompt", p.prompt},
                       {"exampleValue", p.exampleValue}, {"usedInSteps", p.usedInSteps}};
}

json::Value toJson(const PlanStep& s) {
    json::Value v = json::Value::object();
    v["id"] = json::uuidValue(s.id);
    v["index"] = s.index;
    v["intent"] = s.intent;
    v["action"] = toJson(s.action);
    if (s.target) {
        v["target"] = toJson(*s.target);
    }
    if (s.location) {
        v["location"] = toJson(*s.location);
    }
    json::setOptional(v, "text", s.text);
    json::setOptional(v, "keyCode", s.keyCode);
    json::setOptional(v, "modifierFlags", s.modifierFlags);
    json::setOptional(v, "precondition", s.precondition);
    v["isDestructive"] = s.isDestructive;
    return v;
}

json::Value toJson(const Skill& s) {
    json::Value parameters = json::Value::array();
    for (const Parameter& p : s.parameters) {
        parameters.push_back(toJson(p));
    }
    json::Value plan = json::Value::array();
    for (const PlanStep& step : s.plan) {
        plan.push_back(toJson(step));
    }
    json::Value v = json::Value::object();
    v["id"] = json::uuidValue(s.id);
    v["name"] = s.name;
    v["trigger"] = s.trigger;
    v["summary"] = s.summary;
    v["mode"] = toJson(s.mode);
    v["parameters"] = std::move(parameters);
    v["plan"] = std::move(plan);
    v["appScope"] = s.appScope;
    v["createdAt"] = json::dateValue(s.createdAt);
    if (s.sourceRecordingID) {
        v["sourceRecordingID"] = json::uuidValue(*s.sourceRecordingID);
    }
    return v;
}

Parameter parameterFromJson(const json::Value& value) {
    json::ObjectReader r(value, "Parameter");
    Parameter p{.id = r.requiredUuid("id")};
    p.name = r.requiredString("name");
    p.type = parameterTypeFromJson(r.required("type"));
    p.prompt = r.requiredString("prompt");
    p.exampleValue = r.requiredString("exampleValue");
    p.usedInSteps = r.requiredList<std::int64_t>("usedInSteps", [](const json::Value& element) {
        return json::integer<std::int64_t>(element, "an element of \"usedInSteps\"");
    });
    return p;
}

PlanStep planStepFromJson(const json::Value& value) {
    json::ObjectReader r(value, "PlanStep");
    PlanStep s{.id = r.requiredUuid("id")};
    s.index = r.requiredInt<std::int64_t>("index");
    s.intent = r.requiredString("intent");
    s.action = actionTypeFromJson(r.required("action"));
    if (const json::Value* v = r.optional("target")) {
        s.target = axTargetFromJson(*v);
    }
    if (const json::Value* v = r.optional("location")) {
        s.location = pointFromJson(*v);
    }
    s.text = r.optionalString("text");
    s.keyCode = r.optionalInt<std::uint16_t>("keyCode");
    s.modifierFlags = r.optionalInt<std::uint64_t>("modifierFlags");
    s.precondition = r.optionalString("precondition");
    s.isDestructive = r.requiredBool("isDestructive");
    return s;
}

Skill skillFromJson(const json::Value& value) {
    json::ObjectReader r(value, "Skill");
    Skill s{.id = r.requiredUuid("id")};
    s.name = r.requiredString("name");
    s.trigger = r.requiredString("trigger");
    s.summary = r.requiredString("summary");
    s.mode = executionModeFromJson(r.required("mode"));
    s.parameters = r.requiredList<Parameter>("parameters", parameterFromJson);
    s.plan = r.requiredList<PlanStep>("plan", planStepFromJson);
    s.appScope = r.requiredList<std::string>("appScope", [](const json::Value& element) {
        if (!element.is_string()) {
            throw json::DecodingError("typeMismatch: expected a string in appScope");
        }
        return element.get<std::string>();
    });
    s.createdAt = r.requiredDate("createdAt");
    s.sourceRecordingID = r.optionalUuid("sourceRecordingID");
    return s;
}

namespace {

ParameterType parameterTypeFromStored(json::Element value) {
    const std::string_view raw = json::storedText(value, "ParameterType");
    auto type = parameterTypeFromRawValue(raw);
    if (!type) {
        throw json::DecodingError(json::concat(
            {"dataCorrupted: cannot initialize ParameterType from invalid String value ", raw}));
    }
    return *type;
}

void writeOptional(json::StoredWriter& out, std::string_view key,
                   const std::optional<std::string>& text) {
    if (text) {
        out.key(key);
        out.string(*text);
    }
}

constexpr std::array<std::string_view, 6> kParameterKeys = {
    "id", "name", "type", "prompt", "exampleValue", "usedInSteps"};
constexpr std::array<std::string_view, 11> kStepKeys = {
    "id",   "index",   "intent",        "action",       "target",       "location",
    "text", "keyCode", "modifierFlags", "precondition", "isDestructive"};

} // namespace

void writeStored(json::StoredWriter& out, const Parameter& p) {
    out.beginObject();
    out.key("exampleValue");
    out.string(p.exampleValue);
    out.key("id");
    out.uuid(p.id);
    out.key("name");
    out.string(p.name);
    out.key("prompt");
    out.string(p.prompt);
    out.key("type");
    out.string(rawValue(p.type));
    out.key("usedInSteps");
    out.beginArray();
    for (std::int64_t step : p.usedInSteps) {
        out.integer(step);
    }
    out.endArray();
    out.endObject();
}

void writeStored(json::StoredWriter& out, const PlanStep& s) {
    out.beginObject();
    out.key("action");
    out.string(rawValue(s.action));
    out.key("id");
    out.uuid(s.id);
    out.key("index");
    out.integer(s.index);
    out.key("intent");
    out.string(s.intent);
    out.key("isDestructive");
    out.boolean(s.isDestructive);
    if (s.keyCode) {
        out.key("keyCode");
        out.unsignedInteger(*s.keyCode);
    }
    if (s.location) {
        out.key("location");
        writeStored(out, *s.location);
    }
    if (s.modifierFlags) {
        out.key("modifierFlags");
        out.unsignedInteger(*s.modifierFlags);
    }
    writeOptional(out, "precondition", s.precondition);
    if (s.target) {
        out.key("target");
        writeStored(out, *s.target);
    }
    writeOptional(out, "text", s.text);
    out.endObject();
}

Parameter parameterFromStored(json::Element value) {
    json::StoredObject r(value, kParameterKeys, "Parameter");
    Parameter p{.id = r.requiredUuid(0)};
    p.name = r.requiredString(1);
    p.type = parameterTypeFromStored(r.required(2));
    p.prompt = r.requiredString(3);
    p.exampleValue = r.requiredString(4);
    p.usedInSteps = r.requiredList<std::int64_t>(5, [](json::Element element) {
        return json::StoredObject<6>::storedInteger<std::int64_t>(element,
                                                                  "an element of \"usedInSteps\"");
    });
    return p;
}

PlanStep planStepFromStored(json::Element value) {
    json::StoredObject r(value, kStepKeys, "PlanStep");
    PlanStep s{.id = r.requiredUuid(0)};
    s.index = r.requiredInt<std::int64_t>(1);
    s.intent = r.requiredString(2);
    s.action = actionTypeFromStored(r.required(3));
    if (auto v = r.optional(4)) {
        s.target = axTargetFromStored(*v);
    }
    if (auto v = r.optional(5)) {
        s.location = pointFromStored(*v);
    }
    s.text = r.optionalString(6);
    s.keyCode = r.optionalInt<std::uint16_t>(7);
    s.modifierFlags = r.optionalInt<std::uint64_t>(8);
    s.precondition = r.optionalString(9);
    s.isDestructive = r.requiredBool(10);
    return s;
}

} // namespace kestro
