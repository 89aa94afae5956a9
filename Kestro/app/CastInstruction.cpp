#include "Kestro/app/CastInstruction.h"

#include <algorithm>
#include <set>

namespace kestro {

std::map<std::string, std::string> filledParameters(const Skill& skill,
                                                    std::map<std::string, std::string> parameters) {
    for (const Parameter& parameter : skill.parameters) {
        auto it = parameters.find(parameter.name);
        if (it == parameters.end() || it->second.empty()) {
            parameters[parameter.name] = parameter.exampleValue;
        }
    }
    return parameters;
}

std::vector<std::string> bundleIDs(const Skill& skill) {
    std::vector<std::string> ids;
    std::set<std::string> seen;
    auto add = [&](const std::string& id) {
        if (seen.insert(id).second) {
            ids.push_back(id);
        }
    };
    for (const std::string& id : skill.appScope) {
        add(id);
    }
    for (const PlanStep& step : skill.plan) {
        if (step.target && step.target->appBundleID) {
            add(*step.target->appBundleID);
        }
    }
    return ids;
}

std::string mcpInstruction(const Skill& skill,
                           const std::map<std::string, std::string>& parameters) {
    std::vector<std::string> lines = {
        "Complete this task using the available tools. Act directly; do not ask for "
        "confirmation.",
        "Task: " + skill.name + "."};
    if (!skill.summary.empty()) {
        lines.push_back(skill.summary);
    }
    if (!skill.plan.empty()) {
        std::vector<const PlanStep*> steps;
        for (const PlanStep& step : skill.plan) {
            steps.push_back(&step);
        }
        std::stable_sort(steps.begin(), steps.end(),
                         [](const PlanStep* a, const PlanStep* b) { return a->index < b->index; });
        lines.push_back("Steps demonstrated:");
        for (const PlanStep* step : steps) {
            lines.push_back("- " + step->intent);
        }
    }
    if (!parameters.empty()) {
        // The skill's own order first, then any other names in name order.
        lines.push_back("Parameters:");
        std::set<std::string> listed;
        for (const Parameter& parameter : skill.parameters) {
            auto it = parameters.find(parameter.name);
            if (it != parameters.end() && listed.insert(it->first).second) {
                lines.push_back("- " + it->first + ": " + it->second);
            }
        }
        for (const auto& [name, value] : parameters) {
            if (!listed.count(name)) {
                lines.push_back("- " + name + ": " + value);
            }
        }
    }
    std::string text;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            text += '\n';
        }
        text += lines[i];
    }
    return text;
}

} // namespace kestro
