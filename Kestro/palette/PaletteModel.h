#pragma once

#include "Kestro/app/SkillListData.h"
#include "KestroCore/Skill.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestro {

// What the command palette shows and does, apart from drawing: the skills ranked against the
// query, at most eight of them, then the row that records a new skill; the highlight; and the
// one action a palette performs before it slides out. Main thread only.
class PaletteModel {
public:
    static constexpr std::size_t maxRows = 8;

    struct Action {
        enum class Kind { none, run, createNew };
        Kind kind = Kind::none;
        Skill skill;
        std::map<std::string, std::string> parameters;
    };

    // Every stored skill, newest first, with what is derived from them once per load (the
    // palette's cost does not grow with the list). The highlight keeps its number.
    void setSkillData(std::shared_ptr<const SkillListData> data);
    // The same, deriving here.
    void setSkills(std::vector<Skill> skills);
    const std::vector<Skill>& skills() const { return data_->skills(); }

    // The query as typed. A change moves the highlight back to the first item.
    void setQuery(std::string query);
    const std::string& query() const { return query_; }

    // The skills shown, in ranked order, and what the rows draw of each.
    std::vector<const Skill*> shown() const;
    const SkillListData::Entry& shownEntry(std::size_t row) const {
        return data_->entries()[shown_[row]];
    }
    std::size_t shownCount() const { return shown_.size(); }
    // Shown skills plus the create row.
    std::size_t itemCount() const { return shown_.size() + 1; }

    // The highlighted item, always one of the rows on screen: a number left past the end by a
    // shrinking list marks the create row.
    std::size_t selection() const;
    bool createRowSelected() const { return selection() == shown_.size(); }

    // Moves the highlight without wrapping.
    void move(int delta);
    // Return: the highlighted item's action.
    Action activate();
    // A click on row `row` (the create row is shownCount()).
    Action click(std::size_t row);

    // The palette is sliding out: nothing acts any more.
    void beginExit() { exiting_ = true; }
    bool exiting() const { return exiting_; }

    std::string createTitle() const;

    // Every parameter set to its example value; of two with the same name the later wins.
    static std::map<std::string, std::string> exampleValues(const Skill& skill);

private:
    void rerank();
    Action run(std::size_t index);
    Action createNew();

    std::shared_ptr<const SkillListData> data_ = SkillListData::make(std::vector<Skill>{});
    std::vector<std::size_t> shown_; // indices into data_'s skills
    std::string query_;
    std::size_t selection_ = 0;
    bool exiting_ = false;
};

} // namespace kestro
