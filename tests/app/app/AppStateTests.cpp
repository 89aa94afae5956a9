#include "tests/app/AppTestSupport.h"

#include <QSettings>

using namespace kestro;
using namespace kestro::testing;

namespace {

class AppStateTest : public AppFixture {};

TEST_F(AppStateTest, StartsIdleAndMakesItsFoldersAndReadsTheTipsFlag) {
    {
        QSettings settings(settingsFile_, QSettings::IniFormat);
        settings.setValue(AppState::tipsDismissedKey, true);
    }
    AppState& app = make();
    EXPECT_EQ(app.state(), KestroState::idle());
    EXPECT_TRUE(app.skills().empty());
    EXPECT_EQ(app.creationStatus(), SkillCreationStatus::idle());
    EXPECT_FALSE(app.showCallSkillTip());
    EXPECT_TRUE(app.tipsDismissed());
    EXPECT_FALSE(app.paletteOpen());
    for (const auto& folder : {Paths::recordings(), Paths::skills(), Paths::logs()}) {
        EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
    }
    // The skills were loaded once, and the main window told there are none.
    EXPECT_EQ(surfaces_.calls, std::vector<std::string>{"adapt empty"});
}

TEST_F(AppStateTest, DismissingTipsIsStoredForTheNextStart) {
    AppState& app = make();
    EXPECT_FALSE(app.tipsDismissed());
    app.dismissTips();
    EXPECT_TRUE(app.tipsDismissed());
    app_.reset();
    EXPECT_TRUE(make().tipsDismissed());
    EXPECT_FALSE(app_->hasPillTip());
}

TEST_F(AppStateTest, StatusTitlePerState) {
    grantAll();
    AppState& app = make();
    EXPECT_EQ(app.statusTitle(), "Ready");
    app.toggleRecording();
    EXPECT_EQ(app.statusTitle(), QString::fromUtf8("Recording\u2026"));
    click();
    app.toggleRecording();
    EXPECT_EQ(app.statusTitle(), QString::fromUtf8("Synthesizing skill\u2026"));
    runUntil([&] { return app.state() == KestroState::idle(); });

    setKey();
    connectEditorServer();
    app_.reset();
    AppState& again = make();
    again.cast(Skill{.name = "", .appScope = {"org.example.Editor"}});
    EXPECT_EQ(again.statusTitle(), "Running: ");
    again.panic();
    again.cast(Skill{.name = "Weekly & co", .appScope = {"org.example.Editor"}});
    EXPECT_EQ(again.statusTitle(), "Running: Weekly & co");
}

TEST_F(AppStateTest, BootShowsMainWindowPillAndOnboardingWhenPermissionsMissing) {
    for (bool all : {true, false}) {
        SCOPED_TRACE(all);
        grant(all, all, true);
        AppState& app = make();
        surfaces_.clear();
        app.bootUI();
        std::vector<std::string> expected = {"main window", "pill shown"};
        if (!all) {
            expected.push_back("onboarding");
        }
        EXPECT_EQ(surfaces_.calls, expected);
        app_.reset();
    }
}

// Which permissions let the queued activation start the hotkey tap, and what later refreshes do.
TEST_F(AppStateTest, HotkeyTapStartsAtActivationAndWhenAllBecomeGranted) {
    struct Case {
        const char* what;
        bool screen, accessibility, input;
        bool runningAfterLaunch;
    };
    const Case cases[] = {
        {"all granted", true, true, true, true},
        {"input monitoring only", false, false, true, true},
        {"accessibility only", false, true, false, true},
        {"screen recording only", true, false, false, false},
        {"none", false, false, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        grant(c.screen, c.accessibility, c.input);
        AppState& app = make();
        // Nothing starts inside the constructor: the activation is queued.
        EXPECT_FALSE(app.hotkeysRunning());
        drain();
        EXPECT_EQ(app.hotkeysRunning(), c.runningAfterLaunch);
        app_.reset();
    }
}

TEST_F(AppStateTest, PollStartsTheTapOnlyWhenAllThreeBecomeGranted) {
    grant(false, false, false);
    AppState& app = make();
    drain();
    ASSERT_FALSE(app.hotkeysRunning());
    // One of the two that would do at launch is not enough later.
    grant(false, false, true);
    queue_.advance(AppState::permissionPollInterval);
    EXPECT_FALSE(app.hotkeysRunning());
    grantAll();
    queue_.advance(AppState::permissionPollInterval);
    EXPECT_TRUE(app.hotkeysRunning());
}

// Another window refreshing first must not hide the change to all granted from the poll.
TEST_F(AppStateTest, TapStartsWhoeverSawThePermissionsBecomeGranted) {
    grant(false, false, false);
    AppState& app = make();
    drain();
    grantAll();
    app.permissions().refresh(); // as the onboarding does when it appears
    drain();
    EXPECT_TRUE(app.hotkeysRunning());

    // And the poll after such a refresh, as the original race had it.
    app_.reset();
    grant(false, false, false);
    AppState& second = make();
    drain();
    grantAll();
    second.permissions().refresh();
    queue_.advance(AppState::permissionPollInterval);
    EXPECT_TRUE(second.hotkeysRunning());
}

// Control-/ held by another client at start-up is taken once that client lets it go.
TEST_F(AppStateTest, PollTakesControlSlashOnceAnotherClientLetsItGo) {
    grantAll();
    taps_.heldElsewhere = {
        platform::KeyChord{44, platform::event_flag::control, platform::event_flag::command, true}};
    AppState& app = make();
    drain();
    ASSERT_TRUE(app.hotkeysRunning());
    EXPECT_FALSE(key(44, controlFlag)); // left to the other client
    EXPECT_FALSE(app.paletteOpen());

    queue_.advance(AppState::permissionPollInterval);
    EXPECT_FALSE(key(44, controlFlag)); // still held there
    taps_.heldElsewhere.clear();
    queue_.advance(AppState::permissionPollInterval);
    EXPECT_TRUE(key(44, controlFlag));
    EXPECT_TRUE(app.paletteOpen());
    EXPECT_EQ(taps_.liveTapCount(), 1u);
}

TEST_F(AppStateTest, HotkeysReachTheRoads) {
    grantAll();
    setKey();
    connectEditorServer();
    AppState& app = make();
    drain();
    ASSERT_TRUE(app.hotkeysRunning());

    doubleTapControl();
    EXPECT_EQ(app.state(), KestroState::recording());
    doubleTapControl();
    // Nothing was done in between: the empty recording ends at once.
    EXPECT_EQ(app.state(), KestroState::idle());
    EXPECT_EQ(app.creationStatus(), SkillCreationStatus::idle());

    EXPECT_TRUE(key(44, controlFlag)); // Control-/ is consumed
    EXPECT_TRUE(app.paletteOpen());

    EXPECT_FALSE(key(53)); // Escape passes while nothing is cast
    app.cast(Skill{.name = "s", .appScope = {"org.example.Editor"}});
    ASSERT_TRUE(app.state().isCasting());
    ASSERT_TRUE(castTransport_->awaitRequests(1));
    EXPECT_TRUE(key(53));
    EXPECT_EQ(app.state(), KestroState::idle());
    EXPECT_TRUE(runUntil([&] { return !log().empty(); }));
    EXPECT_EQ(log().back(), "Kestro: run \"s\" aborted");
}

TEST_F(AppStateTest, PillTipRules) {
    grantAll();
    AppState& app = make();
    // First recording with no skill yet.
    app.toggleRecording();
    EXPECT_TRUE(app.hasPillTip());
    app.toggleRecording();
    EXPECT_FALSE(app.hasPillTip()); // synthesizing
    runUntil([&] { return app.state() == KestroState::idle(); });
    EXPECT_FALSE(app.hasPillTip());
}

TEST_F(AppStateTest, PaletteHidesThePillUntilItsOwnCloseAndTurnsTheTipOff) {
    AppState& app = make();
    surfaces_.clear();
    app.openPalette();
    EXPECT_TRUE(app.paletteOpen());
    EXPECT_EQ(surfaces_.calls, (std::vector<std::string>{"pill hidden", "palette"}));

    // A second opening closes the first palette; the pill stays hidden for the new one.
    surfaces_.clear();
    app.openPalette();
    EXPECT_TRUE(app.paletteOpen());
    EXPECT_EQ(surfaces_.count("pill revealed"), 0);

    surfaces_.closePalette();
    EXPECT_FALSE(app.paletteOpen());
    EXPECT_EQ(surfaces_.calls.back(), "pill revealed");
}

} // namespace
