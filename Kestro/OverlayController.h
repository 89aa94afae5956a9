#pragma once

#include "Kestro/FrameWindow.h"
#include "platform/SurfaceWindows.h"

#include <QObject>
#include <QRect>

#include <functional>
#include <memory>
#include <vector>

namespace kestro {

// Keeps one frame window per screen while the frame is to be shown and none otherwise,
// rebuilding the set once per burst of screen changes. Main thread.
class OverlayController final : public QObject {
    Q_OBJECT
public:
    // The screens' whole rectangles, in the order frames are made for them.
    using ScreenList = std::function<std::vector<QRect>()>;

    // `surfaces` may be null; `screens` defaults to the application's screens, and then the
    // controller follows the application's screen notifications.
    explicit OverlayController(platform::SurfaceWindows* surfaces, ScreenList screens = {},
                               QObject* parent = nullptr);
    ~OverlayController() override;

    // A fresh set of frames in the given style; the old set goes first.
    void show(bool casting);
    // Takes every frame off screen and drops it; the style is kept.
    void hide();

    bool visible() const { return visible_; }
    bool casting() const { return casting_; }
    const std::vector<std::unique_ptr<FrameWindow>>& windows() const { return windows_; }

    // A change of screens: one rebuild follows, however many changes arrive in one go.
    void screensChanged();
    // Puts the frames back on top after another window came up above them.
    void raise();
    // Follows a compositing manager that started or stopped.
    void compositingChanged();

signals:
    void rebuilt();

private:
    void rebuild();
    void watchScreen(QObject* screen);

    platform::SurfaceWindows* surfaces_;
    ScreenList screens_;
    std::vector<std::unique_ptr<FrameWindow>> windows_;
    bool visible_ = false;
    bool casting_ = false;
    bool rebuildQueued_ = false;
};

} // namespace kestro
