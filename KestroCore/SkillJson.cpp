#include "KestroCore/SkillJson.h"

#include "KestroCore/RecordCoding.h"

namespace kestro {

json::Value toJson(ExecutionMode mode) {
    return std::string(rawValue(mode));
}
json::Value toJson(ParameterType type) {
    return std::string(rawValue(type));
}
json::Value toJson(const Parameter& parameter) {
    return json::encodeValue(parameter);
}
json::Value toJson(const PlanStep& step) {
    return json::encodeValue(step);
}
json::Value toJson(const Skill& skill) {
    return json::encodeValue(skill);
}
json::Value toJson(const ExecutionPlanDocument& document) {
    return json::encodeValue(document);
}

ExecutionMode executionModeFromJson(const json::Value& value) {
    return json::enumFromValue<ExecutionMode>(value);
}
ParameterType parameterTypeFromJson(const json::Value& value) {
    return json::enumFromValue<ParameterType>(value);
}
Parameter parameterFromJson(const json::Value& value) {
    return json::decodeValue<Parameter>(value);
}
PlanStep planStepFromJson(const json::Value& value) {
    return json::decodeValue<PlanStep>(value);
}
Skill skillFromJson(const json::Value& value) {
    return json::decodeValue<Skill>(value);
}
ExecutionPlanDocument executionPlanDocumentFromJson(const json::Value& value) {
    return json::decodeValue<ExecutionPlanDocument>(value);
}

void writeStored(json::StoredWriter& out, const Parameter& parameter) {
    json::writeRecord(out, parameter);
}
void writeStored(json::StoredWriter& out, const PlanStep& step) {
    json::writeRecord(out, step);
}
Parameter parameterFromStored(json::Element value) {
    return json::readRecord<Parameter>(value);
}
PlanStep planStepFromStored(json::Element value) {
    return json::readRecord<PlanStep>(value);
}

std::string encodeExecutionPlan(const ExecutionPlanDocument& document) {
    return json::encodeStored(document);
}

ExecutionPlanDocument decodeExecutionPlan(std::string_view bytes) {
    return json::decodeStored<ExecutionPlanDocument>(bytes);
}

} // namespace kestro
