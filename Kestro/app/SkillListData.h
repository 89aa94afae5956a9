#pragma once

#include "Kestro/text/FuzzyMatch.h"
#include "KestroCore/Skill.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestro {

// What the views show of each skill of one loaded list, derived once for that list: the icon's
// symbol, the slash command, the label, and the palette's prepared ranking keys. Every text is
// read only up to a bound, so one huge skill costs what a short one does. Immutable once made;
// safe to make on a worker thread and share with the main thread.
class SkillListData {
public:
    // Bytes of a name or trigger the views keep (cut on a code point boundary).
    static constexpr std::size_t textBytes = 512;
    // Above this many skills the derivation is worth a worker thread.
    static constexpr std::size_t inlineLimit = 64;

    struct Entry {
        Uuid id;
        std::string symbol;
        std::string slashCommand;
        // The name and trigger within textBytes.
        std::string name;
        std::string trigger;
    };

    static std::shared_ptr<const SkillListData>
    make(std::shared_ptr<const std::vector<Skill>> skills);
    static std::shared_ptr<const SkillListData> make(std::vector<Skill> skills);

    const std::vector<Skill>& skills() const { return *skills_; }
    // The list this was derived from, to tell whether it is still current.
    const std::shared_ptr<const std::vector<Skill>>& source() const { return skills_; }
    const std::vector<Entry>& entries() const { return entries_; }
    std::size_t size() const { return entries_.size(); }
    // Ranks slash command, name and trigger, in this order.
    const FuzzyMatch::Prepared& ranking() const { return ranking_; }
    // The position of the skill with `id`, or size() when there is none.
    std::size_t indexOf(const Uuid& id) const;

    static Entry derive(const Skill& skill);

private:
    SkillListData() = default;

    std::shared_ptr<const std::vector<Skill>> skills_;
    std::vector<Entry> entries_;
    FuzzyMatch::Prepared ranking_;
    std::unordered_map<Uuid, std::size_t> byId_;
};

} // namespace kestro
