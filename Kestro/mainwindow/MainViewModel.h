#pragma once

#include "Kestro/app/SkillCreationStatus.h"
#include "KestroBase/Geometry.h"
#include "KestroCore/KestroState.h"

#include <optional>
#include <string>

namespace kestro {

// What the main window shows, decided without widgets.
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

} // namespace kestro
