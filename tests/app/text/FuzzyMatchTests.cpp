#include "Kestro/text/FuzzyMatch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
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

namespace {

// Pieces of text that folding, composition and character boundaries treat differently: case
// pairs, composed and decomposed letters, letters whose lower case is longer or depends on
// context, stacked marks in both orders, other scripts, emoji sequences, spaces the query trim
// removes, line breaks, and a byte that is not UTF-8.
const std::vector<std::string>& pieces() {
    static const std::vector<std::string> p = {
        "a",
        "b",
        "e",
        "r",
        "p",
        "o",
        "x",
        "R",
        "E",
        "P",
        "A",
        "1",
        "-",
        "/",
        " ",
        "\t",
        "\r\n",
        "\n",
        "\r",
        "\xC3\xA9",                             // é
        "e\xCC\x81",                            // e + combining acute
        "\xC3\x89",                             // É
        "E\xCC\x81",                            // E + combining acute
        "\xCC\x81",                             // a lone combining acute
        "\xC3\x9F",                             // ß
        "\xE1\xBA\x9E",                         // capital sharp s
        "\xC4\xB0",                             // İ
        "\xC4\xB1",                             // dotless ı
        "\xEF\xAC\x81",                         // the fi ligature
        "\xE2\x84\xAA",                         // Kelvin sign
        "\xCE\xA3",                             // Σ, lower case depends on what follows
        "\xCF\x83",                             // σ
        "\xCF\x82",                             // ς
        "\xCE\x90",                             // ΐ
        "\xD0\x96",                             // Ж
        "\xD1\x91",                             // ё
        "\xD0\xB5\xCC\x88",                     // е + combining diaeresis
        "a\xCC\xA3\xCC\x81",                    // a, dot below, acute
        "a\xCC\x81\xCC\xA3",                    // a, acute, dot below: the same once composed
        "\xE4\xBC\x9A",                         // 会
        "\xED\x95\x9C",                         // 한
        "\xE1\x84\x92\xE1\x85\xA1\xE1\x86\xAB", // 한 as three jamo
        "\xE0\xA4\x95\xE0\xA5\x8D\xE0\xA4\xB7", // क्ष
        "\xF0\x9F\x91\x8D",                     // thumbs up
        "\xF0\x9F\x8F\xBD",                     // a skin tone on its own
        "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7", // family
        "\xF0\x9F\x87\xAB\xF0\x9F\x87\xB7", // the French flag
        "\xE2\x9D\xA4\xEF\xB8\x8F",         // heart with its emoji form
        "\xC2\xA0",                         // no-break space
        "\xE3\x80\x80",                     // ideographic space
        "\xFF",                             // not UTF-8
    };
    return p;
}

struct Generated {
    std::vector<std::vector<std::string>> items; // each item's fields
    std::vector<std::string> queries;
};

Generated generate(unsigned seed) {
    std::mt19937 rng(seed);
    auto below = [&](std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    };
    const auto& p = pieces();
    auto pieceList = [&](std::size_t maxLength) {
        std::vector<std::size_t> list(below(maxLength + 1));
        for (auto& piece : list) {
            // Mostly plain letters, so that queries find something.
            piece = below(3) == 0 ? below(p.size()) : below(8);
        }
        return list;
    };
    auto join = [&](const std::vector<std::size_t>& list) {
        std::string s;
        for (std::size_t piece : list) {
            s += p[piece];
        }
        return s;
    };
    Generated g;
    std::vector<std::vector<std::size_t>> fieldPieces;
    for (int i = 0; i < 400; ++i) {
        std::vector<std::string> fields(below(5));
        for (auto& field : fields) {
            fieldPieces.push_back(pieceList(14));
            field = join(fieldPieces.back());
        }
        g.items.push_back(std::move(fields));
    }
    const std::string blanks[] = {"", " ", "\t", "\xC2\xA0", "\xE3\x80\x80 "};
    for (int i = 0; i < 300; ++i) {
        std::vector<std::size_t> list;
        if (i % 3 == 0) {
            list = pieceList(4);
        } else {
            // A subsequence of some field, so that most of these match somewhere.
            for (std::size_t piece : fieldPieces[below(fieldPieces.size())]) {
                if (below(3) != 0) {
                    list.push_back(piece);
                }
            }
            list.resize(std::min<std::size_t>(list.size(), 1 + below(10)));
        }
        g.queries.push_back(blanks[below(5)] + join(list) + blanks[below(5)]);
    }
    return g;
}

} // namespace

// Folding every field once must rank exactly as folding it on every query does.
TEST(FuzzyMatchPrepared, SameScoresAndOrderAsTheDirectPath) {
    for (unsigned seed : {1u, 2u, 3u}) {
        const Generated g = generate(seed);
        const auto fields = [&](std::size_t i) { return g.items[i]; };
        const FuzzyMatch::Prepared prepared(g.items.size(), fields);
        ASSERT_EQ(prepared.size(), g.items.size());
        std::size_t keptAnywhere = 0;
        for (const std::string& q : g.queries) {
            const auto expected = FuzzyMatch::rankIndices(g.items.size(), q, fields);
            ASSERT_EQ(prepared.rankIndices(q), expected)
                << "seed " << seed << " query '" << q << "'";
            const std::vector<std::size_t> firstEight(
                expected.begin(), expected.begin() + std::min<std::ptrdiff_t>(8, expected.size()));
            EXPECT_EQ(prepared.rankIndices(q, 8), firstEight) << "query '" << q << "'";
            const FuzzyMatch::Query query(q);
            for (std::size_t i = 0; i < g.items.size(); ++i) {
                std::optional<std::int64_t> best;
                for (const std::string& field : g.items[i]) {
                    const auto s = FuzzyMatch::score(query, field);
                    if (s && (!best || *s > *best)) {
                        best = s;
                    }
                }
                ASSERT_EQ(prepared.score(i, q), best)
                    << "seed " << seed << " query '" << q << "' item " << i;
            }
            keptAnywhere += query.empty() ? 0 : expected.size();
        }
        // The set must exercise matching, not only rejection.
        EXPECT_GT(keptAnywhere, g.queries.size());
    }
}

TEST(FuzzyMatchPrepared, TableCasesMatchTheDirectScores) {
    const std::vector<std::vector<std::string>> items = {
        {"Reconcile Invoices"},
        {"E\xCC\x81TE\xCC\x81 plans"},
        {"\xC4\xB0STANBUL", "istanbul"},
        {"\xE2\x84\xAA"},
        {"xa\r\nb", "a\r\nb"},
        {},
        {""},
    };
    const FuzzyMatch::Prepared prepared(items.size(), [&](std::size_t i) { return items[i]; });
    const struct {
        const char* query;
        std::size_t item;
        std::optional<std::int64_t> expected;
    } cases[] = {
        {"REC", 0, 28},
        {"\xC3\x89t\xC3\xA9", 1, 28},
        {"i", 2, 21}, // only the plain field: "İ" folds to i plus a dot
        {"\xC4\xB0s", 2, 24},
        {"\xC4\xB0", 1, std::nullopt}, // a character no field of the list holds
        {"k", 3, 21},
        {"a\r\nb", 4, 28},
        {"\n", 4, std::nullopt},
        {"a", 5, std::nullopt},
        {"a", 6, std::nullopt},
        {"", 6, 20}, // every field starts with the empty query
    };
    for (const auto& c : cases) {
        EXPECT_EQ(prepared.score(c.item, c.query), c.expected)
            << "query '" << c.query << "' item " << c.item;
    }
    EXPECT_EQ(prepared.rankIndices("   ").size(), items.size());
    EXPECT_EQ(prepared.rankIndices("", 3), (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_TRUE(FuzzyMatch::Prepared().rankIndices("a").empty());
}
