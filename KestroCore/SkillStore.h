#pragma once

#include "KestroCore/Skill.h"

#include <filesystem>
#include <vector>

namespace kestro {

// The parameters and plan of a skill, stored as "execution_plan.json".
struct ExecutionPlanDocument {
    std::vector<Parameter> parameters;
    std::vector<PlanStep> plan;
};

json::Value toJson(const ExecutionPlanDocument& document);
ExecutionPlanDocument executionPlanDocumentFromJson(const json::Value& value);
std::string encodeExecutionPlan(const ExecutionPlanDocument& document);
ExecutionPlanDocument decodeExecutionPlan(std::string_view bytes);

// The skill library: one folder per skill, named by its id, inside Paths::skills().
class SkillStore {
public:
    static constexpr const char* markdownFileName = "SKILL.md";
    static constexpr const char* planFileName = "execution_plan.json";
    static constexpr const char* recordingRefFileName = "recording.ref";

    void save(const Skill& skill) const;
    // Every loadable skill folder, newest first; never fails.
    std::vector<Skill> loadAll() const;
    // Throws only when SKILL.md cannot be read as UTF-8 text.
    Skill load(const std::filesystem::path& folder) const;
    void remove(const Skill& skill) const;
    std::filesystem::path markdownURL(const Skill& skill) const;

    // The folder a skill lives in (see Paths::existingFolder).
    std::filesystem::path folder(const Skill& skill) const;
};

} // namespace kestro
