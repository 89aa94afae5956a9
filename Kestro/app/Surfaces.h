#pragma once

#include <functional>

namespace kestro {

class AppState;
class PermissionsManager;

// The frame drawn round every screen while recording or casting.
enum class OverlayStyle { recording, casting };

// Everything the application object calls of its windows: the screen frame, the pill, the
// palette, the main window and the onboarding. The application object owns no window itself;
// DesktopSurfaces puts the real windows behind these calls, and tests record them.
// Every call comes on the main thread.
class Surfaces {
public:
    virtual ~Surfaces() = default;

    // Shows the frame round every screen in the style given (replacing a frame already shown).
    virtual void showOverlay(OverlayStyle style) = 0;
    virtual void hideOverlay() = 0;
    // Runs `then` once the frame just shown is drawn on screen (at once where nothing is drawn),
    // so that what follows a showing does not hold its first frame back.
    virtual void afterOverlayShown(std::function<void()> then) { then(); }

    // Shows the pill for `app`; the first call creates it.
    virtual void showPill(AppState& app) = 0;
    // Hides the pill while the palette is open, and brings it back.
    virtual void setPillHidden(bool hidden) = 0;

    // Opens a new palette for `app`, closing an open one first (which runs that one's
    // onClosed). `onClosed` runs exactly once per opening, on the main thread, when that palette
    // goes away.
    virtual void showPalette(AppState& app, std::function<void()> onClosed) = 0;

    // Shows the main window (created on first use), in front.
    virtual void showMainWindow(AppState& app) = 0;
    // Lets the main window pick its size for whether any skill exists. Called at every reload of
    // the skills, also before the window was ever shown.
    virtual void adaptMainWindow(bool hasSkills) = 0;

    // Opens the permission onboarding.
    virtual void showOnboarding(PermissionsManager& permissions) = 0;
};

} // namespace kestro
