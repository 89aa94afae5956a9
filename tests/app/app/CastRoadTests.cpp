#include "Kestro/app/CastInstruction.h"
#include "Kestro/text/LogText.h"
#include "tests/app/AppTestSupport.h"

using namespace kestro;
using namespace kestro::testing;
using Kind = KestroState::Kind;

namespace {

class CastRoadTest : public AppFixture {
public:
    static Skill editorSkill(std::string name = "Weekly report") {
        return Skill{.name = std::move(name),
                     .summary = "Files it.",
                     .parameters = {Parameter{.name = "week", .exampleValue = "2026-06-06"}},
                     .appScope = {"org.example.Editor"}};
    }
    void answerCast(const std::string& text, const std::string& stop = "end_turn") {
        castTransport_->answer({.status = 200, .body = modelReply(text, stop)});
    }
};

// When a cast starts, what it logs when it cannot, and that other states ignore it.
TEST_F(CastRoadTest, Gating) {
    struct Case {
        const char* what;
        bool key;
        bool server;
        const char* stateBefore; // "idle", "recording", "casting"
        bool starts;
        bool cannotRunLine;
    };
    const Case cases[] = {
        {"key and server", true, true, "idle", true, false},
        {"no key", false, true, "idle", false, true},
        {"no server", true, false, "idle", false, true},
        {"neither", false, false, "idle", false, true},
        {"while recording", true, true, "recording", false, false},
        {"while casting", true, true, "casting", false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        grantAll();
        if (c.key) {
            setKey();
        } else {
            ::unsetenv("ANTHROPIC_API_KEY");
        }
        if (c.server) {
            connectEditorServer();
        } else {
            std::filesystem::remove(Paths::support() / "mcp_servers.json");
        }
        AppState& app = make();
        drain();
        const std::string before = c.stateBefore;
        if (before == "recording") {
            app.toggleRecording();
        } else if (before == "casting") {
            app.cast(editorSkill("Other"));
        }
        const KestroState stateBefore = app.state();
        surfaces_.clear();
        clearLog();
        app.cast(editorSkill());
        if (c.starts) {
            EXPECT_EQ(app.state(), KestroState::casting("Weekly report"));
            EXPECT_EQ(surfaces_.calls, std::vector<std::string>{"overlay casting"});
            ASSERT_TRUE(castTransport_->awaitRequests(1));
            const auto request = castTransport_->requests().back();
            EXPECT_EQ(request.url, "https://model.example/v1/messages");
            const auto body = json::parse(request.body);
            EXPECT_EQ(body["model"], "claude-opus-4-8");
            EXPECT_EQ(body["max_tokens"], 8000);
            EXPECT_EQ(body["mcp_servers"][0]["name"], "editor");
        } else {
            EXPECT_EQ(app.state(), stateBefore);
            EXPECT_TRUE(surfaces_.calls.empty());
        }
        if (c.cannotRunLine) {
            EXPECT_EQ(log(), std::vector<std::string>{
                                 "Kestro: can't run \"Weekly report\" \u2014 no connected tool for "
                                 "[\"org.example.Editor\"]. Connect the app's MCP server to run "
                                 "this skill."});
        } else {
            EXPECT_TRUE(log().empty());
        }
        if (app.state().isCasting()) {
            app.panic();
        }
        app_.reset();
        castTransport_ = std::make_shared<GateTransport>();
    }
}

TEST_F(CastRoadTest, SkillWithoutApplicationsAsksWithAnEmptyList) {
    setKey();
    connectEditorServer();
    AppState& app = make();
    app.cast(Skill{.name = "Nothing"});
    EXPECT_EQ(app.state(), KestroState::idle());
    EXPECT_EQ(log(), std::vector<std::string>{"Kestro: can't run \"Nothing\" \u2014 no connected "
                                              "tool for []. Connect the app's MCP server to run "
                                              "this skill."});
}

TEST_F(CastRoadTest, InstructionText) {
    const Skill full{.name = "File the report",
                     .summary = "Logs in, fills the week, submits.",
                     .parameters = {Parameter{.name = "week", .exampleValue = "2026-06-06"},
                                    Parameter{.name = "amount", .exampleValue = "12"}},
                     .plan = {PlanStep{.index = 2, .intent = "Click Submit"},
                              PlanStep{.index = 0, .intent = "Open the form"},
                              PlanStep{.index = 1, .intent = "Type the week"}}};
    const auto values = filledParameters(full, {{"amount", ""}, {"extra", "x"}});
    EXPECT_EQ(mcpInstruction(full, values),
              "Complete this task using the available tools. Act directly; do not ask for "
              "confirmation.\n"
              "Task: File the report.\n"
              "Logs in, fills the week, submits.\n"
              "Steps demonstrated:\n"
              "- Open the form\n"
              "- Type the week\n"
              "- Click Submit\n"
              "Parameters:\n"
              "- week: 2026-06-06\n"
              "- amount: 12\n"
              "- extra: x");
    // Nothing optional: no summary, plan or parameters.
    EXPECT_EQ(mcpInstruction(Skill{.name = "Bare"}, {}),
              "Complete this task using the available tools. Act directly; do not ask for "
              "confirmation.\nTask: Bare.");
}

TEST_F(CastRoadTest, FillKeepsGivenValuesAndUsesExamplesForMissingOrEmpty) {
    const Skill skill{.parameters = {Parameter{.name = "a", .exampleValue = "A"},
                                     Parameter{.name = "b", .exampleValue = "B"},
                                     Parameter{.name = "c", .exampleValue = ""}}};
    struct Case {
        const char* what;
        std::map<std::string, std::string> given;
        std::map<std::string, std::string> expected;
    };
    const Case cases[] = {
        {"none given", {}, {{"a", "A"}, {"b", "B"}, {"c", ""}}},
        {"given kept", {{"a", "x"}}, {{"a", "x"}, {"b", "B"}, {"c", ""}}},
        {"empty replaced", {{"b", ""}}, {{"a", "A"}, {"b", "B"}, {"c", ""}}},
        {"unknown kept", {{"z", "1"}}, {{"a", "A"}, {"b", "B"}, {"c", ""}, {"z", "1"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(filledParameters(skill, c.given), c.expected);
    }
}

TEST_F(CastRoadTest, BundleIdentifiersAndTheirText) {
    const Skill skill{.plan = {PlanStep{.target = AXTarget{.appBundleID = std::string("b")}},
                               PlanStep{.target = AXTarget{}},
                               PlanStep{.target = AXTarget{.appBundleID = std::string("a")}}},
                      .appScope = {"a", "c"}};
    EXPECT_EQ(bundleIDs(skill), (std::vector<std::string>{"a", "c", "b"}));

    struct Case {
        std::vector<std::string> ids;
        std::string text;
    };
    const Case cases[] = {
        {{}, "[]"},
        {{"com.linear"}, "[\"com.linear\"]"},
        {{"a", "b"}, "[\"a\", \"b\"]"},
        {{"q\"uote", "back\\slash"}, "[\"q\\\"uote\", \"back\\\\slash\"]"},
        {{"line\nbreak\t"}, "[\"line\\nbreak\\t\"]"},
        {{"é"}, "[\"é\"]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(bundleArrayText(c.ids), c.text);
    }
}

TEST_F(CastRoadTest, ResultIsCutAfter200UserPerceivedCharacters) {
    // After `lead`, which is not written "x" + text: GCC 12 at -O3 takes that for an
    // overlapping copy.
    auto repeat = [](const std::string& unit, int n, const char* lead = "") {
        std::string s = lead;
        for (int i = 0; i < n; ++i) {
            s += unit;
        }
        return s;
    };
    struct Case {
        const char* what;
        std::string text;
        std::string expected;
    };
    const std::string combining = "e\u0301";                 // one character, two code points
    const std::string flag = "\U0001F1EB\U0001F1F7";         // one character, two scalars
    const std::string family = "\U0001F469\u200D\U0001F467"; // joined emoji
    const Case cases[] = {
        {"short", "done", "done"},
        {"exactly 200", repeat("a", 200), repeat("a", 200)},
        {"ascii", repeat("a", 250), repeat("a", 200)},
        {"combining marks", repeat(combining, 201), repeat(combining, 200)},
        {"flags", repeat(flag, 300), repeat(flag, 200)},
        {"joined emoji", repeat(family, 210, "x"), repeat(family, 199, "x")},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(leadingCharacters(c.text, 200), c.expected);
    }
}

TEST_F(CastRoadTest, RanLineNamesTheServersAndCutsTheResult) {
    setKey();
    writeServers(
        R"([{"name":"editor","url":"https://a.example/mcp","bundleIDs":["org.example.Editor"],
        "authToken":"t"},{"name":"docs","url":"https://b.example/mcp","bundleIDs":["org.example.Docs"],
        "authToken":"u"},{"name":"idle","url":"https://c.example/mcp","bundleIDs":["org.example.Docs"]}])");
    AppState& app = make();
    Skill skill = editorSkill();
    skill.appScope.push_back("org.example.Docs");
    app.cast(skill);
    answerCast(std::string(300, 'r'));
    ASSERT_TRUE(runUntil([&] { return app.state() == KestroState::idle(); }));
    EXPECT_EQ(log(),
              std::vector<std::string>{"Kestro: ran \"Weekly report\" via editor, docs \u2192 " +
                                       std::string(200, 'r')});
    EXPECT_EQ(surfaces_.calls.back(), "overlay hidden");
}

TEST_F(CastRoadTest, FailureIsLoggedAndStateReturnsToIdle) {
    setKey();
    connectEditorServer();
    AppState& app = make();
    app.cast(editorSkill());
    castTransport_->answer({.status = 500, .body = "boom"});
    ASSERT_TRUE(runUntil([&] { return app.state() == KestroState::idle(); }));
    EXPECT_EQ(log(), std::vector<std::string>{
                         "Kestro: run \"Weekly report\" failed: Anthropic API HTTP 500: boom"});
}

// Escape ends the cast at once; the cancelled task, ending later, logs but leaves a newer cast
// alone.
TEST_F(CastRoadTest, PanicAndTheLateEndOfTheAbortedCast) {
    grantAll();
    setKey();
    connectEditorServer();
    AppState& app = make();
    drain();
    app.cast(editorSkill("First"));
    ASSERT_TRUE(castTransport_->awaitRequests(1));
    surfaces_.clear();
    app.panic();
    EXPECT_EQ(app.state(), KestroState::idle());
    EXPECT_EQ(surfaces_.calls, std::vector<std::string>{"overlay hidden"});
    EXPECT_TRUE(log().empty());

    // The first task has ended on its worker; its end has not reached the main thread yet.
    app.cast(editorSkill("Second"));
    ASSERT_EQ(app.state(), KestroState::casting("Second"));
    ASSERT_TRUE(castTransport_->awaitRequests(2));
    ASSERT_TRUE(runUntil([&] { return !log().empty(); }));
    EXPECT_EQ(log(), std::vector<std::string>{"Kestro: run \"First\" aborted"});
    EXPECT_EQ(app.state(), KestroState::casting("Second"));

    // The newer cast can still be aborted by Escape, and ends normally.
    EXPECT_TRUE(key(53));
    EXPECT_EQ(app.state(), KestroState::idle());
    ASSERT_TRUE(runUntil([&] { return log().size() == 2; }));
    EXPECT_EQ(log().back(), "Kestro: run \"Second\" aborted");

    // A recording started after a panic is not ended by the aborted cast's late end, nor by a
    // second Escape that was still queued.
    app.cast(editorSkill("Third"));
    ASSERT_TRUE(castTransport_->awaitRequests(3));
    app.panic();
    app.toggleRecording();
    ASSERT_EQ(app.state(), KestroState::recording());
    app.panic();
    ASSERT_TRUE(runUntil([&] { return log().size() == 3; }));
    EXPECT_EQ(app.state(), KestroState::recording());
}

TEST_F(CastRoadTest, PauseTurnRepliesAreFollowed) {
    setKey();
    connectEditorServer();
    AppState& app = make();
    app.cast(editorSkill());
    answerCast("one ", "pause_turn");
    answerCast("two ", "pause_turn");
    answerCast("three");
    ASSERT_TRUE(runUntil([&] { return app.state() == KestroState::idle(); }));
    EXPECT_EQ(castTransport_->requests().size(), 3u);
    EXPECT_EQ(log(), std::vector<std::string>{"Kestro: ran \"Weekly report\" via editor \u2192 one "
                                              "two three"});
}

TEST_F(CastRoadTest, QuittingDuringAStalledRequestEndsTheWorkAtOnce) {
    setKey();
    connectEditorServer();
    AppState& app = make();
    app.cast(editorSkill());
    ASSERT_TRUE(castTransport_->awaitRequests(1));
    const auto started = std::chrono::steady_clock::now();
    app.shutdown();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
}

} // namespace
