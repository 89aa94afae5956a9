#include "Kestro/text/SkillIcon.h"

#include <gtest/gtest.h>

using namespace kestro;

TEST(SkillIcon, FirstHittingGroupWins) {
    struct Case {
        const char* name;
        const char* trigger;
        const char* summary;
        std::vector<std::string> scope;
        const char* expected;
    };
    const Case cases[] = {
        {"", "", "", {}, "bolt.fill"},
        {"Tidy up", "", "", {}, "bolt.fill"},
        {"Summarize with ChatGPT", "", "", {}, "message"}, // "chat" in group 2 comes first
        {"Send invoice", "", "", {}, "creditcard"},
        {"Download report", "", "", {}, "doc.text"},
        {"Tidy downloads", "", "", {"com.apple.finder"}, "magnifyingglass"},
        {"Tidy", "", "", {"com.apple.mail"}, "envelope"},
        {"Take screen", "capture now", "", {}, "camera.viewfinder"}, // spans two fields
        {"PAYMENT RUN", "", "", {}, "creditcard"},
        {"", "", "SUMMARIZE the thread", {}, "sparkles"},
        {"Ship it",
         "",
         "",
         {"org.kde.KONSOLE", "com.github.desktop"},
         "chevron.left.forwardslash.chevron.right"},
        {"Forecast", "", "", {}, "cloud.sun"},
        // "İ" lower-cases to "i" plus a combining dot, so "SİGN İN" is not "sign in".
        {"S\xC4\xB0GN \xC4\xB0N", "", "", {}, "bolt.fill"},
        {"SIGN IN", "", "", {}, "key"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SkillIcon::symbol(c.name, c.trigger, c.summary, c.scope), c.expected)
            << "name '" << c.name << "'";
    }
}

TEST(SkillIcon, SkillOverloadReadsItsWords) {
    Skill skill;
    skill.name = "Weekly";
    skill.trigger = "";
    skill.summary = "Post the numbers";
    EXPECT_EQ(SkillIcon::symbol(skill), "tablecells");
}
