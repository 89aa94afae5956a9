#pragma once

#include "Kestro/app/Surfaces.h"
#include "Kestro/mainwindow/MainWindow.h"
#include "Kestro/onboarding/OnboardingWindow.h"
#include "Kestro/palette/PaletteWindow.h"
#include "Kestro/surfaces/CastingSurfaces.h"
#include "platform/SurfaceWindows.h"

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace kestro {

// The surfaces on the desktop: the frame round every screen and the pill; the main window and
// the onboarding are plain windows. It owns every window it shows; they go with it.
class DesktopSurfaces final : public Surfaces {
public:
    // `windows` (may be null) lets the frames, the pill and the palette pass clicks through and
    // follow the compositing manager, and activates the palette; it must outlive this object.
    explicit DesktopSurfaces(platform::SurfaceWindows* windows = nullptr);
    ~DesktopSurfaces() override;

    void showOverlay(OverlayStyle style) override;
    void hideOverlay() override;
    void afterOverlayShown(std::function<void()> then) override;
    void showPill(AppState& app) override;
    void setPillHidden(bool hidden) override;
    void showPalette(AppState& app, std::function<void()> onClosed) override;
    void showMainWindow(AppState& app) override;
    void adaptMainWindow(bool hasSkills) override;
    void showOnboarding(PermissionsManager& permissions) override;

    CastingSurfaces& casting() { return *casting_; }
    MainWindow& mainWindow() { return mainWindow_; }
    OnboardingWindow& onboarding() { return onboarding_; }
    PaletteWindow& palette() { return palette_; }

private:
    bool paletteFollowsSkills_ = false;
    std::unique_ptr<CastingSurfaces> casting_;
    MainWindow mainWindow_;
    OnboardingWindow onboarding_;
    PaletteWindow palette_;
};

} // namespace kestro
