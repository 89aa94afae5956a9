#include "Kestro/palette/PaletteModel.h"

#include <gtest/gtest.h>

using namespace kestro;
using Kind = PaletteModel::Action::Kind;

namespace {

Skill skillNamed(const std::string& name, std::vector<Parameter> params = {}) {
    Skill s;
    s.name = name;
    s.trigger = "";
    s.parameters = std::move(params);
    return s;
}

std::vector<Skill> numberedSkills(int n) {
    std::vector<Skill> skills;
    for (int i = 0; i < n; ++i) {
        skills.push_back(skillNamed("Skill " + std::to_string(i)));
    }
    return skills;
}

std::vector<std::string> shownNames(const PaletteModel& m) {
    std::vector<std::string> names;
    for (const Skill* s : m.shown()) {
        names.push_back(s->name);
    }
    return names;
}

} // namespace

TEST(PaletteModel, TwelveSkillsShowEightRowsThenTheCreateRow) {
    PaletteModel m;
    m.setSkills(numberedSkills(12));
    ASSERT_EQ(m.shownCount(), 8u);
    EXPECT_EQ(m.itemCount(), 9u);
    EXPECT_EQ(shownNames(m).front(), "Skill 0");
    EXPECT_EQ(shownNames(m).back(), "Skill 7");
    EXPECT_EQ(m.createTitle(), "Create a skill");

    m.move(-1);
    EXPECT_EQ(m.selection(), 0u);
    for (int i = 0; i < 8; ++i) {
        m.move(+1);
    }
    EXPECT_TRUE(m.createRowSelected());
    m.move(+1);
    EXPECT_EQ(m.selection(), 8u);
    EXPECT_EQ(m.activate().kind, Kind::createNew);
}

TEST(PaletteModel, QueryRanksAndResetsTheHighlight) {
    PaletteModel m;
    m.setSkills({skillNamed("Open Reaper"), skillNamed("Reconcile invoices"),
                 skillNamed("File weekly report")});
    m.move(+2);
    m.setQuery("  ");
    // Blank for the ranker, but the create row shows the raw text.
    EXPECT_EQ(shownNames(m).size(), 3u);
    EXPECT_EQ(m.createTitle(), "Create \u201C  \u201D");
    EXPECT_EQ(m.selection(), 0u);

    m.setQuery("rec");
    EXPECT_EQ(shownNames(m), std::vector<std::string>{"Reconcile invoices"});
    m.move(+1);
    EXPECT_TRUE(m.createRowSelected());
    m.setQuery("rec"); // no change: the highlight stays
    EXPECT_TRUE(m.createRowSelected());
    m.setQuery("reco"); // same ranking, still back to the first item
    EXPECT_EQ(m.selection(), 0u);

    m.setQuery("zzzz");
    EXPECT_EQ(m.shownCount(), 0u);
    EXPECT_TRUE(m.createRowSelected());
    EXPECT_EQ(m.createTitle(), "Create \u201Czzzz\u201D");
}

TEST(PaletteModel, TheHighlightKeepsItsNumberAndStaysOnTheRowsShown) {
    PaletteModel m;
    m.setSkills(numberedSkills(3));
    m.move(+3);
    ASSERT_TRUE(m.createRowSelected());
    // One more skill: the same number now marks the last skill row.
    m.setSkills(numberedSkills(4));
    EXPECT_EQ(m.selection(), 3u);
    EXPECT_FALSE(m.createRowSelected());

    // The list shrinks under the highlight: it is shown on the create row, and Return does what
    // is shown; moving up goes to the row above what is shown.
    m.setSkills(numberedSkills(1));
    EXPECT_EQ(m.selection(), 1u);
    EXPECT_TRUE(m.createRowSelected());
    PaletteModel copy = m;
    EXPECT_EQ(copy.activate().kind, Kind::createNew);
    m.move(-1);
    EXPECT_EQ(m.selection(), 0u);
}

TEST(PaletteModel, RunHandsOverExampleValuesLaterDuplicatesWinning) {
    Parameter city{.name = "city", .exampleValue = "Lisbon"};
    Parameter date{.name = "date", .exampleValue = "tomorrow"};
    Parameter city2{.name = "city", .exampleValue = "Porto"};
    PaletteModel m;
    m.setSkills({skillNamed("First"), skillNamed("Trip", {city, date, city2})});
    // A click on the second row runs it although the first is highlighted.
    const auto action = m.click(1);
    ASSERT_EQ(action.kind, Kind::run);
    EXPECT_EQ(action.skill.name, "Trip");
    EXPECT_EQ(action.parameters,
              (std::map<std::string, std::string>{{"city", "Porto"}, {"date", "tomorrow"}}));
    EXPECT_TRUE(PaletteModel::exampleValues(skillNamed("none")).empty());
}

TEST(PaletteModel, OneActionPerOpening) {
    struct Case {
        const char* what;
        std::function<PaletteModel::Action(PaletteModel&)> first;
    };
    const Case cases[] = {
        {"return on a skill", [](PaletteModel& m) { return m.activate(); }},
        {"click on a skill", [](PaletteModel& m) { return m.click(0); }},
        {"click on the create row", [](PaletteModel& m) { return m.click(m.shownCount()); }},
        {"close button",
         [](PaletteModel& m) {
             m.beginExit();
             return PaletteModel::Action{};
         }},
    };
    for (const Case& c : cases) {
        PaletteModel m;
        m.setSkills(numberedSkills(2));
        c.first(m);
        EXPECT_TRUE(m.exiting()) << c.what;
        // A second Return, a double click or an arrow during the slide-out does nothing.
        EXPECT_EQ(m.activate().kind, Kind::none) << c.what;
        EXPECT_EQ(m.click(0).kind, Kind::none) << c.what;
        EXPECT_EQ(m.click(2).kind, Kind::none) << c.what;
        const auto before = m.selection();
        m.move(+1);
        EXPECT_EQ(m.selection(), before) << c.what;
    }
}

TEST(PaletteModel, NoSkillsLeavesOnlyTheCreateRow) {
    PaletteModel m;
    m.setSkills({});
    EXPECT_EQ(m.itemCount(), 1u);
    EXPECT_TRUE(m.createRowSelected());
    EXPECT_EQ(m.activate().kind, Kind::createNew);
}

TEST(PaletteModel, EachListIsMatchedByItsOwnTexts) {
    // Palettes reuse the folded texts of the list seen last; a list differing in any matched
    // text, even at the same length, must be matched afresh.
    auto withTrigger = [](const std::string& name, const std::string& trigger) {
        Skill s = skillNamed(name);
        s.trigger = trigger;
        return s;
    };
    PaletteModel first;
    first.setSkills({skillNamed("Alpha"), skillNamed("Beta")});
    first.setQuery("al");
    EXPECT_EQ(shownNames(first), std::vector<std::string>{"Alpha"});

    const struct {
        const char* what;
        std::vector<Skill> skills;
        std::vector<std::string> shown;
    } cases[] = {
        {"renamed", {skillNamed("Gamma"), skillNamed("Alps")}, {"Alps"}},
        {"new trigger", {skillNamed("Alpha"), withTrigger("Beta", "al")}, {"Alpha", "Beta"}},
        {"accented", {skillNamed("\xC3\x80la carte"), skillNamed("Beta")}, {}},
        {"the first list again", {skillNamed("Alpha"), skillNamed("Beta")}, {"Alpha"}},
    };
    for (const auto& c : cases) {
        PaletteModel m;
        m.setSkills(c.skills);
        m.setQuery("al");
        EXPECT_EQ(shownNames(m), c.shown) << c.what;
    }
    // The first palette still ranks the list it was given, and takes a new one mid-query.
    first.setQuery("alp");
    EXPECT_EQ(shownNames(first), std::vector<std::string>{"Alpha"});
    first.setSkills({skillNamed("Beta"), skillNamed("Alpine")});
    EXPECT_EQ(shownNames(first), std::vector<std::string>{"Alpine"});
}
