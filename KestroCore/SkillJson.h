#pragma once

#include "KestroCore/AXTargetJson.h"
#include "KestroCore/ActionEventJson.h"
#include "KestroCore/GeometryJson.h"
#include "KestroCore/Skill.h"

#include <string>
#include <string_view>

namespace kestro {

json::Value toJson(ExecutionMode mode);
json::Value toJson(ParameterType type);
json::Value toJson(const Parameter& parameter);
json::Value toJson(const PlanStep& step);
json::Value toJson(const Skill& skill);
json::Value toJson(const ExecutionPlanDocument& document);

ExecutionMode executionModeFromJson(const json::Value& value);
ParameterType parameterTypeFromJson(const json::Value& value);
Parameter parameterFromJson(const json::Value& value);
PlanStep planStepFromJson(const json::Value& value);
Skill skillFromJson(const json::Value& value);
ExecutionPlanDocument executionPlanDocumentFromJson(const json::Value& value);

// The stored form of a plan's parameters and steps, without a Value in between.
void writeStored(json::StoredWriter& out, const Parameter& parameter);
void writeStored(json::StoredWriter& out, const PlanStep& step);
Parameter parameterFromStored(json::Element value);
PlanStep planStepFromStored(json::Element value);

// The bytes of "execution_plan.json", and back; decoding throws json::DecodingError.
std::string encodeExecutionPlan(const ExecutionPlanDocument& document);
ExecutionPlanDocument decodeExecutionPlan(std::string_view bytes);

} // namespace kestro

template <> struct kestro::json::EnumNames<kestro::ExecutionMode> {
    static constexpr std::string_view name = "ExecutionMode";
    static std::optional<ExecutionMode> parse(std::string_view raw) {
        return executionModeFromRawValue(raw);
    }
};

template <> struct kestro::json::EnumNames<kestro::ParameterType> {
    static constexpr std::string_view name = "ParameterType";
    static std::optional<ParameterType> parse(std::string_view raw) {
        return parameterTypeFromRawValue(raw);
    }
};

template <> struct kestro::json::Fields<kestro::Parameter> {
    static constexpr std::string_view name = "Parameter";
    static constexpr auto members = std::tuple{
        field("id", &Parameter::id),
        field("name", &Parameter::name),
        field("type", &Parameter::type),
        field("prompt", &Parameter::prompt),
        field("exampleValue", &Parameter::exampleValue),
        field("usedInSteps", &Parameter::usedInSteps),
    };
};

template <> struct kestro::json::Fields<kestro::PlanStep> {
    static constexpr std::string_view name = "PlanStep";
    static constexpr auto members = std::tuple{
        field("id", &PlanStep::id),
        field("index", &PlanStep::index),
        field("intent", &PlanStep::intent),
        field("action", &PlanStep::action),
        field("target", &PlanStep::target),
        field("location", &PlanStep::location),
        field("text", &PlanStep::text),
        field("keyCode", &PlanStep::keyCode),
        field("modifierFlags", &PlanStep::modifierFlags),
        field("precondition", &PlanStep::precondition),
        field("isDestructive", &PlanStep::isDestructive),
    };
};

template <> struct kestro::json::Fields<kestro::Skill> {
    static constexpr std::string_view name = "Skill";
    static constexpr auto members = std::tuple{
        field("id", &Skill::id),
        field("name", &Skill::name),
        field("trigger", &Skill::trigger),
        field("summary", &Skill::summary),
        field("mode", &Skill::mode),
        field("parameters", &Skill::parameters),
        field("plan", &Skill::plan),
        field("appScope", &Skill::appScope),
        field("createdAt", &Skill::createdAt),
        field("sourceRecordingID", &Skill::sourceRecordingID),
    };
};

template <> struct kestro::json::Fields<kestro::ExecutionPlanDocument> {
    static constexpr std::string_view name = "ExecutionPlanDocument";
    static constexpr auto members = std::tuple{
        field("parameters", &ExecutionPlanDocument::parameters),
        field("plan", &ExecutionPlanDocument::plan),
    };
};
