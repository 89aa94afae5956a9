#pragma once

#include "KestroCore/Skill.h"

#include <filesystem>
#include <optional>
#include <vector>

namespace kestro {

// The skill library: one folder per skill, named by its id. Folders are open to their owner
// alone, stored files too.
class SkillStore {
public:
    static constexpr const char* markdownFileName = "SKILL.md";
    static constexpr const char* planFileName = "execution_plan.json";
    static constexpr const char* recordingRefFileName = "recording.ref";

    // Keeps its skills in Paths::skills(), looked up afresh at every call; save() first makes
    // every standing data folder (Paths::ensureDirectories).
    SkillStore() = default;
    // Keeps its skills in `root`.
    explicit SkillStore(std::filesystem::path root);

    std::filesystem::path root() const;

    // Refuses to write through a skill folder that is a symbolic link. A save that fails in a
    // folder it created removes that folder again; in an existing folder, files already
    // replaced stay replaced.
    void save(const Skill& skill) const;
    // Every loadable skill folder, newest first; never fails. Of several folders holding one id
    // only the first by name in byte order is loaded; the others go to the storage log, once each
    // per process.
    std::vector<Skill> loadAll() const;
    // Throws only when SKILL.md cannot be read as UTF-8 text (a file that is not a regular one,
    // or is too large, cannot be read).
    Skill load(const std::filesystem::path& folder) const;
    void remove(const Skill& skill) const;
    std::filesystem::path markdownURL(const Skill& skill) const;

    // The folder a skill lives in (see Paths::existingFolder).
    std::filesystem::path folder(const Skill& skill) const;

private:
    std::optional<std::filesystem::path> root_;
};

} // namespace kestro
