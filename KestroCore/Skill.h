#pragma once

#include "KestroBase/Geometry.h"
#include "KestroBase/IsoDate.h"
#include "KestroBase/Uuid.h"
#include "KestroCore/AXTarget.h"
#include "KestroCore/ActionEvent.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

enum class ExecutionMode { agentic, replay };
inline constexpr std::array<ExecutionMode, 2> allExecutionModes = {ExecutionMode::agentic,
                                                                   ExecutionMode::replay};
std::string_view rawValue(ExecutionMode mode);
std::optional<ExecutionMode> executionModeFromRawValue(std::string_view raw);

enum class ParameterType { text, date, number, filePath, searchTerm };
inline constexpr std::array<ParameterType, 5> allParameterTypes = {
    ParameterType::text, ParameterType::date, ParameterType::number, ParameterType::filePath,
    ParameterType::searchTerm};
std::string_view rawValue(ParameterType type);
std::optional<ParameterType> parameterTypeFromRawValue(std::string_view raw);

// One fillable slot of a skill, referred to in step texts as {{name}}.
struct Parameter {
    Uuid id = Uuid::random();
    std::string name;
    ParameterType type = ParameterType::text;
    std::string prompt;
    std::string exampleValue;
    std::vector<std::int64_t> usedInSteps;
};

struct PlanStep {
    Uuid id = Uuid::random();
    std::int64_t index = 0;
    std::string intent;
    ActionType action = ActionType::click;
    std::optional<AXTarget> target;
    std::optional<Point> location;
    std::optional<std::string> text;
    std::optional<std::uint16_t> keyCode;
    std::optional<std::uint64_t> modifierFlags;
    std::optional<std::string> precondition;
    bool isDestructive = false;
};

struct Skill {
    Uuid id = Uuid::random();
    std::string name;
    std::string trigger;
    std::string summary;
    ExecutionMode mode = ExecutionMode::agentic;
    std::vector<Parameter> parameters;
    std::vector<PlanStep> plan;
    std::vector<std::string> appScope;
    Date createdAt;
    std::optional<Uuid> sourceRecordingID;

    // "/" and the name's lower-cased letter, mark and number runs joined by "-".
    std::string slashCommand() const;
};

// The parameters and plan of a skill, stored as "execution_plan.json".
struct ExecutionPlanDocument {
    std::vector<Parameter> parameters;
    std::vector<PlanStep> plan;
};

} // namespace kestro
