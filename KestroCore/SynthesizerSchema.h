#pragma once

#include "KestroCore/Json.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// The model's proposed skill as it answers, before assembly. Mode, action and parameter type
// stay free text here so that an unexpected value never fails the decoding.
struct TargetDraft {
    std::optional<std::string> appBundleId;
    std::optional<std::string> appName;
    std::optional<std::string> axRole;
    std::optional<std::string> axTitle;
    std::optional<std::string> axIdentifier;
};

struct StepDraft {
    std::int64_t index = 0;
    std::string intent;
    std::string action;
    std::optional<std::string> text;
    std::optional<std::string> precondition;
    bool isDestructive = false;
    std::optional<TargetDraft> target;
};

struct ParamDraft {
    std::string name;
    std::string type;
    std::string prompt;
    std::string exampleValue;
    std::vector<std::int64_t> usedInSteps;
};

struct SkillDraft {
    std::string name;
    std::string trigger;
    std::string summary;
    std::string mode;
    std::vector<std::string> appScope;
    std::vector<ParamDraft> parameters;
    std::vector<StepDraft> plan;
};

// The model's answer bytes, keys converted from snake case first. Throws json::DecodingError
// when a required member is missing or null or a value has the wrong JSON type.
SkillDraft decodeSkillDraft(std::string_view bytes);

} // namespace kestro
