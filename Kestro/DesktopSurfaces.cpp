#include "Kestro/DesktopSurfaces.h"

#include "Kestro/AppState.h"
#include "Kestro/MainWindow.h"
#include "Kestro/OnboardingWindow.h"
#include "Kestro/PaletteWindow.h"

namespace kestro {

DesktopSurfaces::~DesktopSurfaces() = default;

void DesktopSurfaces::showOverlay(OverlayStyle) {}
void DesktopSurfaces::hideOverlay() {}
void DesktopSurfaces::showPill(AppState&) {}
void DesktopSurfaces::setPillHidden(bool) {}

void DesktopSurfaces::showPalette(AppState& app, std::function<void()> onClosed) {
    if (!paletteFollowsSkills_) {
        // An open palette shows the list as it changes.
        QObject::connect(&app, &AppState::skillsChanged, &app,
                         [] { PaletteWindow::reloadSkills(); });
        paletteFollowsSkills_ = true;
    }
    PaletteWindow::show(
        PaletteWindow::Host{
            .skills = [&app] { return app.skills(); },
            .toggleRecording = [&app] { app.toggleRecording(); },
            .cast =
                [&app](const Skill& skill, const std::map<std::string, std::string>& values) {
                    app.cast(skill, values);
                }},
        // From the hotkey, the key press's server time lets the window manager hand the
        // palette the keyboard; otherwise 0, and the current time is used.
        std::move(onClosed), app.hotkeyEventTimestamp());
}

void DesktopSurfaces::showMainWindow(AppState& app) {
    MainWindow::show(app);
}

void DesktopSurfaces::adaptMainWindow(bool hasSkills) {
    MainWindow::adapt(hasSkills);
}

void DesktopSurfaces::showOnboarding(PermissionsManager& permissions) {
    OnboardingWindow::show(permissions);
}

} // namespace kestro
