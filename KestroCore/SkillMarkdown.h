#pragma once

#include "KestroCore/Skill.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro::SkillMarkdown {

// The whole SKILL.md text of a skill, always UTF-8 (ill-formed bytes become U+FFFD).
std::string render(const Skill& skill);

// Reads back the front matter (name, trigger, mode, created, app_scope) and the summary; every
// text gives a skill, with defaults for whatever is missing.
Skill parse(std::string_view text);
// The same, for a skill whose id is already known (no id is drawn only to be replaced).
Skill parse(std::string_view text, const Uuid& id);

// Building blocks, exposed for tests.
std::string yaml(std::string_view value);
std::string iso(Date date);
std::optional<Date> parseISO(const std::optional<std::string>& text);
struct FrontMatter {
    std::map<std::string, std::string> fields;
    std::string body;
};
FrontMatter splitFrontMatter(std::string_view text);
std::vector<std::string> parseList(std::string_view value);
std::string stripQuotes(std::string_view value);

} // namespace kestro::SkillMarkdown
