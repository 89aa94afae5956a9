#include "Kestro/mainwindow/MainViewModel.h"

#include <gtest/gtest.h>

using namespace kestro;

namespace {

Skill named(const std::string& name) {
    Skill s;
    s.name = name;
    return s;
}

TEST(MainViewModel, RecordButtonBannerAndEmptyStateFollowStateAndPermissions) {
    using Kind = SkillCreationStatus::Kind;
    struct Case {
        KestroState state;
        bool allGranted;
        Kind creation;
        const char* label;
        const char* symbol;
        bool red;
        bool enabled;
        const char* emptyText;
    };
    const char* first = "Double-tap Control (\u2303) to create your first skill";
    const Case cases[] = {
        {KestroState::idle(), true, Kind::idle, "Record  (\u2303\u2303)", "record.circle", false,
         true, first},
        {KestroState::idle(), false, Kind::idle, "Record  (\u2303\u2303)", "record.circle", false,
         false, first},
        {KestroState::recording(), false, Kind::idle, "Stop recording", "stop.fill", true, true,
         "Double-tap Control to finish training your skill"},
        {KestroState::recording(), true, Kind::creating, "Stop recording", "stop.fill", true, true,
         "Double-tap Control to finish training your skill"},
        {KestroState::synthesizing(), true, Kind::creating, "Working\u2026", "hourglass", false,
         false, "Building your skill\u2026"},
        {KestroState::casting("Send"), true, Kind::failure, "Working\u2026", "hourglass", false,
         false, first},
        {KestroState::idle(), true, Kind::success, "Record  (\u2303\u2303)", "record.circle", false,
         true, first},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        auto button = MainViewModel::recordButton(c.state, c.allGranted);
        EXPECT_EQ(button.label, c.label);
        EXPECT_EQ(button.symbol, c.symbol);
        EXPECT_EQ(button.red, c.red);
        EXPECT_EQ(button.enabled, c.enabled);
        EXPECT_EQ(button.toggles, c.state.kind == KestroState::Kind::idle ||
                                      c.state.kind == KestroState::Kind::recording);
        EXPECT_EQ(MainViewModel::showsBanner(c.allGranted), !c.allGranted);
        EXPECT_EQ(MainViewModel::emptyStateText(c.state, SkillCreationStatus{.kind = c.creation}),
                  c.emptyText);
    }
}

TEST(MainViewModel, AdaptKeepsTheTopLeftAndAWidthTheUserChose) {
    struct Case {
        Rect current;
        bool hasSkills;
        std::optional<Rect> expected;
    };
    const Case cases[] = {
        {Rect::make(100, 50, 720, 520), true, Rect::make(100, 50, 820, 600)},
        {Rect::make(100, 50, 820, 600), false, Rect::make(100, 50, 720, 520)},
        {Rect::make(100, 50, 1000, 600.5), true, std::nullopt},
        {Rect::make(100, 50, 1000, 599.1), true, std::nullopt},
        {Rect::make(100, 50, 1000, 601), true, Rect::make(100, 50, 820, 600)},
        {Rect::make(0, 0, 500, 300), false, Rect::make(0, 0, 720, 520)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MainViewModel::adaptedFrame(c.current, c.hasSkills), c.expected)
            << c.current.size.width << "x" << c.current.size.height;
    }
}

std::vector<std::string> titles(const std::vector<TrayMenuModel::Entry>& entries) {
    std::vector<std::string> out;
    for (const auto& e : entries) {
        std::string t = e.kind == TrayMenuModel::Entry::Kind::separator ? "--" : e.title;
        if (e.kind == TrayMenuModel::Entry::Kind::item && !e.enabled) {
            t += " [off]";
        }
        out.push_back(t);
    }
    return out;
}

TEST(TrayMenuModel, EntriesFollowStatePermissionsAndSkills) {
    using V = std::vector<std::string>;
    const std::vector<Skill> none;
    const std::vector<Skill> two = {named("Send & file"), named("Open <b>mail</b>")};
    struct Case {
        const char* name;
        KestroState state;
        bool allGranted;
        const std::vector<Skill>& skills;
        V expected;
    };
    const Case cases[] = {
        {"missing permission, idle",
         KestroState::idle(),
         false,
         two,
         {"Ready", "--", "Finish setup\u2026", "--", "Start recording  (\u2303\u2303) [off]",
          "Run a skill\u2026  (\u2303/) [off]", "--", "Send & file", "Open <b>mail</b>", "--",
          "Onboarding & Permissions\u2026", "Quit Kestro"}},
        {"all granted, idle, no skills",
         KestroState::idle(),
         true,
         none,
         {"Ready", "--", "Start recording  (\u2303\u2303)", "Run a skill\u2026  (\u2303/)", "--",
          "No skills yet \u2014 record one with \u2303\u2303", "--",
          "Onboarding & Permissions\u2026", "Quit Kestro"}},
        {"recording with a permission revoked",
         KestroState::recording(),
         false,
         none,
         {"Ready", "--", "Finish setup\u2026", "--", "Stop recording  (\u2303\u2303)",
          "Run a skill\u2026  (\u2303/) [off]", "--",
          "No skills yet \u2014 record one with \u2303\u2303", "--",
          "Onboarding & Permissions\u2026", "Quit Kestro"}},
        {"casting",
         KestroState::casting("x"),
         true,
         two,
         {"Ready", "--", "Recording\u2026 [off]", "Run a skill\u2026  (\u2303/) [off]", "--",
          "Send & file", "Open <b>mail</b>", "--", "Onboarding & Permissions\u2026",
          "Quit Kestro"}},
        {"synthesizing",
         KestroState::synthesizing(),
         true,
         none,
         {"Ready", "--", "Recording\u2026 [off]", "Run a skill\u2026  (\u2303/) [off]", "--",
          "No skills yet \u2014 record one with \u2303\u2303", "--",
          "Onboarding & Permissions\u2026", "Quit Kestro"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto entries = TrayMenuModel::entries("Ready", c.state, c.allGranted, c.skills);
        EXPECT_EQ(titles(entries), c.expected);
        for (const auto& e : entries) {
            if (e.action == TrayMenuModel::Action::castSkill) {
                EXPECT_TRUE(e.skill.has_value());
            }
        }
        EXPECT_TRUE(entries.front().headline);
        EXPECT_TRUE(entries.back().quitShortcut);
        EXPECT_EQ(entries.back().action, TrayMenuModel::Action::quit);
    }
    EXPECT_EQ(TrayMenuModel::escapedTitle("Send & file && more"), "Send && file &&&& more");
}

TEST(OnboardingModel, ThePageIsTheFirstMissingPermission) {
    using P = Permission;
    using S = PermissionStatus;
    struct Case {
        std::map<P, S> statuses;
        std::size_t index;
    };
    const Case cases[] = {
        {{}, 0},
        {{{P::screenRecording, S::denied},
          {P::accessibility, S::granted},
          {P::inputMonitoring, S::granted}},
         0},
        {{{P::screenRecording, S::granted},
          {P::accessibility, S::notDetermined},
          {P::inputMonitoring, S::denied}},
         1},
        {{{P::screenRecording, S::granted}, {P::accessibility, S::granted}}, 2},
        {{{P::screenRecording, S::granted},
          {P::accessibility, S::granted},
          {P::inputMonitoring, S::granted}},
         3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OnboardingModel::currentIndex(c.statuses), c.index);
    }
    EXPECT_EQ(OnboardingModel::step(0).counter, "Step 1 of 3");
    EXPECT_EQ(OnboardingModel::step(0).heading, "Kestro needs to see your screen.");
    EXPECT_EQ(OnboardingModel::step(0).button, "Give access to screen recording");
    EXPECT_EQ(OnboardingModel::step(1).heading, "Kestro needs to control your screen.");
    EXPECT_EQ(OnboardingModel::step(1).button, "Give access to accessibility");
    EXPECT_EQ(OnboardingModel::step(2).counter, "Step 3 of 3");
    EXPECT_EQ(OnboardingModel::step(2).heading, "Kestro needs to read your shortcuts.");
    EXPECT_EQ(OnboardingModel::step(2).button, "Give access to input monitoring");
    EXPECT_FALSE(OnboardingModel::step(1).explanation.empty());
}

} // namespace
