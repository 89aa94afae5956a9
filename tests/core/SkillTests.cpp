#include "KestroCore/Skill.h"
#include "KestroCore/SkillJson.h"
#include "KestroCore/SkillMarkdown.h"

#include <gtest/gtest.h>

#include <limits>

using namespace kestro;

namespace {
Skill named(const std::string& name) {
    Skill s;
    s.name = name;
    return s;
}
Date june6() {
    return Date(std::chrono::seconds(1780738200));
}
} // namespace

TEST(SkillModel, EnumerationsAreExact) {
    EXPECT_EQ(executionModeFromRawValue("replay"), ExecutionMode::replay);
    for (const char* bad : {"Agentic", " agentic", ""}) {
        EXPECT_FALSE(executionModeFromRawValue(bad)) << bad;
    }
    EXPECT_EQ(parameterTypeFromRawValue("filePath"), ParameterType::filePath);
    for (const char* bad : {"filepath", "search_term", "email"}) {
        EXPECT_FALSE(parameterTypeFromRawValue(bad)) << bad;
    }
    EXPECT_EQ(rawValue(allParameterTypes[4]), "searchTerm");
    EXPECT_EQ(allExecutionModes[0], ExecutionMode::agentic);
}

TEST(SkillModel, JsonMembers) {
    Parameter p{.name = "n", .type = ParameterType::text, .prompt = "p", .exampleValue = "e"};
    json::Value pv = toJson(p);
    EXPECT_EQ(pv.size(), 6u);
    EXPECT_TRUE(pv["usedInSteps"].is_array());

    PlanStep step{.index = 0, .intent = "i", .action = ActionType::click};
    json::Value sv = toJson(step);
    EXPECT_EQ(sv.size(), 5u);
    for (const char* key : {"id", "index", "intent", "action", "isDestructive"}) {
        EXPECT_TRUE(sv.contains(key)) << key;
    }

    Skill skill{.name = "n", .trigger = "t", .summary = "s", .createdAt = june6()};
    EXPECT_EQ(toJson(skill).size(), 9u);
    EXPECT_EQ(skill.mode, ExecutionMode::agentic);
    Skill again{.name = "n", .trigger = "t", .summary = "s", .createdAt = june6()};
    EXPECT_NE(skill.id, again.id);
    skill.sourceRecordingID = Uuid::random();
    Skill back = skillFromJson(toJson(skill));
    EXPECT_EQ(back.sourceRecordingID, skill.sourceRecordingID);
    EXPECT_EQ(back.createdAt, june6());
}

TEST(SkillModel, DecodingHasNoFallbacks) {
    PlanStep step{.index = 5, .intent = "i", .action = ActionType::scroll};
    const json::Value good = toJson(step);
    struct Case {
        const char* what;
        std::function<void(json::Value&)> change;
        bool ok;
    } cases[] = {
        {"unchanged", [](json::Value&) {}, true},
        {"null text", [](json::Value& v) { v["text"] = nullptr; }, true},
        {"no isDestructive", [](json::Value& v) { v.erase("isDestructive"); }, false},
        {"action Click", [](json::Value& v) { v["action"] = "Click"; }, false},
        {"fractional index", [](json::Value& v) { v["index"] = 1.5; }, false},
        {"keyCode 65536", [](json::Value& v) { v["keyCode"] = 65536; }, false},
        {"negative flags", [](json::Value& v) { v["modifierFlags"] = -1; }, false},
        {"lower-case id", [&](json::Value& v) { v["id"] = "6ba7b810-9dad-11d1-80b4-00c04fd430c8"; },
         true},
    };
    for (const auto& c : cases) {
        json::Value v = good;
        c.change(v);
        if (c.ok) {
            EXPECT_NO_THROW(planStepFromJson(v)) << c.what;
        } else {
            EXPECT_THROW(planStepFromJson(v), json::DecodingError) << c.what;
        }
    }
    json::Value param = toJson(Parameter{.name = "n", .prompt = "p", .exampleValue = "e"});
    param.erase("usedInSteps");
    EXPECT_THROW(parameterFromJson(param), json::DecodingError);
    param = toJson(Parameter{.name = "n", .prompt = "p", .exampleValue = "e"});
    param["type"] = "email";
    EXPECT_THROW(parameterFromJson(param), json::DecodingError);
    param["type"] = "date";
    param["usedInSteps"] = json::Value::array({0, 1.5});
    EXPECT_THROW(parameterFromJson(param), json::DecodingError);
}

TEST(SlashCommand, FromName) {
    struct Case {
        const char* name;
        const char* command;
    } cases[] = {
        {"Invoice & Pay 2x!", "/invoice-and-pay-2x"},
        {"File the weekly reefer LTL report", "/file-the-weekly-reefer-ltl-report"},
        {"R&D Weekly Report", "/randd-weekly-report"},
        {"Q3 Report: Send_to Team", "/q3-report-send-to-team"},
        {"File Expense Report (Q2)", "/file-expense-report-q2"},
        {"Mail/Calendar sync", "/mail-calendar-sync"},
        {"Build #42 + Deploy", "/build-42-deploy"},
        {"50% off", "/50-off"},
        {"Open URL \u2192 Copy", "/open-url-copy"},
        {"Caf\u00E9 Men\u00FC", "/caf\u00E9-men\u00FC"},
        {"\u00BD Price Sale", "/\u00BD-price-sale"},
        {"&", "/and"},
        {"", "/skill"},
        {" - -- ", "/skill"},
        {"!?*", "/skill"},
        {"Skill", "/skill"},
        {"/invoice-and-pay", "/invoice-and-pay"},
        {"Cafe\u0301 time", "/cafe\u0301-time"},
        {"Fix \u26A0\uFE0F alert", "/fix-\uFE0F-alert"},
        {"Chapter \u216B", "/chapter-\u217B"},
        {"PAY / BILLS", "/pay-bills"},
        {"pay-bills", "/pay-bills"},
        {"PayBills", "/paybills"},
        {"ISTANBUL", "/istanbul"},
        {"\u0416\u0443\u043A \uFF06 Co", "/\u0436\u0443\u043A-co"},
        {"tab\tnew\nline", "/tab-new-line"},
    };
    for (const auto& c : cases) {
        const std::string command = named(c.name).slashCommand();
        EXPECT_EQ(command, c.command) << c.name;
        EXPECT_EQ(named(command).slashCommand(), command) << "idempotent for " << c.name;
    }
}

TEST(SkillMarkdown, RendersTheWorkedExampleExactly) {
    Skill s{.name = "File the weekly reefer LTL report",
            .trigger = "file weekly reefer report",
            .summary = "Logs in, opens the LTL form, fills the week, submits.",
            .appScope = {"com.apple.Safari"},
            .createdAt = june6() + std::chrono::milliseconds(250)};
    s.parameters = {Parameter{.name = "week_ending",
                              .type = ParameterType::text,
                              .prompt = "Which week's report?",
                              .exampleValue = "2026-06-06"}};
    s.plan = {PlanStep{.index = 0, .intent = "Open the LTL form", .action = ActionType::click},
              PlanStep{.index = 1,
                       .intent = "Fill the week",
                       .action = ActionType::keystroke,
                       .precondition = ""},
              PlanStep{.index = 2,
                       .intent = "Click Submit",
                       .action = ActionType::click,
                       .precondition = "form is valid",
                       .isDestructive = true}};
    EXPECT_EQ(SkillMarkdown::render(s), "---\n"
                                        "name: File the weekly reefer LTL report\n"
                                        "trigger: file weekly reefer report\n"
                                        "mode: agentic\n"
                                        "created: 2026-06-06T09:30:00Z\n"
                                        "app_scope: [com.apple.Safari]\n"
                                        "parameters:\n"
                                        "  - name: week_ending\n"
                                        "    type: text\n"
                                        "    prompt: Which week's report?\n"
                                        "    example: 2026-06-06\n"
                                        "---\n"
                                        "\n"
                                        "# File the weekly reefer LTL report\n"
                                        "\n"
                                        "Logs in, opens the LTL form, fills the week, submits.\n"
                                        "\n"
                                        "## Steps\n"
                                        "\n"
                                        "1. Open the LTL form\n"
                                        "2. Fill the week _(precondition: )_\n"
                                        "3. Click Submit _(precondition: form is valid)_ "
                                        "\xE2\x9A\xA0\xEF\xB8\x8F\n");
    Skill empty{.name = "N", .trigger = "T", .summary = "", .createdAt = Date{}};
    EXPECT_EQ(SkillMarkdown::render(empty), "---\nname: N\ntrigger: T\nmode: agentic\n"
                                            "created: 1970-01-01T00:00:00Z\napp_scope: []\n---\n\n"
                                            "# N\n\n\n\n## Steps\n\n");
}

TEST(SkillMarkdown, StepNumbersComeFromTheStoredIndexWhateverItHolds) {
    // Any signed 64-bit index reads from "execution_plan.json"; the number shown is index + 1.
    Skill s{.name = "N", .trigger = "T", .summary = "S", .createdAt = Date{}};
    s.plan = {PlanStep{.index = 5, .intent = "a", .action = ActionType::click},
              PlanStep{.index = -1, .intent = "b", .action = ActionType::click},
              PlanStep{.index = std::numeric_limits<std::int64_t>::max(),
                       .intent = "c",
                       .action = ActionType::click},
              PlanStep{.index = std::numeric_limits<std::int64_t>::min(),
                       .intent = "d",
                       .action = ActionType::click}};
    const std::string text = SkillMarkdown::render(s);
    EXPECT_NE(text.find("## Steps\n\n6. a\n0. b\n9223372036854775808. c\n"
                        "-9223372036854775807. d\n"),
              std::string::npos)
        << text;
}

TEST(SkillMarkdown, Quoting) {
    struct Case {
        const char* value;
        const char* written;
    } cases[] = {
        {"plain", "plain"},
        {"", ""},
        {"a: b", "\"a: b\""},
        {"#tag", "\"#tag\""},
        {"x,y", "\"x,y\""},
        {"[x", "\"[x\""},
        {" lead", "\" lead\""},
        {"trail ", "trail "},
        {"x]", "x]"},
        {"say \"hi\"", "say \"hi\""},
        {"a:\"b\"", "\"a:\\\"b\\\"\""},
        {"back\\slash: tab\t", "\"back\\slash: tab\t\""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SkillMarkdown::yaml(c.value), c.written) << c.value;
    }
}

TEST(SkillMarkdown, RoundTripOfPlainFields) {
    Skill s{.name = "Send: the report",
            .trigger = "send report",
            .summary = "Sends it.",
            .mode = ExecutionMode::replay,
            .appScope = {"org.gnome.Evolution", "firefox"},
            .createdAt = june6() + std::chrono::milliseconds(900)};
    s.plan = {PlanStep{.index = 0, .intent = "x", .action = ActionType::click}};
    Skill back = SkillMarkdown::parse(SkillMarkdown::render(s));
    EXPECT_EQ(back.name, s.name);
    EXPECT_EQ(back.trigger, s.trigger);
    EXPECT_EQ(back.summary, s.summary);
    EXPECT_EQ(back.mode, ExecutionMode::replay);
    EXPECT_EQ(back.appScope, s.appScope);
    EXPECT_EQ(back.createdAt, june6());
    EXPECT_TRUE(back.plan.empty());
    EXPECT_TRUE(back.parameters.empty());
    EXPECT_FALSE(back.sourceRecordingID);
    EXPECT_NE(back.id, s.id);
}

TEST(SkillMarkdown, ParsingEdgeCases) {
    struct Case {
        const char* what;
        std::string text;
        std::string name, trigger, summary;
        ExecutionMode mode;
        std::vector<std::string> scope;
        long long created;
    } cases[] = {
        {"no front matter",
         "Just a line\nand more\n",
         "Untitled skill",
         "Untitled skill",
         "Just a line",
         ExecutionMode::agentic,
         {},
         0},
        {"empty", "", "Untitled skill", "Untitled skill", "", ExecutionMode::agentic, {}, 0},
        {"empty name and trigger",
         "---\nname: \ntrigger: \n---\n",
         "Untitled skill",
         "Untitled skill",
         "",
         ExecutionMode::agentic,
         {},
         0},
        {"quoted empty name", "---\nname: \"\"\n---\n", "", "", "", ExecutionMode::agentic, {}, 0},
        {"escaped quote stays",
         "---\nname: \"a: \\\"b\\\"\"\n---\n",
         "a: \\\"b\\\"",
         "a: \\\"b\\\"",
         "",
         ExecutionMode::agentic,
         {},
         0},
        {"quotes stripped",
         "---\nname: \"Hi\"\n---\n",
         "Hi",
         "Hi",
         "",
         ExecutionMode::agentic,
         {},
         0},
        {"leading space kept in quotes",
         "---\nname: \" x\"\n---\n",
         " x",
         " x",
         "",
         ExecutionMode::agentic,
         {},
         0},
        {"comma splits scope",
         "---\napp_scope: [\"a,b\", c]\n---\n",
         "Untitled skill",
         "Untitled skill",
         "",
         ExecutionMode::agentic,
         {"\"a", "b\"", "c"},
         0},
        {"mode case matters",
         "---\nmode: Replay\n---\n",
         "Untitled skill",
         "Untitled skill",
         "",
         ExecutionMode::agentic,
         {},
         0},
        {"indented lines skipped, indented close",
         "---\n  name: X\nname: Y\n   ---  \nbody\n",
         "Y",
         "Y",
         "body",
         ExecutionMode::agentic,
         {},
         0},
        {"CRLF never closes",
         "---\r\nname: X\r\n---\r\nSummary\r\n",
         "X\r",
         "X\r",
         "",
         ExecutionMode::agentic,
         {},
         0},
        {"four hyphens open", "----\nname: X\n---\n", "X", "X", "", ExecutionMode::agentic, {}, 0},
        {"later key wins",
         "---\nname: A\nname: B: c\n---\n",
         "B: c",
         "B: c",
         "",
         ExecutionMode::agentic,
         {},
         0},
        {"summary skips headings",
         "---\n---\n# T\n\n  \n#x\n  real one  \nnext",
         "Untitled skill",
         "Untitled skill",
         "real one",
         ExecutionMode::agentic,
         {},
         0},
        {"fractional date rejected",
         "---\ncreated: 2026-06-06T09:30:00.5Z\n---\n",
         "Untitled skill",
         "Untitled skill",
         "",
         ExecutionMode::agentic,
         {},
         0},
        {"date and scope",
         "---\ncreated: 2026-06-06T09:30:00Z\napp_scope: [ a , , b ]\n---\n",
         "Untitled skill",
         "Untitled skill",
         "",
         ExecutionMode::agentic,
         {"a", "b"},
         1780738200},
        {"no closing line", "---\nname: X\nmore", "X", "X", "", ExecutionMode::agentic, {}, 0},
    };
    for (const auto& c : cases) {
        Skill s = SkillMarkdown::parse(c.text);
        EXPECT_EQ(s.name, c.name) << c.what;
        EXPECT_EQ(s.trigger, c.trigger) << c.what;
        EXPECT_EQ(s.summary, c.summary) << c.what;
        EXPECT_EQ(s.mode, c.mode) << c.what;
        EXPECT_EQ(s.appScope, c.scope) << c.what;
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(s.createdAt.time_since_epoch())
                      .count(),
                  c.created)
            << c.what;
    }
}

TEST(SkillMarkdown, EmptySummaryReadsTheFirstStep) {
    Skill s{.name = "N", .trigger = "T", .summary = "", .createdAt = june6()};
    s.plan = {PlanStep{.index = 0, .intent = "Open", .action = ActionType::click}};
    EXPECT_EQ(SkillMarkdown::parse(SkillMarkdown::render(s)).summary, "1. Open");
    s.summary = "first\nsecond";
    EXPECT_EQ(SkillMarkdown::parse(SkillMarkdown::render(s)).summary, "first");
}

TEST(SkillMarkdown, LineBreaksInSingleLineFieldsCannotRewriteTheFrontMatter) {
    Skill s{.name = "Pay\n---\nmode: replay",
            .trigger = "pay\r\ncreated: 1999-01-01T00:00:00Z",
            .summary = "Pays.",
            .mode = ExecutionMode::agentic,
            .appScope = {"a\u2028name: evil", "b\u0085"},
            .createdAt = june6()};
    s.parameters = {Parameter{.name = "x\nmode: replay",
                              .type = ParameterType::text,
                              .prompt = "p\u2029app_scope: []",
                              .exampleValue = "e\rname: X"}};
    const std::string text = SkillMarkdown::render(s);
    Skill back = SkillMarkdown::parse(text);
    EXPECT_EQ(back.name, "Pay --- mode: replay");
    EXPECT_EQ(back.trigger, "pay  created: 1999-01-01T00:00:00Z");
    EXPECT_EQ(back.mode, ExecutionMode::agentic);
    EXPECT_EQ(back.createdAt, june6());
    EXPECT_EQ(back.appScope, (std::vector<std::string>{"a name: evil", "b"}));
    EXPECT_EQ(back.summary, "Pays.");
    EXPECT_NE(text.find("\n# Pay --- mode: replay\n"), std::string::npos);
}
