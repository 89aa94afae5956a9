#include "Kestro/palette/PaletteModel.h"

#include "Kestro/text/FuzzyMatch.h"

#include <algorithm>
#include <string_view>

namespace kestro {

void PaletteModel::setSkillData(std::shared_ptr<const SkillListData> data) {
    data_ = data ? std::move(data) : SkillListData::make(std::vector<Skill>{});
    rerank();
}

void PaletteModel::setSkills(std::vector<Skill> skills) {
    setSkillData(SkillListData::make(std::move(skills)));
}

void PaletteModel::setQuery(std::string query) {
    if (query == query_) {
        return;
    }
    query_ = std::move(query);
    selection_ = 0;
    rerank();
}

void PaletteModel::rerank() {
    if (FuzzyMatch::Query(query_).empty()) {
        // Nothing to match: the stored order.
        shown_.resize(std::min(data_->size(), maxRows));
        for (std::size_t i = 0; i < shown_.size(); ++i) {
            shown_[i] = i;
        }
        return;
    }
    shown_ = data_->ranking().rankIndices(query_, maxRows);
}

std::vector<const Skill*> PaletteModel::shown() const {
    std::vector<const Skill*> result;
    result.reserve(shown_.size());
    for (std::size_t i : shown_) {
        result.push_back(&data_->skills()[i]);
    }
    return result;
}

std::size_t PaletteModel::selection() const {
    return std::min(selection_, shown_.size());
}

void PaletteModel::move(int delta) {
    if (exiting_) {
        return;
    }
    const long next = static_cast<long>(selection()) + delta;
    const long last = static_cast<long>(itemCount()) - 1;
    selection_ = static_cast<std::size_t>(std::max(0L, std::min(next, last)));
}

PaletteModel::Action PaletteModel::activate() {
    return click(selection());
}

PaletteModel::Action PaletteModel::click(std::size_t row) {
    if (exiting_) {
        return {};
    }
    if (row < shown_.size()) {
        return run(row);
    }
    return createNew();
}

PaletteModel::Action PaletteModel::run(std::size_t index) {
    Action action;
    action.kind = Action::Kind::run;
    action.skill = data_->skills()[shown_[index]];
    action.parameters = exampleValues(action.skill);
    exiting_ = true;
    return action;
}

PaletteModel::Action PaletteModel::createNew() {
    Action action;
    action.kind = Action::Kind::createNew;
    exiting_ = true;
    return action;
}

std::string PaletteModel::createTitle() const {
    if (query_.empty()) {
        return "Create a skill";
    }
    return "Create \u201C" + query_ + "\u201D";
}

std::map<std::string, std::string> PaletteModel::exampleValues(const Skill& skill) {
    std::map<std::string, std::string> values;
    for (const Parameter& p : skill.parameters) {
        values[p.name] = p.exampleValue;
    }
    return values;
}

} // namespace kestro
