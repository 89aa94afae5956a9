#pragma once

#include "KestroCore/SkillStore.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kestro {

// The file side of editing, deleting and exporting a stored skill. No Qt and no windows: the
// outcome goes to the log the caller gives, so the roads and their tests share one code path.
namespace SkillFiles {

using Log = std::function<void(const std::string& line)>;

// What the editor opens with. When SKILL.md exists but cannot be read as UTF-8 text the editor
// still opens empty, but saving would replace content the user never saw, so it is refused.
struct MarkdownText {
    std::string text;
    bool canSave = true;
    // Why saving is refused, for the editor to say; empty when it is allowed.
    std::string problem;
};
MarkdownText read(const SkillStore& store, const Skill& skill);

// Replaces SKILL.md through a temporary file and a rename, so a failure leaves the old content.
// Never creates the skill's folder: a skill deleted meanwhile stays deleted. A failure is logged.
bool save(const SkillStore& store, const Skill& skill, std::string_view text, const Log& log);

// Deletes the skill's folder; logs the deleted or the delete-failed line.
bool remove(const SkillStore& store, const Skill& skill, const Log& log);

// Copies SKILL.md into `folder` under the first free name of "<command>.md", "<command>-2.md",
// ...; each candidate is created exclusively, so nothing at its path (a file, a folder, a
// dangling link) is ever written through. Returns the new file, or nothing after logging why.
std::optional<std::filesystem::path> exportTo(const SkillStore& store, const Skill& skill,
                                              const std::filesystem::path& folder, const Log& log);

// The export's base name cut at a character boundary so that base, "-<counter>" and ".md" fit
// in one file name.
std::string fittedBaseName(std::string_view base, unsigned long counter);

} // namespace SkillFiles

} // namespace kestro
