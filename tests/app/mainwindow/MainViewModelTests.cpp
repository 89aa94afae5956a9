#include "Kestro/mainwindow/MainViewModel.h"

#include <gtest/gtest.h>

using namespace kestro;

namespace {

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

} // namespace
