#pragma once

#include "Kestro/Surfaces.h"

#include <QPointer>
#include <QWidget>

#include <functional>

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

private:
    bool paletteFollowsSkills_ = false;
};

} // namespace kestro
