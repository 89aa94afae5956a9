#include "Kestro/tray/TrayMenuModel.h"

#include <gtest/gtest.h>

using namespace kestro;

namespace {

Skill named(const std::string& name) {
    Skill s;
    s.name = name;
    return s;
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

} // namespace
