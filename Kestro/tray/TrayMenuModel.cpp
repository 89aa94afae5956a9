#include "Kestro/tray/TrayMenuModel.h"

namespace kestro {

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

} // namespace kestro
