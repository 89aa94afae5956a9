#pragma once

#include "KestroCore/Skill.h"

#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// Picks the symbol shown beside a skill wherever skills are listed, from the skill's own words
// through one ordered table of keyword groups. The result is a symbol name that `Symbols` draws.
namespace SkillIcon {

inline constexpr std::string_view fallbackSymbol = "bolt.fill";

// Every symbol name `symbol` can return, the fallback last.
std::vector<std::string_view> allSymbols();

std::string symbol(const Skill& skill);

// The same choice from the skill's words: name, trigger, summary and app scope.
std::string symbol(std::string_view name, std::string_view trigger, std::string_view summary,
                   const std::vector<std::string>& appScope);

} // namespace SkillIcon

} // namespace kestro
