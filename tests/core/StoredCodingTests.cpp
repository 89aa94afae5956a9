// The typed reader and the direct writer of stored documents against the Value path they
// replace: the same bytes out, the same documents accepted and read alike.

#include "KestroBase/FileIO.h"
#include "KestroCore/GeometryJson.h"
#include "KestroCore/KestroStateJson.h"
#include "KestroCore/RecordCoding.h"
#include "KestroCore/RecordingJson.h"
#include "KestroCore/SkillJson.h"
#include "KestroCore/SkillStore.h"
#include "fuzz/FuzzChecks.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <limits>
#include <string>
#include <tuple>

using namespace kestro;

namespace {

AXTarget everyTargetField() {
    return AXTarget{"org.example.editor",
                    "Editor \"Ä\" / ü",
                    "a\\b\n\t\x01/c",
                    "AXTextField",
                    "AXSecureTextField",
                    "",
                    std::string("caf\xE9 \xFF!"),
                    "id-1",
                    Rect::make(-0.0, 1e21, 0.1, -3.25),
                    true};
}

Recording everyRecordingField() {
    using namespace std::chrono;
    Recording r;
    r.startedAt = Date(seconds(1780738200));
    r.endedAt = r.startedAt + seconds(13);
    r.displays = {DisplayInfo{4294967295u, Rect::make(-1280, -200, 1280, 1024), 2, false}};
    r.events = {ActionEvent{.timeOffset = 1.0 / 3,
                            .type = ActionType::drag,
                            .location = Point{1, 2},
                            .endLocation = Point{30.5, 40},
                            .scrollDelta = Size{-0.5, 1e-300},
                            .target = everyTargetField(),
                            .typedText = "emoji \xF0\x9F\x98\x80 and a \"quote\"",
                            .keyCode = 65535,
                            .modifierFlags = std::numeric_limits<std::uint64_t>::max(),
                            .frameIndex = std::numeric_limits<std::int64_t>::min()},
                ActionEvent{.type = ActionType::wait, .target = AXTarget{}}};
    r.frames = {FrameRef{.timeOffset = 123456789,
                         .relativePath = "frames/000003.png",
                         .displayID = 2,
                         .pixelSize = Size{2560, 2048},
                         .redactedRegions = {Rect::make(10.5, 20, 30, 40), Rect::make(0, 0, 0, 0)}},
                FrameRef{.relativePath = "", .pixelSize = Size{0, 0}}};
    r.appContexts = {AppContextSnapshot{.timeOffset = 0,
                                        .bundleID = "org.example.app",
                                        .appName = "App",
                                        .windowTitle = "Inbox / 3"},
                     AppContextSnapshot{.timeOffset = -1}};
    return r;
}

ExecutionPlanDocument everyPlanField() {
    ExecutionPlanDocument d;
    d.parameters = {Parameter{.name = "week",
                              .type = ParameterType::searchTerm,
                              .prompt = "Which \"week\"?",
                              .exampleValue = "2026/06/06",
                              .usedInSteps = {-1, 0, std::numeric_limits<std::int64_t>::max()}},
                    Parameter{}};
    d.plan = {PlanStep{.index = 3,
                       .intent = "Type {{week}}",
                       .action = ActionType::keystroke,
                       .target = everyTargetField(),
                       .location = Point{-0.0, 0.1},
                       .text = "{{week}}\n",
                       .keyCode = 36,
                       .modifierFlags = 0x100100,
                       .precondition = "the form is open",
                       .isDestructive = true},
              PlanStep{.action = ActionType::appSwitch}};
    return d;
}

} // namespace

TEST(StoredCoding, DirectWriterMatchesTheValueWriterByteForByte) {
    const Recording full = everyRecordingField();
    EXPECT_EQ(encodeRecording(full), json::writeStored(toJson(full)));
    const Recording empty{.startedAt = Date(std::chrono::seconds(0))};
    EXPECT_EQ(encodeRecording(empty), json::writeStored(toJson(empty)));

    const ExecutionPlanDocument plan = everyPlanField();
    EXPECT_EQ(encodeExecutionPlan(plan), json::writeStored(toJson(plan)));
    EXPECT_EQ(encodeExecutionPlan({}), json::writeStored(toJson(ExecutionPlanDocument{})));
}

TEST(StoredCoding, DirectWriterRefusesNonFiniteNumbers) {
    for (double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        Recording r = everyRecordingField();
        r.frames[0].redactedRegions[1].size.width = bad;
        EXPECT_THROW(encodeRecording(r), json::EncodingError);
        ExecutionPlanDocument d = everyPlanField();
        d.plan[0].target->frameInWindow->origin.y = bad;
        EXPECT_THROW(encodeExecutionPlan(d), json::EncodingError);
    }
}

// Each case is a change to a small stored recording; the typed reader must accept exactly what
// the Value reader accepts and read it to the same record.
TEST(StoredCoding, TypedReaderAcceptsAndReadsWhatTheValueReaderDoes) {
    const std::string id = R"("id" : "6ba7b810-9dad-11d1-80b4-00c04fd430c8")";
    auto recording = [&](const std::string& event, const std::string& tail = "") {
        return R"({"appContexts":[],"displays":[],"events":[)" + event + R"(],"frames":[],)" + id +
               R"(,"startedAt":"2026-06-06T10:00:00Z")" + tail + "}";
    };
    auto event = [&](const std::string& members) {
        return "{" + id + R"(,"timeOffset":1.5,"type":"click")" + members + "}";
    };
    std::string deep;
    for (int i = 0; i < 3000; ++i) {
        deep += "[";
    }
    deep += std::string(3000, ']');
    struct Case {
        const char* what;
        std::string text;
        bool accepted;
    } cases[] = {
        {"plain", recording(event("")), true},
        {"every optional member",
         recording(event(R"(,"location":{"x":1,"y":2},)"
                         R"("endLocation":{"x":-0.0,"y":1e-400},)"
                         R"("scrollDelta":{"width":0,"height":-1},)"
                         R"("target":{"isSecure":false,"axRole":"r"},)"
                         R"("typedText":"a\/b\u00e9\ud83d\ude00",)"
                         R"("keyCode":65535,"modifierFlags":0,)"
                         R"("frameIndex":-9223372036854775808)")),
         true},
        {"unknown members, nested", recording(event(R"(,"extra":{"a":[1,{"b":null}]})")), true},
        {"null optional members", recording(event(R"(,"location":null,"typedText":null)")), true},
        {"last of repeated keys counts",
         recording(event(R"(,"location":"bad","location":{"x":1,"y":2})")), true},
        {"a repeated key nulled", recording(event(R"(,"location":{"x":1,"y":2},"location":null)")),
         true},
        {"a required key repeated as null", recording(event(R"(,"timeOffset":null)")), false},
        {"integral floats for integers", recording(event(R"(,"keyCode":1e2,"frameIndex":-0.0)")),
         true},
        {"negative zero integer", recording(event(R"(,"frameIndex":-0,"location":{"x":-0,"y":0})")),
         true},
        {"integer beyond 64 bits for a double",
         recording(
             event(R"(,"location":{"x":100000000000000000000000,"y":-18446744073709551617})")),
         true},
        {"integer beyond 64 bits for an integer",
         recording(event(R"(,"frameIndex":-9223372036854775809)")), false},
        {"many digits",
         recording(event(R"(,"location":{"x":3.14159265358979323846264338327950288,)"
                         R"("y":0.000000000000000000000000000001234})")),
         true},
        {"byte order mark", "\xEF\xBB\xBF" + recording(event("")), true},
        {"nesting deeper than the fast parser goes", recording(event(",\"extra\":" + deep)), true},
        {"endedAt null", recording(event(""), R"(,"endedAt":null)"), true},
        {"fractional keyCode", recording(event(R"(,"keyCode":1.5)")), false},
        {"keyCode out of range", recording(event(R"(,"keyCode":65536)")), false},
        {"negative flags", recording(event(R"(,"modifierFlags":-1)")), false},
        {"Boolean as a number", recording(event(R"(,"frameIndex":true)")), false},
        {"unknown type", recording(event(R"(,"type":"tap")")), false},
        {"isSecure missing", recording(event(R"(,"target":{"axRole":"r"})")), false},
        {"a number too large for a double", recording(event(R"(,"location":{"x":1e400,"y":0})")),
         false},
        {"lone high surrogate", recording(event(R"(,"typedText":"\ud800x")")), false},
        {"lone low surrogate", recording(event(R"(,"typedText":"\udc00")")), false},
        {"raw control character", recording(event(",\"typedText\":\"a\x01\"")), false},
        {"ill-formed UTF-8", recording(event(",\"typedText\":\"\xC3\"")), false},
        {"encoded surrogate", recording(event(",\"typedText\":\"\xED\xA0\x80\"")), false},
        {"bad escape", recording(event(R"(,"typedText":"\x41")")), false},
        {"leading zero", recording(event(R"(,"frameIndex":01)")), false},
        {"trailing text", recording(event("")) + " x", false},
        {"trailing comma", recording(event(",")), false},
        // The Value reader takes a NUL byte for the end of the text.
        {"NUL after the document", recording(event("")) + std::string(1, '\0'), true},
        {"NUL, then text", recording(event("")) + std::string(1, '\0') + "x", true},
        {"top-level array", "[" + recording(event("")) + "]", false},
        {"empty", "", false},
        {"fractional date", recording(event(""), R"(,"endedAt":"2026-06-06T10:00:00.5Z")"), false},
        {"lower-case id", recording(event(R"(,"id":"6BA7B810-9DAD-11D1-80B4-00C04FD430C8")")),
         true},
        {"id not a UUID", recording(event(R"(,"id":"6ba7b810")")), false},
        {"an earlier member of the same key that is no array",
         R"({"displays":{},)" + recording(event("")).substr(1), true},
        {"displayID 2^32",
         recording(event(""), R"(,"displays":[{"id":4294967296,"isMain":true,)"
                              R"("scaleFactor":1,"frame":{"origin":{"x":0,"y":0},)"
                              R"("size":{"width":1,"height":1}}}])"),
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto typed = fuzz::recordingViaTypedReader(c.text);
        EXPECT_EQ(typed.has_value(), c.accepted);
        EXPECT_EQ(typed, fuzz::recordingViaValue(c.text));
    }
}

TEST(StoredCoding, PlanReaderAgreesWithTheValueReader) {
    const std::string good = encodeExecutionPlan(everyPlanField());
    const json::Value v = json::parse(good);
    auto changed = [&](const std::function<void(json::Value&)>& change) {
        json::Value copy = v;
        change(copy);
        return json::writeStored(copy);
    };
    struct Case {
        const char* what;
        std::string text;
        bool accepted;
    } cases[] = {
        {"as written", good, true},
        {"step with only required members",
         changed([](json::Value& d) { d["plan"][0] = toJson(PlanStep{}); }), true},
        {"usedInSteps with a fraction",
         changed([](json::Value& d) { d["parameters"][0]["usedInSteps"][1] = 1.5; }), false},
        {"usedInSteps with a string",
         changed([](json::Value& d) { d["parameters"][0]["usedInSteps"][1] = "1"; }), false},
        {"unknown parameter type",
         changed([](json::Value& d) { d["parameters"][0]["type"] = "email"; }), false},
        {"action Click", changed([](json::Value& d) { d["plan"][1]["action"] = "Click"; }), false},
        {"no isDestructive", changed([](json::Value& d) { d["plan"][1].erase("isDestructive"); }),
         false},
        {"no plan", changed([](json::Value& d) { d.erase("plan"); }), false},
        {"index as text", changed([](json::Value& d) { d["plan"][1]["index"] = "1"; }), false},
        {"cut short", good.substr(0, good.size() / 2), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto typed = fuzz::planViaTypedReader(c.text);
        EXPECT_EQ(typed.has_value(), c.accepted);
        EXPECT_EQ(typed, fuzz::planViaValue(c.text));
    }
}

TEST(StoredCoding, DecodedRecordKeepsEveryValue) {
    const Recording r = everyRecordingField();
    const Recording back = decodeRecording(encodeRecording(r));
    EXPECT_EQ(back.id, r.id);
    EXPECT_EQ(back.endedAt, r.endedAt);
    EXPECT_EQ(back.displays, r.displays);
    ASSERT_EQ(back.events.size(), 2u);
    EXPECT_EQ(back.events[0].id, r.events[0].id);
    EXPECT_EQ(back.events[0].timeOffset, r.events[0].timeOffset);
    EXPECT_EQ(back.events[0].scrollDelta, r.events[0].scrollDelta);
    EXPECT_EQ(back.events[0].keyCode, 65535);
    EXPECT_EQ(back.events[0].modifierFlags, r.events[0].modifierFlags);
    EXPECT_EQ(back.events[0].frameIndex, r.events[0].frameIndex);
    EXPECT_EQ(back.events[0].typedText, r.events[0].typedText);
    AXTarget sanitized = everyTargetField();
    sanitized.axValue = "caf\xEF\xBF\xBD \xEF\xBF\xBD!";
    EXPECT_EQ(back.events[0].target, sanitized);
    EXPECT_EQ(back.events[1].target, AXTarget{});
    ASSERT_EQ(back.frames.size(), 2u);
    EXPECT_EQ(back.frames[0].redactedRegions, r.frames[0].redactedRegions);
    EXPECT_EQ(back.appContexts[0].windowTitle, "Inbox / 3");
    EXPECT_FALSE(back.appContexts[1].bundleID);
}

namespace {

Uuid fixedId(int n) {
    return *Uuid::parse("6ba7b810-9dad-11d1-80b4-00c04fd430" + std::to_string(10 + n));
}

// Every record with every member set and fixed ids, so that its bytes can be kept.
Recording fixedRecording() {
    Recording r = everyRecordingField();
    r.id = fixedId(0);
    r.events[0].id = fixedId(1);
    r.events[1].id = fixedId(2);
    r.frames[0].id = fixedId(3);
    r.frames[1].id = fixedId(4);
    return r;
}

ExecutionPlanDocument fixedPlan() {
    ExecutionPlanDocument d = everyPlanField();
    d.parameters[0].id = fixedId(5);
    d.parameters[1].id = fixedId(6);
    d.plan[0].id = fixedId(7);
    d.plan[1].id = fixedId(8);
    return d;
}

Skill fixedSkill() {
    const ExecutionPlanDocument plan = fixedPlan();
    return Skill{.id = fixedId(9),
                 .name = "Send the \"weekly\" report",
                 .trigger = "send/report",
                 .summary = "Opens the report\nand sends it.",
                 .mode = ExecutionMode::replay,
                 .parameters = plan.parameters,
                 .plan = plan.plan,
                 .appScope = {"org.example.mail", ""},
                 .createdAt = Date(std::chrono::seconds(1780738200)),
                 .sourceRecordingID = fixedId(0)};
}

AuditEntry fixedAuditEntry() {
    return AuditEntry{.timestamp = Date(std::chrono::seconds(1780738213)),
                      .intent = "Type {{week}}",
                      .action = ActionType::keystroke,
                      .detail = "typed 10 characters / 2 keys",
                      .agentic = true};
}

std::string golden(const char* name) {
    return readFile(std::filesystem::path(KESTRO_TEST_DATA_DIR) / "stored" / name);
}

} // namespace

// The kept bytes were written before the coders were last rebuilt: both paths must still write
// them, and read them alike. (A -0 written reads back as 0, so they are compared with each other
// rather than with the kept bytes.)
TEST(StoredCoding, EveryRecordKeepsItsStoredBytes) {
    const std::string recording = golden("recording.json");
    EXPECT_EQ(encodeRecording(fixedRecording()), recording);
    EXPECT_EQ(json::writeStored(toJson(fixedRecording())), recording);
    const auto recordingAgain = fuzz::recordingViaTypedReader(recording);
    ASSERT_TRUE(recordingAgain);
    EXPECT_EQ(recordingAgain, fuzz::recordingViaValue(recording));
    EXPECT_EQ(fuzz::recordingViaTypedReader(*recordingAgain), recordingAgain);

    const std::string plan = golden("execution_plan.json");
    EXPECT_EQ(encodeExecutionPlan(fixedPlan()), plan);
    EXPECT_EQ(json::writeStored(toJson(fixedPlan())), plan);
    const auto planAgain = fuzz::planViaTypedReader(plan);
    ASSERT_TRUE(planAgain);
    EXPECT_EQ(planAgain, fuzz::planViaValue(plan));

    const std::string skill = golden("skill.json");
    EXPECT_EQ(json::writeStored(toJson(fixedSkill())), skill);
    const Skill back = skillFromJson(json::parse(skill));
    EXPECT_EQ(encodeExecutionPlan({back.parameters, back.plan}), *planAgain);
    const Skill expected = fixedSkill();
    EXPECT_EQ(std::tie(back.id, back.name, back.trigger, back.summary, back.mode, back.appScope,
                       back.createdAt, back.sourceRecordingID),
              std::tie(expected.id, expected.name, expected.trigger, expected.summary,
                       expected.mode, expected.appScope, expected.createdAt,
                       expected.sourceRecordingID));

    const std::string audit = golden("audit_entry.json");
    EXPECT_EQ(json::writeStored(toJson(fixedAuditEntry())), audit);
    EXPECT_EQ(auditEntryFromJson(json::parse(audit)), fixedAuditEntry());
}

namespace {
// A record whose table lists its keys out of their sorted order, upper case among them.
struct Sample {
    std::string zeta;
    double alpha = 0;
    std::optional<std::string> Beta;
    std::vector<std::int64_t> mid;
    std::optional<Point> point;
    std::vector<Size> sizes;
};
} // namespace

template <> struct kestro::json::Fields<Sample> {
    static constexpr std::string_view name = "Sample";
    static constexpr auto members =
        std::tuple{field("zeta", &Sample::zeta),   field("alpha", &Sample::alpha),
                   field("Beta", &Sample::Beta),   field("mid", &Sample::mid),
                   field("point", &Sample::point), field("sizes", &Sample::sizes)};
};

static_assert(json::writeOrder<Sample> == std::array<std::size_t, 6>{2, 1, 3, 4, 5, 0});

// The table alone decides the bytes: written in sorted key order whatever order it lists, by the
// direct writer and through a Value alike, and read back alike by both readers.
TEST(StoredCoding, ATableWritesItsKeysSortedAndReadsThemInItsOwnOrder) {
    const Sample full{.zeta = "a/b",
                      .alpha = 2.0,
                      .Beta = "",
                      .mid = {-1, 0},
                      .point = Point{0.5, -3},
                      .sizes = {Size{1, 2}}};
    const std::string bytes = json::encodeStored(full);
    EXPECT_EQ(bytes, json::writeStored(json::encodeValue(full)));
    EXPECT_EQ(bytes,
              "{\n  \"Beta\" : \"\",\n  \"alpha\" : 2,\n  \"mid\" : [\n    -1,\n    0\n  ],\n"
              "  \"point\" : {\n    \"x\" : 0.5,\n    \"y\" : -3\n  },\n  \"sizes\" : [\n"
              "    {\n      \"height\" : 2,\n      \"width\" : 1\n    }\n  ],\n"
              "  \"zeta\" : \"a\\/b\"\n}");
    for (const Sample& back :
         {json::decodeStored<Sample>(bytes), json::decodeValue<Sample>(json::parse(bytes))}) {
        EXPECT_EQ(back.zeta, "a/b");
        EXPECT_EQ(back.Beta, "");
        EXPECT_EQ(back.mid, full.mid);
        EXPECT_EQ(back.point, full.point);
        EXPECT_EQ(back.sizes, full.sizes);
    }
    const Sample bare{};
    EXPECT_EQ(json::encodeStored(bare),
              "{\n  \"alpha\" : 0,\n  \"mid\" : [],\n  \"sizes\" : [],\n  \"zeta\" : \"\"\n}");

    // Both readers report the first fault in table order, with the same message.
    const std::string twoFaults = R"({"alpha":"x","mid":[1.5]})";
    for (const auto& read : std::initializer_list<std::function<void()>>{
             [&] { json::decodeStored<Sample>(twoFaults); },
             [&] { json::decodeValue<Sample>(json::parse(twoFaults)); }}) {
        try {
            read();
            ADD_FAILURE() << "accepted";
        } catch (const json::DecodingError& e) {
            EXPECT_STREQ(e.what(), "keyNotFound: \"zeta\" in Sample");
        }
    }
    const std::string badElement = R"({"zeta":"","alpha":1,"mid":[1.5],"sizes":[]})";
    for (const auto& read : std::initializer_list<std::function<void()>>{
             [&] { json::decodeStored<Sample>(badElement); },
             [&] { json::decodeValue<Sample>(json::parse(badElement)); }}) {
        try {
            read();
            ADD_FAILURE() << "accepted";
        } catch (const json::DecodingError& e) {
            EXPECT_STREQ(e.what(), "typeMismatch: expected an integer: an element of \"mid\"");
        }
    }
}
