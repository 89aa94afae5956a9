#include "KestroBase/Image.h"
#include "KestroBase/Text.h"
#include "KestroCore/RecordingStore.h"
#include "KestroCore/Synthesizer.h"
#include "platform/fake/FakeHttpTransport.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

using namespace kestro;
using kestro::platform::fake::FakeHttpTransport;
using kestro::platform::fake::SharedTransportScope;
using kestro::testing::DataFolderTest;
using namespace std::chrono;

namespace {

const std::string jobParagraph =
    R"TEXT(Convert this into a reusable, parameterized skill. Identify which typed values are user-/task-specific (dates, names, file paths, search terms, amounts) and templatize them as {{snake_case}} slots with a `parameters` entry each. Write a clear one-line `intent` for every step, set a natural `precondition` where the runner should verify state first, and flag any destructive step (submit, send, delete, overwrite, purchase) as `is_destructive`. Secure fields are already redacted — never invent their contents. Choose `mode`: "agentic" (default; robust to UI change) or "replay" (only for a simple, stable, internal-tool task).)TEXT";

const std::string systemPromptText =
    R"TEXT(You are Kestro's skill synthesizer. You convert a recording of a user performing a task on a Linux desktop — an ordered interaction trace plus key-frame screenshots — into a reusable, parameterized automation skill, in the spirit of an Anthropic SKILL.md.

Produce a skill that another instance of you (or a deterministic replayer) could run again on a different day with different inputs. Specifically:
- Give the skill a short imperative `name` and a natural `trigger` phrase a   user would type to invoke it.
- Write a one-sentence `summary` of what the task accomplishes.
- Detect every value that was specific to THIS run — dates, names, file paths,   search terms, amounts, IDs — and templatize it as a {{snake_case}} slot in   the relevant step's `text`, with a matching `parameters` entry (its `type`,   a human `prompt`, the `example_value` observed, and the `used_in_steps`   indices). Do not parameterize fixed UI navigation.
- For each step write a clear `intent` ("Click the LTL Reports tab"), keep the   observed `action`, set a `precondition` when the runner should verify state   first (else null), and set `is_destructive` true for submit/send/delete/  overwrite/purchase actions.
- Secure fields are already redacted in the trace and blacked out in frames —   never guess their contents; leave such steps' `text` null.
- Choose `mode`: "agentic" by default (a Computer Use loop, robust to UI   change); "replay" only for a short, stable, internal-tool task.
- List the bundle IDs touched in `app_scope`.
Index steps from 0 in order. Return only the structured object.)TEXT";

std::string base64Decode(const std::string& text) {
    static const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned buffer = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=') {
            break;
        }
        const auto v = alphabet.find(c);
        if (v == std::string::npos) {
            ADD_FAILURE() << "not base64: " << c;
            return {};
        }
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

Image solid(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    Image image(width, height);
    for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
        image.rgba[i] = r;
        image.rgba[i + 1] = g;
        image.rgba[i + 2] = b;
        image.rgba[i + 3] = 255;
    }
    return image;
}

std::string relativeFramePath(std::size_t n) {
    char name[32];
    std::snprintf(name, sizeof name, "frames/%06zu.png", n);
    return name;
}

class SynthesizerTest : public DataFolderTest {
protected:
    SynthesizerTest() { recording_.startedAt = Date(seconds(1780738200)); }

    // Adds a frame reserved at `offset` seconds, with its PNG written when `image` is given.
    void addFrame(double offset, const std::optional<Image>& image) {
        FrameRef frame;
        frame.timeOffset = offset;
        frame.relativePath = relativeFramePath(recording_.frames.size() + 1);
        if (image) {
            store_.prepareFramesDirectory(recording_.id);
            ImageCodec::writePNG(*image, store_.frameURL(recording_.id, frame.relativePath));
        }
        recording_.frames.push_back(frame);
    }

    void answer(const json::Value& draft) { answerText(json::writeCompact(draft)); }
    void answerText(const std::string& text) {
        ++answers_;
        json::Value reply = {{"content", {{{"type", "text"}, {"text", text}}}},
                             {"stop_reason", "end_turn"}};
        transport_->reply(200, json::writeCompact(reply));
    }

    // Answers with a minimal draft unless the test queued its own answer.
    Skill synthesize(const std::string& model = "claude-opus-4-8") {
        if (transport_->requests().size() >= answers_) {
            answer(minimalDraft());
        }
        return Synthesizer().synthesize(recording_, "sk-key", model);
    }

    json::Value lastBody() const { return json::parse(transport_->requests().back().body); }
    json::Value sentContent() const { return lastBody()["messages"][0]["content"]; }
    std::string sentTrace() const { return sentContent()[0]["text"].get<std::string>(); }

    // The captions of the frames that were attached, checking that each is followed by its
    // JPEG image.
    std::vector<std::string> sentCaptions() const {
        const json::Value content = sentContent();
        std::vector<std::string> captions;
        EXPECT_EQ(content.size() % 2, 1u);
        for (std::size_t i = 1; i + 1 < content.size(); i += 2) {
            captions.push_back(content[i]["text"].get<std::string>());
            EXPECT_EQ(content[i + 1]["type"], "image");
            EXPECT_EQ(content[i + 1]["source"]["type"], "base64");
            EXPECT_EQ(content[i + 1]["source"]["media_type"], "image/jpeg");
        }
        return captions;
    }

    std::vector<Image> sentImages() const {
        std::vector<Image> images;
        for (const json::Value& block : sentContent()) {
            if (block["type"] == "image") {
                auto jpeg = ImageCodec::decodeJPEG(base64Decode(block["source"]["data"]));
                EXPECT_TRUE(jpeg) << "an attached image is not a JPEG";
                if (jpeg) {
                    images.push_back(*jpeg);
                }
            }
        }
        return images;
    }

    static json::Value minimalDraft() {
        return json::parse(R"({"name":"n","trigger":"t","summary":"s","mode":"agentic",
                                "app_scope":[],"parameters":[],"plan":[]})");
    }

    Recording recording_;
    RecordingStore store_;
    std::shared_ptr<FakeHttpTransport> transport_ = std::make_shared<FakeHttpTransport>();
    SharedTransportScope scope_{transport_};
    std::size_t answers_ = 0;
};

AXTarget target(std::optional<std::string> title, std::optional<std::string> app,
                bool secure = false) {
    return AXTarget{.appName = std::move(app), .axTitle = std::move(title), .isSecure = secure};
}

} // namespace

TEST_F(SynthesizerTest, TraceText) {
    recording_.endedAt = recording_.startedAt + milliseconds(42500);
    recording_.appContexts = {
        {.bundleID = "com.apple.mail", .appName = "Mail", .windowTitle = "Inbox"},
        {.bundleID = "com.example.tool"},
        {},
        {.appName = "Notes", .windowTitle = "Todo"},
        {.bundleID = "com.apple.mail", .appName = "Mail"},
    };
    recording_.events = {
        {.type = ActionType::click, .location = Point{10, 20}, .target = target("Send", "Mail")},
        {.type = ActionType::rightClick},
        {.type = ActionType::doubleClick, .target = AXTarget{.axRole = "AXCell"}},
        {.type = ActionType::drag, .target = AXTarget{.appName = "Finder", .axValue = "v"}},
        {.type = ActionType::keystroke,
         .target = target("Password", "Safari", true),
         .typedText = "hunter2"},
        {.type = ActionType::keystroke,
         .target = target("Search", std::nullopt),
         .typedText = "say \"hi\""},
        {.type = ActionType::keystroke, .keyCode = 36, .modifierFlags = 0x100},
        {.type = ActionType::keystroke, .target = AXTarget{}},
        {.type = ActionType::scroll, .scrollDelta = Size{0, -3}, .target = AXTarget{}},
        {.type = ActionType::appSwitch, .target = AXTarget{.appName = "Notes"}},
        {.type = ActionType::windowFocus},
        {.type = ActionType::wait, .target = target("Send", "Mail")},
    };
    for (int i = 0; i < 9; ++i) {
        addFrame(i, std::nullopt); // no files: none is attached, all are counted
    }
    synthesize();

    const std::string expected = R"TEXT(# Recorded task
Duration: 42.5s · 12 interactions · 9 key frames.

## Apps involved (in order of first use)
- Mail (com.apple.mail) — window: "Inbox"
- com.example.tool (com.example.tool)
- unknown
- Notes — window: "Todo"
- Mail (com.apple.mail)

## Interaction trace
1. Click on Send in Mail
2. Right-click
3. Double-click on AXCell
4. Drag on v in Finder
5. Type into a secure field on Password in Safari [redacted]
6. Type "say "hi"" on Search
7. Press key 36
8. Keystroke on element
9. Scroll on element
10. Switch app on element in Notes
11. Focus window
12. Wait

## Your job
)TEXT" + jobParagraph;
    EXPECT_EQ(sentTrace(), expected);
    EXPECT_EQ(sentContent().size(), 1u);
}

TEST_F(SynthesizerTest, TraceTextWithoutEventsOrApps) {
    recording_.endedAt = recording_.startedAt - milliseconds(1500);
    addFrame(0, std::nullopt);
    synthesize();
    EXPECT_EQ(sentTrace(), "# Recorded task\nDuration: -1.5s · 0 interactions · 1 key frames.\n\n"
                           "## Interaction trace\n\n## Your job\n" +
                               jobParagraph);

    recording_.endedAt.reset(); // unfinished: zero
    recording_.frames.clear();
    synthesize();
    EXPECT_TRUE(sentTrace().starts_with(
        "# Recorded task\nDuration: 0.0s · 0 interactions · 0 key frames.\n\n## Interaction"))
        << sentTrace();
}

TEST_F(SynthesizerTest, JobParagraphIsExact) {
    const std::string section = "\n## Your job\n" + jobParagraph;
    EXPECT_EQ(section.size(), 642u);
    synthesize();
    const std::string trace = sentTrace();
    ASSERT_GE(trace.size(), section.size());
    EXPECT_EQ(trace.substr(trace.size() - section.size()), section);
}

TEST_F(SynthesizerTest, DurationAndCaptionsRoundToOneDecimal) {
    recording_.endedAt = recording_.startedAt + milliseconds(12340);
    addFrame(12.34, solid(4, 4, 0, 0, 0));
    addFrame(0.05, solid(4, 4, 0, 0, 0));
    synthesize();
    EXPECT_NE(sentTrace().find("Duration: 12.3s · "), std::string::npos);
    EXPECT_EQ(sentCaptions(), (std::vector<std::string>{"Frame at 12.3s:", "Frame at 0.1s:"}));
}

TEST_F(SynthesizerTest, FramesAreSampledEvenly) {
    struct Case {
        std::size_t frames;
        std::vector<int> chosen;
    };
    const std::vector<Case> cases = {
        {1, {0}},
        {12, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {13, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
        {24, {0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22}},
        {30, {0, 2, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27}},
        {100, {0, 8, 16, 25, 33, 41, 50, 58, 66, 75, 83, 91}},
    };
    for (const Case& c : cases) {
        recording_.frames.clear();
        for (std::size_t i = 0; i < c.frames; ++i) {
            addFrame(static_cast<double>(i), solid(6, 4, 10, 20, 30));
        }
        synthesize();
        std::vector<std::string> expected;
        for (int i : c.chosen) {
            expected.push_back("Frame at " + std::to_string(i) + ".0s:");
        }
        EXPECT_EQ(sentCaptions(), expected) << c.frames << " frames";
    }
}

TEST_F(SynthesizerTest, FramesThatCannotBeReadAreLeftOutWithTheirCaption) {
    addFrame(1, solid(4, 4, 0, 0, 0));
    addFrame(2, std::nullopt); // never written
    addFrame(3, solid(4, 4, 0, 0, 0));
    addFrame(4, solid(4, 4, 0, 0, 0));
    std::filesystem::remove(store_.frameURL(recording_.id, recording_.frames[2].relativePath));
    kestro::testing::writeFile(store_.frameURL(recording_.id, recording_.frames[3].relativePath),
                               "\x89PNG\r\n\x1a\n damaged");
    synthesize();
    EXPECT_EQ(sentCaptions(), std::vector<std::string>{"Frame at 1.0s:"});
    EXPECT_EQ(sentImages().size(), 1u);

    std::filesystem::remove(store_.frameURL(recording_.id, recording_.frames[0].relativePath));
    synthesize();
    EXPECT_EQ(sentContent().size(), 1u); // the trace alone
}

TEST_F(SynthesizerTest, StoredFramePathsOutsideTheRecordingAreNeverRead) {
    // A PNG of another recording, which a doctored document points at.
    Recording other;
    store_.prepareFramesDirectory(other.id);
    ImageCodec::writePNG(solid(4, 4, 0, 0, 0), store_.frameURL(other.id, "frames/000001.png"));
    addFrame(1, solid(4, 4, 0, 0, 0));
    for (const std::string& outside :
         {"../" + other.id.uuidString() + "/frames/000001.png",
          (store_.folder(other.id) / "frames" / "000001.png").string()}) {
        recording_.frames.push_back(FrameRef{.timeOffset = 2, .relativePath = outside});
    }
    synthesize();
    EXPECT_EQ(sentCaptions(), std::vector<std::string>{"Frame at 1.0s:"});
}

TEST_F(SynthesizerTest, FramesAreScaledToTheLongEdgeAndSentAsJpeg) {
    struct Case {
        int width, height, sentWidth, sentHeight;
    };
    const std::vector<Case> cases = {
        {2577, 100, 2576, 99},    {100, 2577, 99, 2576},    {2576, 2576, 2576, 2576},
        {3000, 2000, 2576, 1717}, {5152, 2898, 2576, 1449}, {640, 480, 640, 480},
    };
    for (const Case& c : cases) {
        recording_.frames.clear();
        addFrame(0, solid(c.width, c.height, 200, 100, 50));
        synthesize();
        const auto images = sentImages();
        ASSERT_EQ(images.size(), 1u);
        EXPECT_EQ(images[0].width, c.sentWidth) << c.width << "x" << c.height;
        EXPECT_EQ(images[0].height, c.sentHeight) << c.width << "x" << c.height;
        const std::uint8_t* p = images[0].pixel(images[0].width / 2, images[0].height / 2);
        EXPECT_NEAR(p[0], 200, 6);
        EXPECT_NEAR(p[1], 100, 6);
        EXPECT_NEAR(p[2], 50, 6);
    }
}

TEST_F(SynthesizerTest, RequestCarriesPromptSchemaAndModel) {
    synthesize("claude-sonnet-4-6");
    const auto request = transport_->requests().back();
    EXPECT_EQ(request.url, "https://api.anthropic.com/v1/messages");
    const json::Value body = lastBody();
    EXPECT_EQ(body["model"], "claude-sonnet-4-6");
    EXPECT_EQ(body["max_tokens"], 16000);
    EXPECT_EQ(body["system"], systemPromptText);
    EXPECT_EQ(body["output_config"]["format"]["schema"], Synthesizer::schema());
    EXPECT_EQ(std::count(request.headers.begin(), request.headers.end(),
                         std::pair<std::string, std::string>("x-api-key", "sk-key")),
              1);
    synthesize();
    EXPECT_EQ(lastBody()["model"], "claude-opus-4-8");
}

TEST_F(SynthesizerTest, SendsThroughTheTransportAndEndpointItIsGiven) {
    // The shared transport would answer too; it must not be asked.
    answer(minimalDraft());
    const RecordingStore elsewhere(data_.root() / "elsewhere");
    Recording recording = recording_;
    elsewhere.prepareFramesDirectory(recording.id);
    FrameRef frame{.timeOffset = 1, .relativePath = "frames/000001.png"};
    ImageCodec::writePNG(solid(4, 4, 0, 0, 0),
                         elsewhere.frameURL(recording.id, frame.relativePath));
    recording.frames = {frame};

    auto own = std::make_shared<FakeHttpTransport>();
    const Synthesizer synthesizer(own, "http://127.0.0.1:9/v1/messages", elsewhere);
    const std::string reply = json::writeCompact(
        {{"content", {{{"type", "text"}, {"text", json::writeCompact(minimalDraft())}}}}});
    own->reply(200, reply);
    EXPECT_EQ(synthesizer.synthesize(recording, "sk-own").name, "n");
    own->reply(200, reply);
    const AnthropicClient client("sk-client", "claude-sonnet-4-6", own, "http://127.0.0.1:9/c");
    synthesizer.synthesize(recording, client);

    EXPECT_TRUE(transport_->requests().empty());
    const auto requests = own->requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].url, "http://127.0.0.1:9/v1/messages");
    EXPECT_EQ(requests[1].url, "http://127.0.0.1:9/c");
    EXPECT_EQ(requests[1].headers[1],
              (std::pair<std::string, std::string>("x-api-key", "sk-client")));
    for (const auto& request : requests) {
        const json::Value content = json::parse(request.body)["messages"][0]["content"];
        ASSERT_EQ(content.size(), 3u); // the frame was found under the store's own root
        EXPECT_EQ(content[1]["text"], "Frame at 1.0s:");
    }
    EXPECT_EQ(json::parse(requests[1].body)["model"], "claude-sonnet-4-6");
}

TEST_F(SynthesizerTest, AssemblyPairsStepsWithEventsByPosition) {
    const AXTarget recorded{.appBundleID = "com.apple.mail",
                            .appName = "Mail",
                            .windowTitle = "Inbox",
                            .axRole = "AXButton",
                            .axSubrole = "AXSub",
                            .axTitle = "Send",
                            .axValue = "v",
                            .axIdentifier = "send",
                            .frameInWindow = Rect{{1, 2}, {3, 4}},
                            .isSecure = true};
    recording_.events = {
        {.type = ActionType::click, .location = Point{5, 6}, .target = recorded},
        {.type = ActionType::keystroke,
         .typedText = "secret",
         .keyCode = 36,
         .modifierFlags = 0x40000},
        {.type = ActionType::scroll, .location = Point{7, 8}},
        {.type = ActionType::drag},
        {.type = ActionType::wait},
    };
    answer(json::parse(R"({
        "name": " Send the report ", "trigger": "send report", "summary": "Sends it.",
        "mode": "replay", "app_scope": ["com.apple.mail", "com.apple.mail"],
        "parameters": [
            {"name": "week", "type": "date", "prompt": "Which week?", "example_value": "W23",
             "used_in_steps": [1, 9]},
            {"name": "who", "type": "email", "prompt": "To?", "example_value": "a@b",
             "used_in_steps": []},
            {"name": "f", "type": "filePath", "prompt": "File?", "example_value": "/tmp/x",
             "used_in_steps": [2.0]}],
        "plan": [
            {"index": 7, "intent": "Click Send", "action": "Click", "text": null,
             "precondition": "Mail is open", "is_destructive": true,
             "target": {"app_bundle_id": "x", "app_name": "y", "ax_role": null,
                        "ax_title": "z", "ax_identifier": null}},
            {"index": 3, "intent": "Type the week", "action": "type",
             "text": "{{week}}", "precondition": null, "is_destructive": false,
             "target": {"app_bundle_id": "com.x", "app_name": "X", "ax_role": "AXTextField",
                        "ax_title": "Week", "ax_identifier": "wk"}},
            {"index": 3, "intent": "Scroll", "action": "doubleClick", "is_destructive": false,
             "target": null}]})"));
    const auto before = system_clock::now();
    const Skill skill = synthesize();

    EXPECT_EQ(skill.name, " Send the report ");
    EXPECT_EQ(skill.trigger, "send report");
    EXPECT_EQ(skill.summary, "Sends it.");
    EXPECT_EQ(skill.mode, ExecutionMode::replay);
    EXPECT_EQ(skill.appScope, (std::vector<std::string>{"com.apple.mail", "com.apple.mail"}));
    EXPECT_EQ(skill.sourceRecordingID, recording_.id);
    EXPECT_GE(skill.createdAt, before);
    EXPECT_LE(skill.createdAt, system_clock::now());

    ASSERT_EQ(skill.parameters.size(), 3u);
    EXPECT_EQ(skill.parameters[0].name, "week");
    EXPECT_EQ(skill.parameters[0].type, ParameterType::date);
    EXPECT_EQ(skill.parameters[0].prompt, "Which week?");
    EXPECT_EQ(skill.parameters[0].exampleValue, "W23");
    EXPECT_EQ(skill.parameters[0].usedInSteps, (std::vector<std::int64_t>{1, 9}));
    EXPECT_EQ(skill.parameters[1].type, ParameterType::text);
    EXPECT_EQ(skill.parameters[2].type, ParameterType::filePath);
    EXPECT_EQ(skill.parameters[2].usedInSteps, std::vector<std::int64_t>{2});

    ASSERT_EQ(skill.plan.size(), 3u);
    const PlanStep& s0 = skill.plan[0];
    EXPECT_EQ(s0.index, 0);
    EXPECT_EQ(s0.intent, "Click Send");
    EXPECT_EQ(s0.action, ActionType::click); // "Click" is no match: the event's type
    EXPECT_EQ(s0.target, recorded);          // the recorded target, whole
    EXPECT_EQ(s0.location, (Point{5, 6}));
    EXPECT_FALSE(s0.text);
    EXPECT_EQ(s0.precondition, "Mail is open");
    EXPECT_TRUE(s0.isDestructive);

    const PlanStep& s1 = skill.plan[1];
    EXPECT_EQ(s1.index, 1);
    EXPECT_EQ(s1.action, ActionType::keystroke);
    EXPECT_EQ(s1.text, "{{week}}"); // from the draft, never the typed text
    EXPECT_EQ(s1.keyCode, 36);
    EXPECT_EQ(s1.modifierFlags, 0x40000u);
    EXPECT_FALSE(s1.location);
    EXPECT_EQ(s1.target, (AXTarget{.appBundleID = "com.x",
                                   .appName = "X",
                                   .axRole = "AXTextField",
                                   .axTitle = "Week",
                                   .axIdentifier = "wk"}));

    const PlanStep& s2 = skill.plan[2];
    EXPECT_EQ(s2.index, 2);
    EXPECT_EQ(s2.action, ActionType::doubleClick);
    EXPECT_FALSE(s2.target);
    EXPECT_EQ(s2.location, (Point{7, 8}));
    EXPECT_FALSE(s2.text);
    EXPECT_FALSE(s2.precondition);
}

TEST_F(SynthesizerTest, StepsBeyondTheRecordedEvents) {
    recording_.events = {{.type = ActionType::keystroke, .location = Point{1, 1}, .keyCode = 4}};
    answer(json::parse(R"({"name":"n","trigger":"t","summary":"s","mode":"Replay",
        "app_scope":[],"parameters":[],"plan":[
        {"index":0,"intent":"a","action":"bogus","text":null,"precondition":null,
         "is_destructive":false,"target":null},
        {"index":1,"intent":"b","action":"bogus","text":"x","precondition":null,
         "is_destructive":false,"target":{"app_bundle_id":null,"app_name":null,"ax_role":null,
                                          "ax_title":null,"ax_identifier":null}},
        {"index":2,"intent":"c","action":"scroll","text":null,"precondition":null,
         "is_destructive":false,"target":{"ax_title":"T"}}]})"));
    const Skill skill = synthesize();
    EXPECT_EQ(skill.mode, ExecutionMode::agentic);
    ASSERT_EQ(skill.plan.size(), 3u);
    EXPECT_EQ(skill.plan[0].action, ActionType::keystroke);
    EXPECT_EQ(skill.plan[0].keyCode, 4);
    EXPECT_FALSE(skill.plan[0].target);

    EXPECT_EQ(skill.plan[1].action, ActionType::click);
    EXPECT_FALSE(skill.plan[1].location);
    EXPECT_FALSE(skill.plan[1].keyCode);
    EXPECT_FALSE(skill.plan[1].modifierFlags);
    ASSERT_TRUE(skill.plan[1].target);
    EXPECT_EQ(*skill.plan[1].target, AXTarget{});

    EXPECT_EQ(skill.plan[2].action, ActionType::scroll);
    EXPECT_EQ(skill.plan[2].target, (AXTarget{.axTitle = "T"}));
}

TEST_F(SynthesizerTest, AnswerDecoding) {
    const std::string step =
        R"({"index":0,"intent":"i","action":"click","text":"t","precondition":null,
            "is_destructive":false,"target":null})";
    auto withPlan = [](const std::string& plan) {
        return R"({"name":"n","trigger":"t","summary":"s","mode":"agentic","app_scope":["a"],
                   "parameters":[],"plan":[)" +
               plan + "]}";
    };
    struct Case {
        const char* what;
        std::string answer;
        bool decodes;
    };
    const std::vector<Case> cases = {
        {"valid", withPlan(step), true},
        {"text missing", withPlan(R"({"index":0,"intent":"i","action":"click",
                                      "is_destructive":false})"),
         true},
        {"camel-case keys", R"({"name":"n","trigger":"t","summary":"s","mode":"agentic",
            "appScope":[],"parameters":[{"name":"p","type":"text","prompt":"p",
            "exampleValue":"e","usedInSteps":[0]}],
            "plan":[{"index":0,"intent":"i","action":"click","isDestructive":true,
            "target":{"appBundleId":"b"}}]})",
         true},
        {"appBundleID is not appBundleId", withPlan(R"({"index":0,"intent":"i","action":"c",
            "is_destructive":false,"target":{"appBundleID":"b"}})"),
         true},
        {"no plan", R"({"name":"n","trigger":"t","summary":"s","mode":"agentic",
                        "app_scope":[],"parameters":[]})",
         false},
        {"null name", R"({"name":null,"trigger":"t","summary":"s","mode":"agentic",
                          "app_scope":[],"parameters":[],"plan":[]})",
         false},
        {"index as text", withPlan(R"({"index":"0","intent":"i","action":"click",
                                       "is_destructive":false})"),
         false},
        {"index with a fraction", withPlan(R"({"index":0.5,"intent":"i","action":"click",
                                               "is_destructive":false})"),
         false},
        {"is_destructive as a number", withPlan(R"({"index":0,"intent":"i","action":"click",
                                                    "is_destructive":1})"),
         false},
        {"no is_destructive", withPlan(R"({"index":0,"intent":"i","action":"click"})"), false},
        {"target not an object", withPlan(R"({"index":0,"intent":"i","action":"click",
                                              "is_destructive":false,"target":"x"})"),
         false},
        {"app_scope holding a number", R"({"name":"n","trigger":"t","summary":"s",
            "mode":"agentic","app_scope":[1],"parameters":[],"plan":[]})",
         false},
        {"root an array", "[]", false},
        {"not JSON", "Here is your skill:", false},
    };
    for (const Case& c : cases) {
        answerText(c.answer);
        if (c.decodes) {
            EXPECT_NO_THROW(Synthesizer().synthesize(recording_, "k")) << c.what;
        } else {
            EXPECT_THROW(Synthesizer().synthesize(recording_, "k"), json::DecodingError) << c.what;
        }
    }

    answerText(R"({"name":"n","trigger":"t","summary":"s","mode":"agentic","appScope":["x"],
        "parameters":[],"plan":[{"index":0,"intent":"i","action":"click","isDestructive":true,
        "target":{"appBundleId":"b","app_name":"N"}}]})");
    const Skill camel = Synthesizer().synthesize(recording_, "k");
    EXPECT_EQ(camel.appScope, std::vector<std::string>{"x"});
    ASSERT_EQ(camel.plan.size(), 1u);
    EXPECT_TRUE(camel.plan[0].isDestructive);
    EXPECT_EQ(camel.plan[0].target, (AXTarget{.appBundleID = "b", .appName = "N"}));
}

// The lists are decoded as the parser goes; what is reported stays what a reader of the whole
// tree reports, in its order.
TEST(SynthesizerSchema, DraftDecodingReportsTheFirstFaultInReadingOrder) {
    auto draft = [](const std::string& name, const std::string& plan,
                    const std::string& after = "}") {
        return R"({"name":)" + name + R"(,"plan":[)" + plan +
               R"(],"trigger":"t","summary":"s","mode":"agentic",)" +
               R"("app_scope":["a","b"],"parameters":[])" + after;
    };
    const std::string good = R"({"index":0,"intent":"i","action":"click","is_destructive":false})";
    struct Case {
        const char* what;
        std::string text;
        std::string error; // empty: decodes
    } cases[] = {
        {"a member read before the plan fails first", draft("null", "7"),
         "keyNotFound: \"name\" in SkillDraft"},
        {"a step that is no object", draft("\"n\"", good + ",7"),
         "typeMismatch: expected an object for StepDraft"},
        {"the first bad step is the one reported", draft("\"n\"", R"({"index":0},7)"),
         "keyNotFound: \"intent\" in StepDraft"},
        {"malformed text after a bad step", draft("\"n\"", "7", ",}"),
         "The data couldn't be read because it isn't valid JSON"},
        {"a repeated plan replaces the first",
         draft("\"n\"", "7", R"(,"plan":[)" + good + "," + good + "]}"), ""},
        {"a plan that is not a list",
         R"({"name":"n","trigger":"t","summary":"s",)"
         R"("mode":"agentic","app_scope":[],"parameters":[],)"
         R"("plan":{"x":)" +
             good + "}}",
         "typeMismatch: expected an array: \"plan\" in SkillDraft"},
    };
    for (const Case& c : cases) {
        std::string error;
        try {
            const SkillDraft d = decodeSkillDraft(c.text);
            EXPECT_EQ(d.plan.size(), 2u) << c.what;
            EXPECT_EQ(d.appScope, (std::vector<std::string>{"a", "b"})) << c.what;
        } catch (const json::DecodingError& e) {
            error = e.what();
        }
        EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.what << ": " << error;
        EXPECT_EQ(error.empty(), c.error.empty()) << c.what << ": " << error;
    }
}

TEST_F(SynthesizerTest, DeeplyNestedAnswerIsADecodingError) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    answerText(R"({"name":"n","trigger":"t","summary":"s","mode":"agentic","app_scope":[],
                   "parameters":[],"plan":[],"extra":)" +
               deep + "}");
    EXPECT_THROW(Synthesizer().synthesize(recording_, "k"), json::DecodingError);
}

TEST_F(SynthesizerTest, AssembliesGetFreshIdentifiers) {
    recording_.events = {{.type = ActionType::click}};
    const auto draft = json::parse(R"({"name":"n","trigger":"t","summary":"s","mode":"agentic",
        "app_scope":[],"parameters":[{"name":"p","type":"text","prompt":"p","example_value":"e",
        "used_in_steps":[]}],"plan":[{"index":0,"intent":"i","action":"click",
        "is_destructive":false}]})");
    answer(draft);
    const Skill a = Synthesizer().synthesize(recording_, "k");
    answer(draft);
    const Skill b = Synthesizer().synthesize(recording_, "k");
    EXPECT_NE(a.id, b.id);
    EXPECT_NE(a.plan[0].id, b.plan[0].id);
    EXPECT_NE(a.parameters[0].id, b.parameters[0].id);
    EXPECT_NE(a.createdAt, b.createdAt);
}

TEST_F(SynthesizerTest, RequestErrorsPassThrough) {
    transport_->reply(529, "overloaded");
    try {
        Synthesizer().synthesize(recording_, "k");
        FAIL() << "no error";
    } catch (const AnthropicClient::ClientError& e) {
        EXPECT_STREQ(e.what(), "Anthropic API HTTP 529: overloaded");
    }
    transport_->reply(200, R"({"content":[{"type":"text","text":"{}"}],"stop_reason":"refusal"})");
    EXPECT_THROW(Synthesizer().synthesize(recording_, "k"), AnthropicClient::ClientError);
}

TEST(SynthesizerSchema, SchemaIsExact) {
    const json::Value expected = json::parse(R"({
      "type": "object", "additionalProperties": false,
      "required": ["name", "trigger", "summary", "mode", "app_scope", "parameters", "plan"],
      "properties": {
        "name": {"type": "string"},
        "trigger": {"type": "string"},
        "summary": {"type": "string"},
        "mode": {"type": "string", "enum": ["agentic", "replay"]},
        "app_scope": {"type": "array", "items": {"type": "string"}},
        "parameters": {"type": "array", "items": {
          "type": "object", "additionalProperties": false,
          "required": ["name", "type", "prompt", "example_value", "used_in_steps"],
          "properties": {
            "name": {"type": "string"},
            "type": {"type": "string",
                     "enum": ["text", "date", "number", "filePath", "searchTerm"]},
            "prompt": {"type": "string"},
            "example_value": {"type": "string"},
            "used_in_steps": {"type": "array", "items": {"type": "integer"}}}}},
        "plan": {"type": "array", "items": {
          "type": "object", "additionalProperties": false,
          "required": ["index", "intent", "action", "text", "precondition", "is_destructive",
                       "target"],
          "properties": {
            "index": {"type": "integer"},
            "intent": {"type": "string"},
            "action": {"type": "string",
                       "enum": ["click", "rightClick", "doubleClick", "drag", "keystroke",
                                "scroll", "appSwitch", "windowFocus", "wait"]},
            "text": {"anyOf": [{"type": "string"}, {"type": "null"}]},
            "precondition": {"anyOf": [{"type": "string"}, {"type": "null"}]},
            "is_destructive": {"type": "boolean"},
            "target": {"anyOf": [
              {"type": "object", "additionalProperties": false,
               "required": ["app_bundle_id", "app_name", "ax_role", "ax_title",
                            "ax_identifier"],
               "properties": {
                 "app_bundle_id": {"anyOf": [{"type": "string"}, {"type": "null"}]},
                 "app_name": {"anyOf": [{"type": "string"}, {"type": "null"}]},
                 "ax_role": {"anyOf": [{"type": "string"}, {"type": "null"}]},
                 "ax_title": {"anyOf": [{"type": "string"}, {"type": "null"}]},
                 "ax_identifier": {"anyOf": [{"type": "string"}, {"type": "null"}]}}},
              {"type": "null"}]}}}}}})");
    EXPECT_EQ(Synthesizer::schema(), expected);
    // What the application's self-test checks, through a JSON round trip.
    const json::Value back = json::parse(json::writeCompact(Synthesizer::schema()));
    EXPECT_EQ(back["additionalProperties"], false);
    const auto& required = back["required"];
    EXPECT_NE(std::find(required.begin(), required.end(), "plan"), required.end());
    EXPECT_NE(std::find(required.begin(), required.end(), "parameters"), required.end());
}

TEST(SynthesizerSchema, SystemPromptIsExact) {
    const std::string& prompt = Synthesizer::systemPrompt();
    EXPECT_EQ(prompt, systemPromptText);
    EXPECT_EQ(prompt.size(), 1595u);
    EXPECT_EQ(text::decodeUtf8(prompt).size(), 1585u);
    EXPECT_EQ(prompt.find("macOS"), std::string::npos);
    EXPECT_EQ(std::count(prompt.begin(), prompt.end(), '\n'), 10);
    EXPECT_NE(prompt.back(), '\n');
    std::size_t dashes = 0;
    for (auto at = prompt.find("\u2014"); at != std::string::npos;
         at = prompt.find("\u2014", at + 1)) {
        ++dashes;
    }
    EXPECT_EQ(dashes, 5u);
    for (const char* run :
         {"a   user", "paths,   search", "slot in   the", "`type`,   a human",
          "`used_in_steps`   indices", "keep the   observed", "verify state   first",
          "delete/  overwrite", "frames \u2014   never", "UI   change"}) {
        EXPECT_NE(prompt.find(run), std::string::npos) << run;
    }
}
