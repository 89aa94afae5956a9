#include "Kestro/PaletteModel.h"

#include "Kestro/FuzzyMatch.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace kestro {

// The matched texts of each skill: the slash command, derived from the name with Unicode tables,
// and the fields folded for the ranker, made at the first query that needs them.
struct PaletteModel::MatchFields {
    std::vector<std::string> names;
    std::vector<std::string> triggers;
    std::vector<std::string> slashCommands;
    std::unique_ptr<const FuzzyMatch::Prepared> prepared;

    bool describes(const std::vector<Skill>& skills) const {
        if (skills.size() != names.size()) {
            return false;
        }
        for (std::size_t i = 0; i < skills.size(); ++i) {
            if (skills[i].name != names[i] || skills[i].trigger != triggers[i]) {
                return false;
            }
        }
        return true;
    }

    const FuzzyMatch::Prepared& folded() {
        if (!prepared) {
            prepared =
                std::make_unique<const FuzzyMatch::Prepared>(names.size(), [this](std::size_t i) {
                    return std::array<std::string_view, 3>{slashCommands[i], names[i], triggers[i]};
                });
        }
        return *prepared;
    }
};

// Each opening of the palette makes a new model over what is nearly always the skill list of
// the last one: comparing the texts costs far less than deriving and folding them again. Main
// thread only, as the model is.
std::shared_ptr<PaletteModel::MatchFields>& PaletteModel::lastFields() {
    static std::shared_ptr<MatchFields> last;
    return last;
}

void PaletteModel::setSkills(std::vector<Skill> skills) {
    skills_ = std::move(skills);
    std::shared_ptr<MatchFields>& last = lastFields();
    if (!last || !last->describes(skills_)) {
        auto fields = std::make_shared<MatchFields>();
        fields->names.reserve(skills_.size());
        fields->triggers.reserve(skills_.size());
        fields->slashCommands.reserve(skills_.size());
        for (const Skill& s : skills_) {
            fields->names.push_back(s.name);
            fields->triggers.push_back(s.trigger);
            fields->slashCommands.push_back(s.slashCommand());
        }
        last = std::move(fields);
    }
    fields_ = last;
    rerank();
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
    if (!fields_ || FuzzyMatch::Query(query_).empty()) {
        // Nothing to match: the stored order, without folding anything.
        shown_.resize(std::min(skills_.size(), maxRows));
        for (std::size_t i = 0; i < shown_.size(); ++i) {
            shown_[i] = i;
        }
        return;
    }
    shown_ = fields_->folded().rankIndices(query_, maxRows);
}

std::vector<const Skill*> PaletteModel::shown() const {
    std::vector<const Skill*> result;
    result.reserve(shown_.size());
    for (std::size_t i : shown_) {
        result.push_back(&skills_[i]);
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
    action.skill = skills_[shown_[index]];
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
