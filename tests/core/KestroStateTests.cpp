#include "KestroCore/KestroState.h"
#include "KestroCore/KestroStateJson.h"

#include <gtest/gtest.h>

#include <thread>

using namespace kestro;

namespace {

TEST(KestroStateTest, DerivedFlagsPerKind) {
    struct Case {
        KestroState state;
        bool showsOverlay;
        bool isCasting;
    };
    const Case cases[] = {
        {KestroState::idle(), false, false},
        {KestroState::recording(), true, false},
        {KestroState::synthesizing(), false, false},
        {KestroState::casting("Weekly report"), true, true},
        // A skill with an empty name still casts.
        {KestroState::casting(""), true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state.kind));
        EXPECT_EQ(c.state.showsOverlay(), c.showsOverlay);
        EXPECT_EQ(c.state.isCasting(), c.isCasting);
    }
}

TEST(KestroStateTest, EqualityComparesKindAndExactName) {
    EXPECT_EQ(KestroState::recording(), KestroState::recording());
    EXPECT_NE(KestroState::idle(), KestroState::synthesizing());
    EXPECT_EQ(KestroState::casting("Report"), KestroState::casting("Report"));
    EXPECT_NE(KestroState::casting("Report"), KestroState::casting("report"));
    EXPECT_NE(KestroState::casting(""), KestroState::idle());
}

RunContext context(std::map<std::string, std::string> parameters) {
    return RunContext(Skill{.name = "s"}, std::move(parameters));
}

TEST(RunContextTest, FillReplacesOnlyExactSlots) {
    struct Case {
        const char* name;
        std::map<std::string, std::string> parameters;
        std::string text;
        std::string expected;
    };
    const Case cases[] = {
        {"worked example", {{"week_ending", "2026-06-06"}}, "{{week_ending}}", "2026-06-06"},
        {"no braces", {{"a", "x"}}, "plain text", "plain text"},
        {"unknown slot stays", {{"a", "x"}}, "{{b}} and {{a}}", "{{b}} and x"},
        {"every occurrence", {{"a", "x"}}, "{{a}}-{{a}}{{a}}", "x-xx"},
        {"empty value removes the slot", {{"a", ""}}, "[{{a}}]", "[]"},
        {"spaces inside braces differ", {{"a", "x"}}, "{{ a }}", "{{ a }}"},
        {"case differs", {{"a", "x"}}, "{{A}}", "{{A}}"},
        {"empty map", {}, "{{a}}", "{{a}}"},
        // Values are inserted literally; within one name's pass they are not searched again.
        {"value holding its own slot", {{"a", "{{a}}{{a}}"}}, "{{a}}", "{{a}}{{a}}"},
        {"multi-byte text", {{"név", "Ж€"}}, "é {{név}} é", "é Ж€ é"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(context(c.parameters).fill(c.text), c.expected);
    }
}

TEST(RunContextTest, AbortIsOneWayAndRecordKeepsOrder) {
    auto ctx = context({});
    EXPECT_FALSE(ctx.aborted());
    EXPECT_TRUE(ctx.auditLog().empty());
    ctx.record({.intent = "first"});
    ctx.record({.intent = "second", .action = ActionType::keystroke});
    ctx.abort();
    ctx.abort();
    EXPECT_TRUE(ctx.aborted());
    const auto log = ctx.auditLog();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].intent, "first");
    EXPECT_EQ(log[1].intent, "second");
}

// Readers on another thread see the abort and copies of the log while writers append.
TEST(RunContextTest, AbortAndLogAreSafeAcrossThreads) {
    auto ctx = context({});
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            ctx.record({.intent = std::to_string(i)});
        }
        ctx.abort();
    });
    std::size_t seen = 0;
    while (!ctx.aborted()) {
        const auto copy = ctx.auditLog();
        EXPECT_GE(copy.size(), seen);
        seen = copy.size();
    }
    writer.join();
    const auto log = ctx.auditLog();
    ASSERT_EQ(log.size(), 2000u);
    EXPECT_EQ(log.back().intent, "1999");
}

TEST(AuditEntryTest, JsonRoundTripAndRequiredKeys) {
    const AuditEntry entry{.timestamp = Date(std::chrono::seconds(1749402240)),
                           .intent = "Click Submit",
                           .action = ActionType::doubleClick,
                           .detail = "at (100, -3)",
                           .agentic = false};
    const json::Value v = toJson(entry);
    EXPECT_EQ(v["action"], "doubleClick");
    EXPECT_EQ(v["timestamp"], "2025-06-08T17:04:00Z");
    EXPECT_EQ(auditEntryFromJson(v), entry);
    for (const char* key : {"timestamp", "intent", "action", "detail", "agentic"}) {
        SCOPED_TRACE(key);
        json::Value missing = v;
        missing.erase(key);
        EXPECT_THROW(auditEntryFromJson(missing), json::DecodingError);
    }
}

} // namespace
