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

// How much of each field is read: the bytes of a text, and the application scope's entries.
inline constexpr std::size_t fieldPrefixBytes = 4096;
inline constexpr std::size_t maxScopeEntries = 32;

// The longest prefix of UTF-8 `text` within `bytes` that ends on a code point boundary.
std::string_view prefix(std::string_view text, std::size_t bytes = fieldPrefixBytes);

// Every symbol name `symbol` can return, the fallback last.
std::vector<std::string_view> allSymbols();

std::string symbol(const Skill& skill);

// The same choice from the skill's words: name, trigger, summary and app scope, each read only
// as far as its prefix.
std::string symbol(std::string_view name, std::string_view trigger, std::string_view summary,
                   const std::vector<std::string>& appScope);

} // namespace SkillIcon

} // namespace kestro
