#include "KestroBase/Geometry.h"
#include "KestroBase/Permission.h"
#include "KestroCore/AXTargetJson.h"
#include "KestroCore/ActionEventJson.h"
#include "KestroCore/GeometryJson.h"
#include "KestroCore/RecordingJson.h"

#include <gtest/gtest.h>

#include <cmath>
#include <unordered_set>

using namespace kestro;

namespace {
json::Value parsed(const char* text) {
    return json::parse(text);
}
constexpr const char* kId = "6ba7b810-9dad-11d1-80b4-00c04fd430c8";
std::string eventJson(const std::string& extra) {
    return std::string(R"({"id":")") + kId + R"(","timeOffset":1.5,"type":"scroll")" + extra + "}";
}
} // namespace

TEST(Geometry, RectFactoryEqualsMemberwiseAndHashesAlike) {
    Rect a = Rect::make(1, 2, 3, 4);
    Rect b{Point{1, 2}, Size{3, 4}};
    EXPECT_EQ(a, b);
    EXPECT_EQ(std::hash<Rect>{}(a), std::hash<Rect>{}(b));
    EXPECT_EQ(std::hash<Point>{}(Point{0.0, 1}), std::hash<Point>{}(Point{-0.0, 1}));
    Point nan{std::nan(""), 0};
    EXPECT_FALSE(nan == nan);
}

TEST(Geometry, DecodingIsStrict) {
    struct Case {
        const char* text;
        bool ok;
    } points[] = {{R"({"x":1,"y":2})", true},    {R"({"x":1,"y":2,"z":3})", true},
                  {R"({"x":1})", false},         {R"({"x":1,"y":null})", false},
                  {R"({"x":"1","y":2})", false}, {R"([1,2])", false}};
    for (const auto& c : points) {
        if (c.ok) {
            EXPECT_EQ(pointFromJson(parsed(c.text)), (Point{1, 2})) << c.text;
        } else {
            EXPECT_THROW(pointFromJson(parsed(c.text)), json::DecodingError) << c.text;
        }
    }
    const char* frame = R"("frame":{"origin":{"x":0,"y":0},"size":{"width":10,"height":20}})";
    auto display = [&](const char* id, const char* isMain) {
        return std::string("{\"id\":") + id + "," + frame +
               ",\"scaleFactor\":1,\"isMain\":" + isMain + "}";
    };
    EXPECT_EQ(displayInfoFromJson(json::parse(display("4294967295", "true"))).id, 4294967295u);
    for (const char* badId : {"4294967296", "-1", "1.5", "\"1\""}) {
        EXPECT_THROW(displayInfoFromJson(json::parse(display(badId, "true"))), json::DecodingError)
            << badId;
    }
    EXPECT_THROW(displayInfoFromJson(json::parse(display("1", "1"))), json::DecodingError);
}

TEST(Geometry, NegativeSizesSurviveARoundTrip) {
    Rect r = Rect::make(10, 20, -300, 40.5);
    EXPECT_EQ(json::writeCompact(toJson(r)),
              R"({"origin":{"x":10,"y":20},"size":{"height":40.5,"width":-300}})");
    EXPECT_EQ(rectFromJson(json::parse(json::writeStored(toJson(r)))), r);
    DisplayInfo a{7, r, 1.0, true};
    DisplayInfo b{7, r, 2.0, true};
    EXPECT_NE(a, b); // same identity, different display
}

TEST(AXTarget, HumanLabelTakesTheFirstPresentField) {
    struct Case {
        AXTarget target;
        const char* label;
    } cases[] = {
        {{}, "element"},
        {{.appName = "Mail"}, "element in Mail"},
        {{.axTitle = "", .axValue = "v"}, ""},
        {{.appName = "Mail", .axTitle = "", .axValue = "v"}, " in Mail"},
        {{.axRole = "AXButton"}, "AXButton"},
        {{.axRole = "AXTextField", .axValue = "hello"}, "hello"},
        {{.windowTitle = "W", .axSubrole = "S", .axIdentifier = "I"}, "element"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.target.humanLabel(), c.label);
    }
}

TEST(AXTarget, OptionalFieldsAreLeftOutAndNullReadsAsAbsent) {
    EXPECT_EQ(json::writeCompact(toJson(AXTarget{})), R"({"isSecure":false})");
    AXTarget secure = axTargetFromJson(parsed(R"({"isSecure":true,"axRole":null,"other":1})"));
    EXPECT_EQ(secure, (AXTarget{.isSecure = true}));
    EXPECT_THROW(axTargetFromJson(parsed("{}")), json::DecodingError);
    EXPECT_THROW(axTargetFromJson(parsed(R"({"isSecure":true,"axTitle":5})")), json::DecodingError);

    AXTarget full{"com.a", "A", "W", "AXButton", "S", "T", "V", "I", Rect::make(1, 2, 3, 4), true};
    EXPECT_EQ(axTargetFromJson(toJson(full)), full);
    AXTarget other = full;
    other.frameInWindow = Rect::make(1, 2, 3, 5);
    EXPECT_NE(other, full);
    std::unordered_set<AXTarget> set{full, full};
    EXPECT_EQ(set.size(), 1u);
}

TEST(ActionType, RawValuesAreExact) {
    EXPECT_EQ(actionTypeFromRawValue("doubleClick"), ActionType::doubleClick);
    for (const char* bad : {"Click", " click", "", "double_click"}) {
        EXPECT_FALSE(actionTypeFromRawValue(bad)) << bad;
    }
    for (ActionType t : allActionTypes) {
        EXPECT_EQ(actionTypeFromRawValue(rawValue(t)), t);
    }
}

TEST(ActionEvent, MinimalEventHasThreeMembers) {
    ActionEvent e{.timeOffset = 1.5, .type = ActionType::click};
    json::Value v = toJson(e);
    EXPECT_EQ(v.size(), 3u);
    EXPECT_EQ(v["id"], e.id.uuidString());
    EXPECT_EQ(v["type"], "click");
}

TEST(ActionEvent, DecodingChecksEveryMember) {
    struct Case {
        std::string text;
        bool ok;
    } cases[] = {
        {eventJson(""), true},
        {eventJson(R"(,"location":null,"typedText":null)"), true},
        {eventJson(R"(,"keyCode":65535,"modifierFlags":1048576,"frameIndex":-1)"), true},
        {eventJson(R"(,"keyCode":65536)"), false},
        {eventJson(R"(,"modifierFlags":-1)"), false},
        {eventJson(R"(,"frameIndex":1.5)"), false},
        {eventJson(R"(,"location":{"x":1})"), false},
        {eventJson(R"(,"target":{})"), false},
        {std::string(R"({"id":")") + kId + R"(","type":"click"})", false},
        {std::string(R"({"id":")") + kId + R"(","timeOffset":1,"type":"Click"})", false},
        {R"({"id":"nope","timeOffset":1,"type":"click"})", false},
    };
    for (const auto& c : cases) {
        if (c.ok) {
            EXPECT_NO_THROW(actionEventFromJson(json::parse(c.text))) << c.text;
        } else {
            EXPECT_THROW(actionEventFromJson(json::parse(c.text)), json::DecodingError) << c.text;
        }
    }
    ActionEvent e = actionEventFromJson(json::parse(eventJson(R"(,"location":null)")));
    EXPECT_FALSE(e.location);
    EXPECT_EQ(e.id.uuidString(), "6BA7B810-9DAD-11D1-80B4-00C04FD430C8");
}

TEST(Recording, DefaultsAndDuration) {
    Recording r{.startedAt = Date(std::chrono::seconds(1000))};
    EXPECT_EQ(r.duration(), 0);
    json::Value v = toJson(r);
    for (const char* list : {"appContexts", "displays", "events", "frames"}) {
        EXPECT_TRUE(v[list].is_array() && v[list].empty()) << list;
    }
    EXPECT_FALSE(v.contains("endedAt"));
    r.endedAt = r.startedAt + std::chrono::milliseconds(90500);
    EXPECT_DOUBLE_EQ(r.duration(), 90.5);
    r.endedAt = r.startedAt - std::chrono::seconds(2);
    EXPECT_DOUBLE_EQ(r.duration(), -2);
}

TEST(Recording, DurationOfDatesFarApartDoesNotOverflow) {
    // Both dates read from a document; their distance exceeds what the clock's ticks can count.
    Recording r{.startedAt = *parseIsoDate("1678-01-01T00:00:00Z"),
                .endedAt = parseIsoDate("2261-12-31T23:59:59Z")};
    EXPECT_DOUBLE_EQ(r.duration(), 18429206399.0);
    std::swap(r.startedAt, *r.endedAt);
    EXPECT_DOUBLE_EQ(r.duration(), -18429206399.0);
}

TEST(Recording, RoundTripKeepsEverythingButSubSecondDates) {
    using namespace std::chrono;
    Recording r;
    r.startedAt = Date(seconds(1780738200)) + milliseconds(700);
    r.endedAt = r.startedAt + milliseconds(12345);
    r.displays = {DisplayInfo{1, Rect::make(0, 0, 1920, 1080), 1, true},
                  DisplayInfo{2, Rect::make(-1280, -200, 1280, 1024), 2, false}};
    r.events = {ActionEvent{.timeOffset = 0.123456789,
                            .type = ActionType::keystroke,
                            .target = AXTarget{.axSubrole = "AXSecureTextField", .isSecure = true}},
                ActionEvent{.timeOffset = 1.25,
                            .type = ActionType::drag,
                            .location = Point{1, 2},
                            .endLocation = Point{30.5, 40},
                            .frameIndex = 0}};
    r.frames = {FrameRef{.timeOffset = 1.25,
                         .relativePath = "frames/000003.png",
                         .displayID = 2,
                         .pixelSize = Size{2560, 2048},
                         .redactedRegions = {Rect::make(10.5, 20, 30, 40)}}};
    r.appContexts = {AppContextSnapshot{.timeOffset = 0, .bundleID = "org.example.app"}};

    const std::string text = encodeRecording(r);
    EXPECT_NE(text.find(R"("frames\/000003.png")"), std::string::npos);
    Recording back = decodeRecording(text);
    EXPECT_EQ(back.id, r.id);
    EXPECT_EQ(back.startedAt, Date(seconds(1780738200)));
    EXPECT_EQ(back.duration(), 13.0); // 09:30:00.7 to 09:30:13.045
    EXPECT_EQ(back.displays, r.displays);
    ASSERT_EQ(back.events.size(), 2u);
    EXPECT_EQ(back.events[0].timeOffset, 0.123456789);
    EXPECT_FALSE(back.events[0].typedText);
    EXPECT_EQ(back.events[0].target, r.events[0].target);
    EXPECT_EQ(back.events[1].endLocation, (Point{30.5, 40}));
    ASSERT_EQ(back.frames.size(), 1u);
    EXPECT_EQ(back.frames[0].relativePath, "frames/000003.png");
    EXPECT_EQ(back.frames[0].redactedRegions, r.frames[0].redactedRegions);
    EXPECT_EQ(back.appContexts[0].bundleID, "org.example.app");
    EXPECT_FALSE(back.appContexts[0].appName);
}

TEST(Recording, AnyDefectFailsTheWholeDocument) {
    Recording r{.startedAt = Date(std::chrono::seconds(1000))};
    r.frames = {FrameRef{.relativePath = "frames/000001.png", .pixelSize = Size{1, 1}}};
    r.events = {ActionEvent{.type = ActionType::click}};
    const json::Value good = toJson(r);
    struct Case {
        const char* what;
        std::function<void(json::Value&)> damage;
    } cases[] = {
        {"no frames", [](json::Value& v) { v.erase("frames"); }},
        {"frame without regions", [](json::Value& v) { v["frames"][0].erase("redactedRegions"); }},
        {"fractional date", [](json::Value& v) { v["startedAt"] = "1970-01-01T00:16:40.5Z"; }},
        {"bad event type", [](json::Value& v) { v["events"][0]["type"] = "tap"; }},
        {"lower-level failure", [](json::Value& v) { v["frames"][0]["pixelSize"].erase("width"); }},
        {"id not a UUID", [](json::Value& v) { v["id"] = "x"; }},
    };
    EXPECT_NO_THROW(recordingFromJson(good));
    for (const auto& c : cases) {
        json::Value v = good;
        c.damage(v);
        EXPECT_THROW(recordingFromJson(v), json::DecodingError) << c.what;
    }
    json::Value nullEnd = good;
    nullEnd["endedAt"] = nullptr;
    EXPECT_FALSE(recordingFromJson(nullEnd).endedAt);
    EXPECT_FALSE(appContextSnapshotFromJson(parsed(R"({"timeOffset":2})")).bundleID);
}

TEST(Recording, ANaNAnywhereFailsTheEncoding) {
    Recording r;
    r.events = {ActionEvent{.type = ActionType::click, .location = Point{std::nan(""), 0}}};
    EXPECT_THROW(encodeRecording(r), json::EncodingError);
}

TEST(Permission, CasesTitlesAndPanes) {
    EXPECT_EQ(allPermissions[0], Permission::screenRecording);
    EXPECT_EQ(allPermissions[1], Permission::accessibility);
    EXPECT_EQ(allPermissions[2], Permission::inputMonitoring);
    EXPECT_EQ(permissionFromRawValue("accessibility"), Permission::accessibility);
    EXPECT_FALSE(permissionFromRawValue("Accessibility"));
    EXPECT_EQ(title(Permission::inputMonitoring), "Input Monitoring");
    const std::pair<Permission, std::string> panes[] = {
        {Permission::screenRecording, "ScreenCapture"},
        {Permission::accessibility, "Accessibility"},
        {Permission::inputMonitoring, "ListenEvent"}};
    for (const auto& [p, pane] : panes) {
        EXPECT_EQ(settingsURL(p), std::string(settingsURLPrefix) + pane);
    }
    const std::string_view watch = rationale(Permission::inputMonitoring);
    EXPECT_EQ(watch.size(), 85u);
    std::size_t signs = 0;
    for (std::size_t at = watch.find("\u2303"); at != std::string_view::npos;
         at = watch.find("\u2303", at + 1)) {
        ++signs;
    }
    EXPECT_EQ(signs, 3u);
    EXPECT_EQ(rationale(Permission::screenRecording),
              "Capture frames of what you're doing so a skill can see the screen.");
}
