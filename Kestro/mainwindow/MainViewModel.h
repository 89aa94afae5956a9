#pragma once

#include "Kestro/app/SkillCreationStatus.h"
#include "KestroBase/Geometry.h"
#include "KestroBase/Permission.h"
#include "KestroCore/KestroState.h"
#include "KestroCore/Skill.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestro {

// What the main window, the tray menu and the onboarding show, decided without widgets.
namespace MainViewModel {

struct RecordButton {
    std::string label;
    std::string symbol;
    bool red = false;
    bool enabled = false;
    // Whether pressing it toggles the recording (the "Working…" form does nothing).
    bool toggles = false;
};
RecordButton recordButton(const KestroState& state, bool allGranted);

inline bool showsBanner(bool allGranted) {
    return !allGranted;
}
inline constexpr const char* bannerTitle = "Finish setup";
inline constexpr const char* bannerText =
    "Grant Screen Recording, Accessibility, and Input Monitoring to record.";
inline constexpr const char* bannerButton = "Open setup\u2026";

std::string emptyStateText(const KestroState& state, const SkillCreationStatus& status);

// The content size of the main window for the skill list's state.
Size contentSize(bool hasSkills);
inline constexpr Size minimumSize{420, 300};

// The frame (top-left origin, y down) the window takes when the skills change, or nothing when
// its content height is already within a point of the target: the top-left corner stays and a
// width the user chose survives while the height matches.
std::optional<Rect> adaptedFrame(const Rect& currentContent, bool hasSkills);

} // namespace MainViewModel

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

namespace OnboardingModel {

// Index of the first permission in display order that is not granted; 3 when all are.
// A permission without a status counts as not granted.
std::size_t currentIndex(const std::map<Permission, PermissionStatus>& statuses);

struct Step {
    std::string counter;
    std::string heading;
    std::string button;
    // What the step asks of the user on this desktop.
    std::string explanation;
};
Step step(std::size_t index);

inline constexpr const char* successTitle = "You're all set";
inline constexpr const char* successText =
    "Double-tap Control (\u2303\u2303) to record a task, and press \u2303/ to cast a skill.";

} // namespace OnboardingModel

} // namespace kestro
