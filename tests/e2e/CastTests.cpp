// Casting a skill from the palette: Control-/, part of its name, Return; the model service runs
// it through the connected tool server over several turns while the frames show the casting
// style.

#include "tests/support/e2e/EndToEndTest.h"

#include "KestroCore/Json.h"

#include <atomic>
#include <cstdio>

using namespace kestro::testing::e2e;
namespace json = kestro::json;

namespace {

constexpr const char* apiKey = "sk-e2e-cast";
constexpr const char* toolToken = "lin-e2e-token";

class Cast : public EndToEndTest {};

TEST_F(Cast, ThePaletteCastsASkillThroughTheToolServerOverThreeTurns) {
    setApiKey(apiKey);
    connectLinear(toolToken);
    storeSkill(weeklyReportSkill());
    // The first turn waits until the test has seen the casting frames; two pauses, then the end.
    std::atomic<int> served{0};
    model().setHandler([&](const httplib::Request&, httplib::Response& response) {
        const int turn = served++;
        if (turn == 0) {
            model().holdUntilReleased(std::chrono::seconds(60));
        }
        const char* texts[] = {"Opened the form. ", "Typed the week. ", "Filed."};
        response.set_content(
            ModelStandIn::textReply(texts[std::min(turn, 2)], turn < 2 ? "pause_turn" : "end_turn"),
            "application/json");
    });
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(waitFor([&] { return pill().has_value(); }, 20));
    ASSERT_TRUE(waitForHotkeys()) << "Kestro's hotkeys did not start";

    // Control-/: the palette with the keyboard, and no pill.
    const auto toPalette = openPaletteWithFocus();
    ASSERT_TRUE(toPalette) << "the palette did not take the keyboard";
    std::printf("[ figure ] Control-/ to the palette with focus: %.0f ms\n", *toPalette * 1000);
    RecordProperty("control_slash_to_palette_ms",
                   std::to_string(static_cast<int>(*toPalette * 1000)));
    EXPECT_TRUE(waitFor([&] { return !pill().has_value(); }, 5)) << "the pill stayed";
    x().type("weekly");
    settle(300);
    screenshot("cast-palette");
    x().tap("Return");

    // Casting: the frames in the casting style while the service works.
    ASSERT_TRUE(model().waitUntilHolding(std::chrono::seconds(30))) << "no cast request";
    EXPECT_TRUE(waitFor([&] { return framesDrawn(expectedFrames()); }, 10));
    EXPECT_TRUE(waitFor([&] { return !palette().has_value(); }, 5)) << "the palette stayed";
    EXPECT_TRUE(waitFor(
        [&] {
            const auto shown = frames();
            return !shown.empty() && std::all_of(shown.begin(), shown.end(),
                                                 [&](const auto& f) { return frameReach(f) > 21; });
        },
        10))
        << "the frames are not in the casting style";
    screenshot("cast-casting");
    model().release();

    const auto line = kestro.waitForLog("Kestro: ran ", 30);
    ASSERT_TRUE(line) << "no ran line";
    EXPECT_EQ(*line, "Kestro: ran \"File the weekly report\" via linear \u2192 Opened the form. "
                     "Typed the week. Filed.");
    EXPECT_TRUE(waitFor([&] { return frames().empty(); }, 10)) << "the frames stayed";
    EXPECT_TRUE(waitFor([&] { return pill().has_value(); }, 10)) << "the pill did not return";
    screenshot("cast-done");

    // Three requests with the tool server and its token, the first with the instruction.
    const auto received = model().received();
    ASSERT_EQ(received.size(), 3u);
    for (const auto& request : received) {
        EXPECT_EQ(request.path, "/v1/messages");
        EXPECT_EQ(request.header("anthropic-beta"), "mcp-client-2025-11-20");
        EXPECT_EQ(request.header("x-api-key"), apiKey);
        const json::Value body = json::Value::parse(request.body, nullptr, false);
        ASSERT_TRUE(body.is_object());
        EXPECT_EQ(body.value("model", ""), "claude-opus-4-8");
        EXPECT_EQ(body.value("max_tokens", 0), 8000);
        ASSERT_TRUE(body.contains("mcp_servers"));
        EXPECT_EQ(body["mcp_servers"], json::Value::parse(R"([{"type":"url",
            "url":"https://127.0.0.1:9/mcp","name":"linear","authorization_token":")" +
                                                          std::string(toolToken) + R"("}])"));
    }
    const json::Value first = json::Value::parse(received[0].body);
    ASSERT_EQ(first["messages"].size(), 1u);
    EXPECT_EQ(first["messages"][0]["role"], "user");
    EXPECT_EQ(first["messages"][0]["content"],
              "Complete this task using the available tools. Act directly; do not ask for "
              "confirmation.\n"
              "Task: File the weekly report.\n"
              "Files the report.\n"
              "Steps demonstrated:\n"
              "- Open the report form\n"
              "- Type the week\n"
              "Parameters:\n"
              "- week: 2026-06-06");
    // Each pause comes back as an assistant turn.
    EXPECT_EQ(json::Value::parse(received[2].body)["messages"].size(), 3u);
}

} // namespace
