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

} // namespace kestro
