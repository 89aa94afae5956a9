#include "Kestro/FuzzyMatch.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace kestro;

namespace {

struct ScoreCase {
    const char* query;
    const char* text;
    std::optional<std::int64_t> expected;
};

std::vector<std::string> rankSingle(const std::vector<std::string>& items, std::string_view query) {
    return FuzzyMatch::rank(items, query,
                            [](const std::string& s) { return std::vector<std::string>{s}; });
}

} // namespace

TEST(FuzzyMatchScore, NormalisedQueriesScoreRunsAndPrefix) {
    const ScoreCase cases[] = {
        {"rec", "reconcile invoices", 28},
        {"rec", "/reconcile-invoices", 8},
        {"fwr", "file weekly report", 3},
        {"inv", "reconcile invoices", 5}, // greedy: the i of "reconcile" is taken first
        {"ab", "a xab", 2},
        {"rec", "open reaper", std::nullopt},
        {"report", "file weekly report", 26},
        {"abc", "abc", 28},
        {"abc", "xabc", 8},
        {"abcd", "abc", std::nullopt},
        {"a", "", std::nullopt},
        // Composed query, decomposed text: one character each, so a run of 2 plus the prefix.
        {"caf\xC3\xA9", "cafe\xCC\x81 noir", 33},
        {"e", "e\xCC\x81", std::nullopt}, // "e" is not the whole character "é"
        {"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", "x\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", 1},
    };
    for (const ScoreCase& c : cases) {
        EXPECT_EQ(FuzzyMatch::score(c.query, c.text), c.expected)
            << "query '" << c.query << "' in '" << c.text << "'";
    }
}

TEST(FuzzyMatchScore, PreparedQueryFoldsTheField) {
    const ScoreCase cases[] = {
        {"REC", "Reconcile Invoices", 28},
        {"rec", "RECONCILE", 28},
        {"\xC3\x89t\xC3\xA9", "E\xCC\x81TE\xCC\x81 plans", 28}, // "Été" vs decomposed "ÉTÉ"
        // "İ" lower-cases to "i" plus a combining dot: one character that a plain "i" is not.
        {"i", "\xC4\xB0stanbul", std::nullopt},
        {"\xC4\xB0s", "\xC4\xB0STANBUL", 24},
        {"k", "\xE2\x84\xAA", 21}, // the Kelvin sign lower-cases to "k"
        {"a\r\nb", "xa\r\nb", 8},  // CR LF is one character on both sides
        {"\n", "a\r\nb", std::nullopt},
    };
    for (const ScoreCase& c : cases) {
        EXPECT_EQ(FuzzyMatch::score(FuzzyMatch::Query(c.query), c.text), c.expected)
            << "query '" << c.query << "' in '" << c.text << "'";
    }
}

TEST(FuzzyMatchRank, QueryIsTrimmedOfSpacesAndTabsOnly) {
    const std::vector<std::string> items = {"Open Reaper", "Reconcile invoices",
                                            "File weekly report"};
    EXPECT_EQ(rankSingle(items, " REC "), std::vector<std::string>{"Reconcile invoices"});
    // No-break space, ideographic space and tabs are trimmed.
    EXPECT_EQ(rankSingle(items, "\xC2\xA0\trec\xE3\x80\x80\t"),
              std::vector<std::string>{"Reconcile invoices"});
    // A trailing line break is kept and must be found after the other letters.
    EXPECT_TRUE(rankSingle(items, "rec\n").empty());
    EXPECT_EQ(rankSingle({"rec\nx", "rec"}, "rec\n"), std::vector<std::string>{"rec\nx"});
}

TEST(FuzzyMatchRank, EmptyQueryKeepsEverythingInOrder) {
    struct Item {
        std::string name;
        std::vector<std::string> fields;
    };
    const std::vector<Item> items = {{"b", {"beta"}}, {"none", {}}, {"a", {"alpha"}}};
    auto fields = [](const Item& i) { return i.fields; };
    for (const char* q : {"", "   ", "\t \xC2\xA0"}) {
        const auto ranked = FuzzyMatch::rank(items, q, fields);
        ASSERT_EQ(ranked.size(), 3u) << "query '" << q << "'";
        EXPECT_EQ(ranked[1].name, "none");
    }
    // Any real query drops the item without fields.
    EXPECT_EQ(FuzzyMatch::rank(items, "a", fields).size(), 2u);
}

TEST(FuzzyMatchRank, BestFieldCountsAndTiesKeepInputOrder) {
    struct Skill {
        std::string slash, name, trigger;
    };
    const std::vector<Skill> skills = {
        {"/read-mail", "Read mail", "x"},
        {"/reply", "Reply", "x"},
        {"/zz", "zz", "rebuild everything"}, // only the trigger matches, with the prefix
        {"/qq", "qq", "qq"},
        {"/arena", "Arena", "re"}, // the mid-word field would score 4; the exact trigger wins
    };
    auto fields = [](const Skill& s) {
        return std::vector<std::string>{s.slash, s.name, s.trigger};
    };
    const auto ranked = FuzzyMatch::rank(skills, "re", fields);
    std::vector<std::string> names;
    for (const Skill& s : ranked) {
        names.push_back(s.name);
    }
    // Every survivor scores 24 (a run of 2 plus the prefix): input order decides.
    EXPECT_EQ(names, (std::vector<std::string>{"Read mail", "Reply", "zz", "Arena"}));

    const std::vector<std::string> mixed = {"xrec", "rec", "r e c", "zzzz"};
    EXPECT_EQ(rankSingle(mixed, "rec"), (std::vector<std::string>{"rec", "xrec", "r e c"}));
    EXPECT_TRUE(rankSingle(mixed, "toolongforanyfield").empty());
}
