#pragma once

#include <QPointer>
#include <QWidget>

namespace kestro {

class AppState;

// The one main window: made on first show and kept as long as its owner; closing only hides it.
// Its size follows whether any skill exists, keeping its top-left corner, animated.
class MainWindow {
public:
    static constexpr int adaptMs = 200;

    MainWindow() = default;
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    void show(AppState& app);
    void adapt(bool hasSkills);
    // The window, once shown.
    QWidget* window() const { return window_; }

private:
    QPointer<QWidget> window_;
};

} // namespace kestro
