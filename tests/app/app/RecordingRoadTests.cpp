#include "tests/app/AppTestSupport.h"
#include "tests/support/StorageWatch.h"

#include "KestroCore/RecordingStore.h"
#include "KestroCore/Secrets.h"
#include "KestroCore/SkillStore.h"

#include <algorithm>

using namespace kestro;
using namespace kestro::testing;
namespace fs = std::filesystem;
using Kind = KestroState::Kind;
using StatusKind = SkillCreationStatus::Kind;

namespace {

class RecordingRoadTest : public AppFixture {
public:
    struct Case {
        const char* what;
        bool permissions = true;
        bool tapRefused = false;
        bool events = true;
        bool key = true;
        int serviceStatus = 200;
        bool recordingSaveFails = false;
        bool skillSaveFails = false;
        int existingSkills = 0;
    };
    struct Outcome {
        std::vector<Kind> states;
        SkillCreationStatus status;
        std::vector<std::string> log;
        bool tip = false;
        int onboarding = 0;
        std::size_t skills = 0;
        std::size_t synthesisRequests = 0;
        std::string recordingID;
    };

    Outcome run(const Case& c) {
        grant(c.permissions, c.permissions, c.permissions);
        if (c.key) {
            setKey();
        }
        if (c.serviceStatus == 200) {
            synthesisTransport_->reply(200, modelReply(draftText()));
        } else {
            synthesisTransport_->reply(c.serviceStatus, "overloaded");
        }
        for (int i = 0; i < c.existingSkills; ++i) {
            SkillStore().save(Skill{.name = "Existing " + std::to_string(i)});
        }
        taps_.refuseTaps = c.tapRefused;
        AppState& app = make();
        drain();
        Outcome out;
        const auto watch = QObject::connect(&app, &AppState::stateChanged,
                                            [&] { out.states.push_back(app.state().kind); });

        app.toggleRecording();
        if (c.events) {
            click();
        }
        if (c.recordingSaveFails) {
            // A folder where the document goes makes its write fail.
            for (const auto& entry : fs::directory_iterator(Paths::recordings())) {
                fs::create_directory(entry.path() / "recording.json");
            }
        }
        if (c.skillSaveFails) {
            fs::remove_all(Paths::skills());
            writeFile(Paths::skills(), "not a folder");
        }
        app.toggleRecording();
        runUntil([&] {
            return app.state() == KestroState::idle() &&
                   app.creationStatus().kind != StatusKind::creating;
        });
        QObject::disconnect(watch);
        out.status = app.creationStatus();
        out.log = log();
        out.tip = app.showCallSkillTip();
        out.onboarding = surfaces_.count("onboarding");
        out.skills = app.skills().size();
        out.synthesisRequests = synthesisTransport_->requests().size();
        if (fs::is_directory(Paths::recordings())) {
            for (const auto& entry : fs::directory_iterator(Paths::recordings())) {
                out.recordingID = entry.path().filename().string();
            }
        }
        return out;
    }
};

const std::string noKeyTail = "). Skipping synthesis; recording saved.";

TEST_F(RecordingRoadTest, Outcomes) {
    const std::vector<Kind> fullRoad = {Kind::recording, Kind::synthesizing, Kind::idle};
    struct Expect {
        Case c;
        std::vector<Kind> states;
        StatusKind status;
        bool tip;
        std::size_t skills;
        // The one log line: "stored", "no key", "failed", "could not start" or none.
        std::string line;
    };
    const Expect table[] = {
        {{.what = "permissions missing", .permissions = false}, {}, StatusKind::idle, false, 0, ""},
        {{.what = "input tap refused", .tapRefused = true},
         {Kind::recording, Kind::idle, Kind::recording, Kind::idle},
         StatusKind::idle,
         false,
         0,
         "could not start"},
        {{.what = "nothing recorded", .events = false}, fullRoad, StatusKind::idle, false, 0, ""},
        {{.what = "no key", .key = false}, fullRoad, StatusKind::failure, false, 0, "no key"},
        {{.what = "first skill"}, fullRoad, StatusKind::success, true, 1, "stored"},
        {{.what = "another skill", .existingSkills = 2},
         fullRoad,
         StatusKind::success,
         false,
         3,
         "stored"},
        {{.what = "service fails", .serviceStatus = 529},
         fullRoad,
         StatusKind::failure,
         false,
         0,
         "failed"},
        {{.what = "recording not saved", .recordingSaveFails = true},
         fullRoad,
         StatusKind::failure,
         false,
         0,
         "failed"},
        {{.what = "recording not saved, no key", .key = false, .recordingSaveFails = true},
         fullRoad,
         StatusKind::failure,
         false,
         0,
         "failed"},
        {{.what = "skill not stored", .skillSaveFails = true},
         fullRoad,
         StatusKind::failure,
         false,
         0,
         "failed"},
    };
    for (const auto& e : table) {
        SCOPED_TRACE(e.c.what);
        const Outcome out = run(e.c);
        EXPECT_EQ(out.states, e.states);
        EXPECT_EQ(out.status.kind, e.status);
        EXPECT_EQ(out.tip, e.tip);
        EXPECT_EQ(out.skills, e.skills);
        // Each of the two toggles asks for the permissions.
        EXPECT_EQ(out.onboarding, e.c.permissions ? 0 : 2);
        const std::string failed =
            "Kestro: synthesis failed for recording " + out.recordingID + ": ";
        if (e.line.empty()) {
            EXPECT_TRUE(out.log.empty()) << out.log.front();
        } else {
            // A refused tap refuses both toggles.
            ASSERT_EQ(out.log.size(), e.c.tapRefused ? 2u : 1u);
            EXPECT_EQ(out.log.front(), out.log.back());
            const std::string& line = out.log.front();
            if (e.line == "stored") {
                EXPECT_EQ(out.status, SkillCreationStatus::success("File the weekly report"));
                const Skill& made = app().skills().front().name == "File the weekly report"
                                        ? app().skills().front()
                                        : app().skills().back();
                EXPECT_EQ(line, "Kestro: synthesized skill \"File the weekly report\" (2 steps, 1 "
                                "parameters) \u2192 " +
                                    made.id.uuidString());
            } else if (e.line == "no key") {
                EXPECT_EQ(line, "Kestro: recorded 1 events \u2192 " + out.recordingID +
                                    ", but no Anthropic API key found (set ANTHROPIC_API_KEY or "
                                    "write " +
                                    Secrets::anthropicKeyFileURL().string() + noKeyTail);
                EXPECT_TRUE(
                    fs::exists(Paths::recording(*Uuid::parse(out.recordingID)) / "recording.json"));
            } else if (e.line == "failed") {
                EXPECT_EQ(line.rfind(failed, 0), 0u) << line;
                EXPECT_GT(line.size(), failed.size());
                if (e.c.serviceStatus != 200) {
                    EXPECT_EQ(line, failed + "Anthropic API HTTP 529: overloaded");
                }
            } else {
                EXPECT_EQ(line,
                          "Kestro: recording could not start \u2014 the input tap was refused");
            }
        }
        // An unsaved recording is not sent: a skill would point at nothing.
        if (e.c.recordingSaveFails || !e.c.key || !e.c.events || !e.c.permissions) {
            EXPECT_EQ(out.synthesisRequests, 0u);
        }
        // Reloads follow only a stored skill.
        const int adapts = surfaces_.count("adapt empty") + surfaces_.count("adapt with skills");
        EXPECT_EQ(adapts, e.status == StatusKind::success ? 2 : 1);

        app_.reset();
        surfaces_.clear();
        clearLog();
        ::unsetenv("ANTHROPIC_API_KEY");
        fs::remove_all(Paths::support());
        synthesisTransport_ = std::make_shared<platform::fake::FakeHttpTransport>();
        platform::HttpTransport::setShared(synthesisTransport_);
    }
}

// A skill whose plan cannot be written leaves no half-written folder behind its failure.
TEST_F(RecordingRoadTest, HalfStoredSkillIsRemoved) {
    grantAll();
    setKey();
    // A coordinate too large for a double is read as infinity, which no stored document holds:
    // SKILL.md is written, the plan file is not.
    std::string draft = draftText();
    draft.replace(draft.find("\"is_destructive\":false}"), 0,
                  "\"location\":{\"x\":1e999,\"y\":1},");
    synthesisTransport_->reply(200, modelReply(draft));
    AppState& app = make();
    drain();
    app.toggleRecording();
    click();
    app.toggleRecording();
    runUntil([&] { return app.creationStatus().kind == StatusKind::failure; });
    ASSERT_EQ(log().size(), 1u);
    EXPECT_NE(log().front().find("synthesis failed"), std::string::npos) << log().front();
    EXPECT_EQ(skillFolders(), 0u);
    EXPECT_TRUE(app.skills().empty());
}

// A skill written in full whose folder cannot be flushed afterwards is stored: it stays listed
// and on disk, and the log says what a power loss may cost.
TEST_F(RecordingRoadTest, ASkillWhoseFolderCannotBeFlushedStays) {
    grantAll();
    setKey();
    synthesisTransport_->reply(200, modelReply(draftText()));
    AppState& app = make();
    drain();
    FolderSyncWatch failing(Paths::skills());
    app.toggleRecording();
    click();
    app.toggleRecording();
    ASSERT_TRUE(runUntil([&] { return app.creationStatus().kind != StatusKind::creating; }));
    EXPECT_EQ(app.creationStatus(), SkillCreationStatus::success("File the weekly report"));
    ASSERT_EQ(app.skills().size(), 1u);
    const fs::path folder = SkillStore().folder(app.skills()[0]);
    EXPECT_TRUE(fs::exists(folder / SkillStore::markdownFileName));
    EXPECT_TRUE(fs::exists(folder / SkillStore::planFileName));
    EXPECT_EQ(SkillStore().loadAll().size(), 1u);
    const auto lines = log();
    for (const char* file : {SkillStore::markdownFileName, SkillStore::planFileName}) {
        EXPECT_EQ(std::count(lines.begin(), lines.end(),
                             "Kestro: saved " + (folder / file).string() +
                                 ", but its folder could not be flushed (Input/output error); "
                                 "a power loss may undo the save"),
                  1)
            << file;
    }
    EXPECT_EQ(std::count(lines.begin(), lines.end(),
                         "Kestro: made the folder " + folder.string() +
                             ", but the folder above it could not be flushed (Input/output "
                             "error); a power loss may undo it"),
              1);
    EXPECT_EQ(lines.back().rfind("Kestro: synthesized skill \"File the weekly report\"", 0), 0u)
        << lines.back();
}

// The recorder starts once the recording frame is drawn; a stop or an ending that comes first
// still finds the recording it asked for, never the one before.
TEST_F(RecordingRoadTest, RecorderStartsOnceTheFrameIsDrawn) {
    grantAll();
    AppState& app = make();
    drain();
    surfaces_.holdOverlayDrawn = true;
    const std::size_t hotkeyTaps = taps_.liveTapCount();
    auto recorderTaps = [&] { return taps_.liveTapCount() - hotkeyTaps; };

    // A first recording, to be the last one a stop could wrongly hand back.
    app.toggleRecording();
    EXPECT_EQ(app.state().kind, Kind::recording);
    EXPECT_EQ(recorderTaps(), 0u) << "started before the frame was drawn";
    surfaces_.drawOverlay();
    EXPECT_EQ(recorderTaps(), 1u);
    click();
    app.toggleRecording();
    ASSERT_TRUE(runUntil([&] { return app.state() == KestroState::idle(); }));

    // Stopped before the frame was drawn: that recording runs and stops, with no events.
    clearLog();
    app.toggleRecording();
    app.toggleRecording();
    ASSERT_TRUE(runUntil([&] { return app.state() == KestroState::idle(); }));
    EXPECT_TRUE(log().empty()) << log()[0];
    surfaces_.drawOverlay(); // late: starts nothing
    EXPECT_EQ(recorderTaps(), 0u);
    EXPECT_EQ(app.state().kind, Kind::idle);

    // The tap refused once the frame is drawn: back to idle, with the line.
    clearLog();
    taps_.refuseTaps = true;
    app.toggleRecording();
    EXPECT_TRUE(log().empty());
    surfaces_.drawOverlay();
    EXPECT_EQ(app.state().kind, Kind::idle);
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0], "Kestro: recording could not start \u2014 the input tap was refused");
    taps_.refuseTaps = false;

    // Ending before the frame was drawn: ends at once, keeps nothing, starts nothing after.
    clearLog();
    const std::size_t stored = RecordingStore().loadAll().size();
    app.toggleRecording();
    int ended = 0;
    app.endFromOutside([&] { ++ended; });
    EXPECT_EQ(ended, 1);
    surfaces_.drawOverlay();
    EXPECT_EQ(recorderTaps(), 0u);
    EXPECT_TRUE(log().empty());
    EXPECT_EQ(RecordingStore().loadAll().size(), stored);
}

TEST_F(RecordingRoadTest, TogglesAndCastsAreIgnoredWhileSynthesizing) {
    grantAll();
    setKey();
    connectEditorServer();
    AppState& app = make();
    drain();
    app.toggleRecording();
    click();
    // The stop waits for its screenshot.
    capture_.setHeld(true);
    clock_.advance(1);
    click(30, 30);
    app.toggleRecording();
    ASSERT_EQ(app.state(), KestroState::synthesizing());
    app.toggleRecording();
    app.toggleRecording();
    app.cast(Skill{.name = "s", .appScope = {"org.example.Editor"}});
    // An Escape that arrives late, after its cast, leaves the synthesis alone.
    app.panic();
    drain();
    EXPECT_EQ(app.state(), KestroState::synthesizing());
    app.toggleRecording();
    EXPECT_EQ(app.state(), KestroState::synthesizing());
    EXPECT_EQ(castTransport_->requests().size(), 0u);
    capture_.setHeld(false);
    synthesisTransport_->reply(200, modelReply(draftText()));
    EXPECT_TRUE(runUntil([&] { return app.state() == KestroState::idle(); }));
    EXPECT_EQ(synthesisTransport_->requests().size(), 1u);
}

TEST_F(RecordingRoadTest, ToggleIsIgnoredWhileCasting) {
    grantAll();
    setKey();
    connectEditorServer();
    AppState& app = make();
    app.cast(Skill{.name = "s", .appScope = {"org.example.Editor"}});
    app.toggleRecording();
    EXPECT_EQ(app.state(), KestroState::casting("s"));
}

// Each reset looks only at the kind of status: an earlier one clears a later outcome.
TEST_F(RecordingRoadTest, CreationStatusResets) {
    grantAll();
    setKey();
    AppState& app = make();
    drain();
    auto recordOnce = [&] {
        synthesisTransport_->reply(200, modelReply(draftText()));
        app.toggleRecording();
        click();
        app.toggleRecording();
        ASSERT_TRUE(runUntil([&] { return app.creationStatus().kind == StatusKind::success; }));
    };
    recordOnce(); // success at 0 s
    queue_.advance(1.0);
    recordOnce(); // success at 1 s
    queue_.advance(2.0);
    EXPECT_EQ(app.creationStatus().kind, StatusKind::success);
    queue_.advance(0.4); // the first reset, at 3.4 s
    EXPECT_EQ(app.creationStatus(), SkillCreationStatus::idle());

    // A reset leaves "creating" alone.
    recordOnce(); // at 3.4 s
    queue_.advance(1.0);
    app.toggleRecording();
    click();
    capture_.setHeld(true);
    clock_.advance(1);
    click(40, 40);
    app.toggleRecording();
    EXPECT_EQ(app.creationStatus(), SkillCreationStatus::creating());
    queue_.advance(3.0);
    EXPECT_EQ(app.creationStatus(), SkillCreationStatus::creating());
    capture_.setHeld(false);
}

TEST_F(RecordingRoadTest, CallSkillTipComesBackAfterAllSkillsWereDeleted) {
    grantAll();
    setKey();
    AppState& app = make();
    drain();
    auto recordOnce = [&] {
        synthesisTransport_->reply(200, modelReply(draftText()));
        app.toggleRecording();
        click();
        app.toggleRecording();
        runUntil([&] { return app.creationStatus().kind == StatusKind::success; });
    };
    recordOnce();
    EXPECT_TRUE(app.showCallSkillTip());
    EXPECT_TRUE(app.hasPillTip() == false); // status still shows the success
    queue_.advance(AppState::creationResetDelay);
    EXPECT_TRUE(app.hasPillTip());
    app.openPalette();
    EXPECT_FALSE(app.showCallSkillTip());
    fs::remove_all(Paths::skills());
    app.reloadSkills();
    recordOnce();
    EXPECT_TRUE(app.showCallSkillTip());
}

} // namespace

namespace {

class EndingTest : public AppFixture {
protected:
    // A front window that answers over accessibility: without one its secure fields are
    // unknown, and a key frame fails before any screenshot is asked for.
    void frontWindowAnswers() {
        auto editor = access_.element("editor", 100);
        auto window = access_.element("window", 100);
        window->setFrame(Rect::make(0, 0, 320, 200));
        editor->set(platform::ax::focusedWindow, platform::AXElementRef(window));
        access_.applicationElements[100] = editor;
    }
};

TEST_F(EndingTest, FromOutsideARecordingIsSavedWithoutSynthesisAndACastAborted) {
    grantAll();
    setKey();
    AppState& app = make();
    drain();
    int ended = 0;

    // Idle: nothing to keep, it ends at once.
    app.endFromOutside([&] { ++ended; });
    EXPECT_EQ(ended, 1);
    app_.reset();

    // Recording: stopped and saved, never sent to the model.
    AppState& recording = make();
    drain();
    recording.toggleRecording();
    click();
    recording.endFromOutside([&] { ++ended; });
    recording.endFromOutside([&] { ++ended; }); // a second signal changes nothing
    ASSERT_TRUE(runUntil([&] { return ended == 2; }));
    EXPECT_EQ(synthesisTransport_->requests().size(), 0u);
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0].rfind("Kestro: ending; recording ", 0), 0u) << log()[0];
    EXPECT_NE(log()[0].find("(1 events) without synthesis"), std::string::npos) << log()[0];
    const auto recorded = RecordingStore().loadAll();
    EXPECT_EQ(recorded.size(), 1u);
    EXPECT_EQ(ended, 2);
    app_.reset();

    // Casting: the request in flight is cancelled and it ends at once.
    connectEditorServer();
    AppState& casting = make();
    casting.cast(Skill{.name = "Weekly report", .appScope = {"org.example.Editor"}});
    ASSERT_TRUE(castTransport_->awaitRequests(1));
    casting.endFromOutside([&] { ++ended; });
    EXPECT_EQ(ended, 3);
}

// A screenshot that never comes back does not hold the ending: the session's end kills soon
// after it asks. Each case has a capture of its own: one that was interrupted fails every
// screenshot after, and would let a stop finish without waiting.
class EndingWithAHeldScreenshot : public EndingTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EndingWithAHeldScreenshot, FromOutsideItIsNotWaitedFor) {
    const bool stoppedFirst = GetParam(); // the user's stop already waits for the screenshot
    grantAll();
    setKey();
    AppState& app = make();
    drain();
    frontWindowAnswers(); // so the key frame gets as far as the screenshot
    capture_.setHeld(true);
    app.toggleRecording();
    click();
    ASSERT_TRUE(runUntil([&] { return capture_.calls().size() == 1; }));
    if (stoppedFirst) {
        app.toggleRecording();
        drain();
        ASSERT_TRUE(log().empty());
    }
    int ended = 0;
    app.endFromOutside([&] { ++ended; });
    drain(); // the clock stands still: nothing waits for a time limit
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(synthesisTransport_->requests().size(), 0u);
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0].rfind("Kestro: ending; recording ", 0), 0u) << log()[0];
    EXPECT_NE(log()[0].find("(1 events) without synthesis"), std::string::npos) << log()[0];
    const auto recorded = RecordingStore().loadAll();
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_TRUE(recorded[0].frames.empty());
    EXPECT_FALSE(recorded[0].events[0].frameIndex);
    capture_.setHeld(false);
}

INSTANTIATE_TEST_SUITE_P(Moments, EndingWithAHeldScreenshot, ::testing::Bool(), [](const auto& p) {
    return std::string(p.param ? "WhileAStopWaits" : "WhileRecording");
});

TEST_F(EndingTest, ALostDisplayFinishesAStopWaitingForItsScreenshots) {
    grantAll();
    AppState& app = make();
    drain();
    frontWindowAnswers();
    bool lost = false;
    app.onDisplayLost = [&] { lost = true; };
    capture_.setHeld(true); // the key frame never comes back
    app.toggleRecording();
    click();
    ASSERT_TRUE(runUntil([&] { return capture_.calls().size() == 1; }));
    app.toggleRecording(); // the stop waits for it
    drain();
    EXPECT_TRUE(log().empty());
    app.displayLost();
    EXPECT_TRUE(lost);
    ASSERT_EQ(log().size(), 1u);
    EXPECT_EQ(log()[0].rfind("Kestro: the display server went away; recording ", 0), 0u)
        << log()[0];
    EXPECT_EQ(RecordingStore().loadAll().size(), 1u);
}

} // namespace
