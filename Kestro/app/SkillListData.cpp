#include "Kestro/app/SkillListData.h"

#include "Kestro/text/SkillIcon.h"

#include <array>

namespace kestro {

SkillListData::Entry SkillListData::derive(const Skill& skill) {
    Entry e;
    e.id = skill.id;
    e.symbol = SkillIcon::symbol(skill);
    e.name = std::string(SkillIcon::prefix(skill.name, textBytes));
    e.trigger = std::string(SkillIcon::prefix(skill.trigger, textBytes));
    // From the bounded name: the command of a name longer than that is cut by the views anyway.
    Skill named;
    named.name = e.name;
    e.slashCommand = named.slashCommand();
    return e;
}

std::shared_ptr<const SkillListData>
SkillListData::make(std::shared_ptr<const std::vector<Skill>> skills) {
    auto data = std::shared_ptr<SkillListData>(new SkillListData);
    if (!skills) {
        skills = std::make_shared<const std::vector<Skill>>();
    }
    data->skills_ = std::move(skills);
    const std::vector<Skill>& list = *data->skills_;
    data->entries_.reserve(list.size());
    data->byId_.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        data->entries_.push_back(derive(list[i]));
        data->byId_.emplace(list[i].id, i);
    }
    const std::vector<Entry>& entries = data->entries_;
    data->ranking_ = FuzzyMatch::Prepared(entries.size(), [&entries](std::size_t i) {
        return std::array<std::string_view, 3>{entries[i].slashCommand, entries[i].name,
                                               entries[i].trigger};
    });
    return data;
}

std::shared_ptr<const SkillListData> SkillListData::make(std::vector<Skill> skills) {
    return make(std::make_shared<const std::vector<Skill>>(std::move(skills)));
}

std::size_t SkillListData::indexOf(const Uuid& id) const {
    auto it = byId_.find(id);
    return it == byId_.end() ? entries_.size() : it->second;
}

} // namespace kestro
