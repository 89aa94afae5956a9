#include "Kestro/mainwindow/MainViewModel.h"

#include <cmath>

namespace kestro {

namespace MainViewModel {

RecordButton recordButton(const KestroState& state, bool allGranted) {
    switch (state.kind) {
    case KestroState::Kind::idle:
        return {.label = "Record  (\u2303\u2303)",
                .symbol = "record.circle",
                .enabled = allGranted,
                .toggles = true};
    case KestroState::Kind::recording:
        return {.label = "Stop recording",
                .symbol = "stop.fill",
                .red = true,
                .enabled = true,
                .toggles = true};
    default:
        return {.label = "Working\u2026", .symbol = "hourglass"};
    }
}

std::string emptyStateText(const KestroState& state, const SkillCreationStatus& status) {
    if (state.kind == KestroState::Kind::recording) {
        return "Double-tap Control to finish training your skill";
    }
    if (status.kind == SkillCreationStatus::Kind::creating) {
        return "Building your skill\u2026";
    }
    return "Double-tap Control (\u2303) to create your first skill";
}

Size contentSize(bool hasSkills) {
    return hasSkills ? Size{820, 600} : Size{720, 520};
}

std::optional<Rect> adaptedFrame(const Rect& currentContent, bool hasSkills) {
    const Size target = contentSize(hasSkills);
    if (std::abs(currentContent.size.height - target.height) < 1.0) {
        return std::nullopt;
    }
    return Rect{currentContent.origin, target};
}

} // namespace MainViewModel

namespace TrayMenuModel {

std::vector<Entry> entries(const std::string& statusTitle, const KestroState& state,
                           bool allGranted, const std::vector<Skill>& skills) {
    using Kind = Entry::Kind;
    std::vector<Entry> out;
    const Entry separator{.kind = Kind::separator};
    out.push_back({.kind = Kind::text, .title = statusTitle, .headline = true});
    out.push_back(separator);
    if (!allGranted) {
        out.push_back(
            {.title = "Finish setup\u2026", .enabled = true, .action = Action::showOnboarding});
        out.push_back(separator);
    }
    switch (state.kind) {
    case KestroState::Kind::idle:
        out.push_back({.title = "Start recording  (\u2303\u2303)",
                       .enabled = allGranted,
                       .action = Action::toggleRecording});
        break;
    case KestroState::Kind::recording:
        out.push_back({.title = "Stop recording  (\u2303\u2303)",
                       .enabled = true,
                       .action = Action::toggleRecording});
        break;
    default:
        out.push_back({.title = "Recording\u2026"});
        break;
    }
    out.push_back({.title = "Run a skill\u2026  (\u2303/)",
                   .enabled = allGranted && state.kind == KestroState::Kind::idle,
                   .action = Action::openPalette});
    out.push_back(separator);
    if (skills.empty()) {
        out.push_back({.kind = Kind::text,
                       .title = "No skills yet \u2014 record one with \u2303\u2303",
                       .secondary = true});
    }
    for (const Skill& skill : skills) {
        out.push_back(
            {.title = skill.name, .enabled = true, .action = Action::castSkill, .skill = skill.id});
    }
    out.push_back(separator);
    out.push_back({.title = "Onboarding & Permissions\u2026",
                   .enabled = true,
                   .action = Action::showOnboarding});
    out.push_back(
        {.title = "Quit Kestro", .enabled = true, .action = Action::quit, .quitShortcut = true});
    return out;
}

std::string escapedTitle(std::string_view title) {
    std::string out;
    out.reserve(title.size());
    for (char c : title) {
        if (c == '&') {
            out += "&&";
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace TrayMenuModel

namespace OnboardingModel {

std::size_t currentIndex(const std::map<Permission, PermissionStatus>& statuses) {
    for (std::size_t i = 0; i < allPermissions.size(); ++i) {
        auto it = statuses.find(allPermissions[i]);
        if (it == statuses.end() || it->second != PermissionStatus::granted) {
            return i;
        }
    }
    return allPermissions.size();
}

Step step(std::size_t index) {
    const std::size_t shown = std::min(index, allPermissions.size() - 1);
    Step s;
    s.counter =
        "Step " + std::to_string(shown + 1) + " of " + std::to_string(allPermissions.size());
    switch (allPermissions[shown]) {
    case Permission::screenRecording:
        s.heading = "Kestro needs to see your screen.";
        s.button = "Give access to screen recording";
        s.explanation = "Kestro takes screenshots through the X server. This needs an X11 "
                        "session (not Wayland alone) whose server offers Composite and MIT-SHM.";
        break;
    case Permission::accessibility:
        s.heading = "Kestro needs to control your screen.";
        s.button = "Give access to accessibility";
        s.explanation = "The button switches accessibility on for this session, so applications "
                        "started afterwards describe their buttons and fields to Kestro. "
                        "Applications already running may need a restart.";
        break;
    case Permission::inputMonitoring:
        s.heading = "Kestro needs to read your shortcuts.";
        s.button = "Give access to input monitoring";
        s.explanation = "Kestro watches the keyboard and mouse through the X server's input "
                        "extensions. This needs an X11 session whose server offers XInput 2.2 "
                        "and RECORD.";
        break;
    }
    return s;
}

} // namespace OnboardingModel

} // namespace kestro
