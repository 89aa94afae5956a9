#pragma once

#include "Kestro/overlay/FrameWindow.h"
#include "platform/SurfaceWindows.h"

#include <QObject>
#include <QRect>

#include <functional>
#include <memory>
#include <vector>

namespace kestro {

// Keeps one frame window per screen, made ahead (with what they draw with) so that showing the
// frame only maps them, and remade once per burst of screen changes. Main thread.
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

    // Every frame on screen in the given style, its wave started afresh.
    void show(bool casting);
    // Takes every frame off screen; the windows and the style are kept.
    void hide();
    // Runs `then` on a later turn once every frame shown has painted, so that work which may
    // take a while starts after the frames are up; at once when no frame is shown, and within
    // `shownWaitMs` at the latest.
    void whenShown(std::function<void()> then);
    static constexpr int shownWaitMs = 100;

    bool visible() const { return visible_; }
    bool casting() const { return casting_; }
    // The frames on screen (none while hidden).
    const std::vector<std::unique_ptr<FrameWindow>>& windows() const;
    // The frames kept for the current screens, shown or not.
    const std::vector<std::unique_ptr<FrameWindow>>& kept() const { return windows_; }

    // A change of screens: one rebuild follows, however many changes arrive in one go.
    void screensChanged();
    // Puts the frames back on top after another window came up above them.
    void raise();
    // Follows a compositing manager that started or stopped.
    void compositingChanged();

signals:
    // The set of windows was made afresh.
    void rebuilt();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void runWhenShown();
    void rebuild();
    void showWindows();
    void watchScreen(QObject* screen);

    platform::SurfaceWindows* surfaces_;
    ScreenList screens_;
    std::vector<std::unique_ptr<FrameWindow>> windows_;
    bool visible_ = false;
    bool casting_ = false;
    bool rebuildQueued_ = false;
    bool built_ = false;
    std::vector<QObject*> paintedViews_;
    std::vector<std::function<void()>> whenShown_;
};

} // namespace kestro
