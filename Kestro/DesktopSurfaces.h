#pragma once

#include "Kestro/Surfaces.h"

#include <QPointer>
#include <QWidget>

#include <functional>

class QLabel;
class QListWidget;
class QPushButton;

namespace kestro {

// The surfaces on the desktop. The screen frame and the pill draw nothing yet; the main window
// and the onboarding are plain windows.
class DesktopSurfaces final : public Surfaces {
public:
    DesktopSurfaces() = default;
    ~DesktopSurfaces() override;

    void showOverlay(OverlayStyle style) override;
    void hideOverlay() override;
    void showPill(AppState& app) override;
    void setPillHidden(bool hidden) override;
    void showPalette(AppState& app, std::function<void()> onClosed) override;
    void showMainWindow(AppState& app) override;
    void adaptMainWindow(bool hasSkills) override;
    void showOnboarding(PermissionsManager& permissions) override;

    // The main window once it was shown (for tests).
    QWidget* mainWindow() const { return mainWindow_; }

private:
    QPointer<QWidget> mainWindow_;
    bool paletteFollowsSkills_ = false;
    QPointer<QWidget> onboarding_;
    bool hasSkills_ = false;
};

// The plain main window: the status line, the record button and the skills; double-click casts.
class PlainMainWindow final : public QWidget {
    Q_OBJECT
public:
    explicit PlainMainWindow(AppState& app);

private:
    void refresh();

    AppState& app_;
    QLabel* status_;
    QPushButton* record_;
    QListWidget* skills_;
};

} // namespace kestro
