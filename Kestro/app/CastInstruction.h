#pragma once

#include "KestroCore/Skill.h"

#include <map>
#include <string>
#include <vector>

namespace kestro {

// What a cast asks of the model service, made from the skill alone.

// The values given, with each of the skill's parameters that has none (or an empty one) set to
// its example value.
std::map<std::string, std::string> filledParameters(const Skill& skill,
                                                    std::map<std::string, std::string> parameters);
// appScope, then each step's target application, first-seen order, no duplicates.
std::vector<std::string> bundleIDs(const Skill& skill);
// The instruction the model performs: the task, its demonstrated steps and the parameters.
std::string mcpInstruction(const Skill& skill,
                           const std::map<std::string, std::string>& parameters);

} // namespace kestro
