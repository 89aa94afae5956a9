#pragma once

#include <QWidget>

namespace kestro {

class AppState;

// The one main window: made on first show and kept for the life of the process; closing only
// hides it. Its size follows whether any skill exists, keeping its top-left corner, animated.
namespace MainWindow {

inline constexpr int adaptMs = 200;

void show(AppState& app);
void adapt(bool hasSkills);
// The window, once shown (for tests).
QWidget* window();

} // namespace MainWindow

} // namespace kestro
