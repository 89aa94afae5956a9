// Both roads of the application object over the real libcurl transport, against a model
// service played by a server on 127.0.0.1.

#include "Kestro/app/CastInstruction.h"
#include "tests/app/AppTestSupport.h"
#include "tests/net/LocalServer.h"

#include "KestroCore/SkillStore.h"
#include "platform/linux/CurlTransport.h"

#include <atomic>
#include <optional>
#include <thread>

using namespace kestro;
using namespace kestro::testing;
namespace fs = std::filesystem;

namespace {

class AppRoadsHttpTest : public AppFixture {
public:
    AppState& makeOnServer() {
        return make(std::make_shared<platform::linux_curl::CurlTransport>());
    }
    AppState& make(std::shared_ptr<platform::HttpTransport> transport,
                   std::optional<double> deadline = std::nullopt) {
        app_ = std::make_unique<AppState>(
            fakes_.services(),
            AppState::ModelService{std::move(transport), server_.url(), deadline}, surfaces_,
            settingsFile_);
        return *app_;
    }
    // A reply that sends a byte every half second, for a minute: never idle, never done.
    void trickle() {
        server_.setHandler([this](const httplib::Request&, httplib::Response& response) {
            response.set_chunked_content_provider(
                "application/json", [this](std::size_t, httplib::DataSink& sink) {
                    for (int i = 0; i < 120 && !stopTrickle_; ++i) {
                        std::this_thread::sleep_for(std::chrono::milliseconds(500));
                        if (!sink.write(" ", 1)) {
                            return false;
                        }
                    }
                    sink.done();
                    return true;
                });
        });
    }
    ~AppRoadsHttpTest() override { stopTrickle_ = true; }
    static Skill editorSkill() {
        return Skill{.name = "Weekly report",
                     .parameters = {Parameter{.name = "week", .exampleValue = "2026-06-06"}},
                     .appScope = {"org.example.Editor"}};
    }

    std::atomic<bool> stopTrickle_{false};
    LocalServer server_;
};

TEST_F(AppRoadsHttpTest, RecordingBecomesASkillFolder) {
    grantAll();
    setKey("sk-local");
    server_.reply(200, modelReply(draftText("Send the invoice")));
    AppState& app = makeOnServer();
    drain();
    app.toggleRecording();
    click(20, 20);
    app.toggleRecording();
    ASSERT_TRUE(
        runUntil([&] { return app.creationStatus().kind == SkillCreationStatus::Kind::success; }));
    ASSERT_EQ(app.skills().size(), 1u);
    const Skill& skill = app.skills().front();
    EXPECT_EQ(skill.name, "Send the invoice");
    const fs::path folder = Paths::skill(skill.id);
    for (const char* file : {"SKILL.md", "execution_plan.json", "recording.ref"}) {
        EXPECT_TRUE(fs::is_regular_file(folder / file)) << file;
    }
    ASSERT_TRUE(skill.sourceRecordingID);
    EXPECT_TRUE(fs::is_regular_file(Paths::recording(*skill.sourceRecordingID) / "recording.json"));

    const auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].path, "/v1/messages");
    EXPECT_EQ(received[0].header("x-api-key"), "sk-local");
    EXPECT_EQ(received[0].header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(json::parse(received[0].body)["model"], "claude-opus-4-8");
    EXPECT_EQ(log(), std::vector<std::string>{"Kestro: synthesized skill \"Send the invoice\" (2 "
                                              "steps, 1 parameters) \u2192 " +
                                              skill.id.uuidString()});
}

TEST_F(AppRoadsHttpTest, CastFollowsPauseTurns) {
    setKey("sk-local");
    connectEditorServer();
    server_.script({{200, modelReply("Opened the form. ", "pause_turn")},
                    {200, modelReply("Filled the week. ", "pause_turn")},
                    {200, modelReply("Submitted.")}});
    AppState& app = makeOnServer();
    app.cast(editorSkill());
    ASSERT_TRUE(runUntil([&] { return app.state() == KestroState::idle(); }));
    EXPECT_EQ(log(), std::vector<std::string>{"Kestro: ran \"Weekly report\" via editor \u2192 "
                                              "Opened the form. Filled the week. Submitted."});
    const auto received = server_.received();
    ASSERT_EQ(received.size(), 3u);
    EXPECT_EQ(received[0].header("anthropic-beta"), "mcp-client-2025-11-20");
    const auto first = json::parse(received[0].body);
    EXPECT_EQ(first["max_tokens"], 8000);
    EXPECT_EQ(first["messages"][0]["content"],
              mcpInstruction(editorSkill(), {{"week", "2026-06-06"}}));
    // Each further request carries the reply before it as an assistant turn.
    const auto third = json::parse(received[2].body);
    ASSERT_EQ(third["messages"].size(), 3u);
    EXPECT_EQ(third["messages"][1]["role"], "assistant");
    EXPECT_EQ(third["messages"][2]["role"], "assistant");
}

// Escape while the service holds its reply: idle at once, the aborted line as soon as the
// transfer notices, well before the reply would have come.
TEST_F(AppRoadsHttpTest, PanicDuringAStalledReply) {
    grantAll();
    setKey("sk-local");
    connectEditorServer();
    server_.setHandler([&](const httplib::Request&, httplib::Response& response) {
        server_.holdUntilReleased(std::chrono::seconds(30));
        response.set_content(modelReply("late"), "application/json");
    });
    AppState& app = makeOnServer();
    drain();
    app.cast(editorSkill());
    ASSERT_TRUE(server_.waitUntilHolding(std::chrono::seconds(20)));
    const auto pressed = std::chrono::steady_clock::now();
    EXPECT_TRUE(key(53));
    EXPECT_EQ(app.state(), KestroState::idle());
    ASSERT_TRUE(runUntil([&] { return !log().empty(); }, 10));
    EXPECT_LT(std::chrono::steady_clock::now() - pressed, std::chrono::seconds(3));
    EXPECT_EQ(log(), std::vector<std::string>{"Kestro: run \"Weekly report\" aborted"});
    server_.release();
}

TEST_F(AppRoadsHttpTest, QuittingDuringAStalledReplyEndsWithinASecond) {
    setKey("sk-local");
    connectEditorServer();
    server_.setHandler([&](const httplib::Request&, httplib::Response& response) {
        server_.holdUntilReleased(std::chrono::seconds(30));
        response.set_content(modelReply("late"), "application/json");
    });
    AppState& app = makeOnServer();
    app.cast(editorSkill());
    ASSERT_TRUE(server_.waitUntilHolding(std::chrono::seconds(20)));
    const auto started = std::chrono::steady_clock::now();
    app_.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
    server_.release();
}

TEST_F(AppRoadsHttpTest, ATricklingReplyEndsByTheDeadlineOnBothRoads) {
    grantAll();
    setKey("sk-local");
    connectEditorServer();
    trickle();
    AppState& app = make(std::make_shared<platform::linux_curl::CurlTransport>(), 2.0);
    drain();

    auto started = std::chrono::steady_clock::now();
    app.toggleRecording();
    click(20, 20);
    app.toggleRecording();
    ASSERT_TRUE(runUntil(
        [&] { return app.creationStatus().kind == SkillCreationStatus::Kind::failure; }, 20));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(app.state(), KestroState::idle());
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0].rfind("Kestro: synthesis failed for recording ", 0), 0u) << log()[0];
    EXPECT_NE(log()[0].find("Timeout"), std::string::npos) << log()[0];

    started = std::chrono::steady_clock::now();
    app.cast(editorSkill());
    ASSERT_TRUE(runUntil([&] { return app.state() == KestroState::idle(); }, 20));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    ASSERT_EQ(log().size(), 2u);
    EXPECT_EQ(log()[1].rfind("Kestro: run \"Weekly report\" failed: ", 0), 0u) << log()[1];
}

} // namespace
