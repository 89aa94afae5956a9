#pragma once

#include "KestroCore/KestroState.h"
#include "KestroCore/Skill.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestro {

// The tray menu, rebuilt from the application's values whenever they change.
namespace TrayMenuModel {

enum class Action { none, showOnboarding, toggleRecording, openPalette, castSkill, quit };

struct Entry {
    enum class Kind { text, separator, item };
    Kind kind = Kind::item;
    std::string title;
    bool enabled = false;
    Action action = Action::none;
    std::optional<Uuid> skill; // castSkill
    bool headline = false;     // the status line
    bool secondary = false;    // the empty skills line
    bool quitShortcut = false; // Ctrl+Q
};

std::vector<Entry> entries(const std::string& statusTitle, const KestroState& state,
                           bool allGranted, const std::vector<Skill>& skills);

// A menu title as a toolkit that reads "&" as a mnemonic marker must be given it.
std::string escapedTitle(std::string_view title);

} // namespace TrayMenuModel

} // namespace kestro
