#pragma once

#include "platform/MainQueue.h"

#include <QEasingCurve>
#include <QElapsedTimer>
#include <QImage>
#include <QRect>
#include <QTimer>
#include <QWidget>

#include <memory>
#include <vector>

namespace kestro {

// The Control key cap of the empty main window: it presses itself twice, every 1.7 s, to show
// the double tap that starts a recording. It animates only while it is on screen.
class ControlKeyCap : public QWidget {
    Q_OBJECT
public:
    static constexpr double interval = 1.7;
    static constexpr double changeDelays[4] = {0, 0.13, 0.26, 0.39};
    static constexpr int animationMs = 110;
    // Each step of the press is drawn once and then only copied: drawing the soft shapes
    // afresh on every frame would hand the fills to the toolkit's worker threads. Every step
    // shown costs a paint and a wait on the window system; four keep each under 1.5 px.
    static constexpr int frameSteps = 4;

    explicit ControlKeyCap(platform::MainQueue& queue, QWidget* parent = nullptr);
    ~ControlKeyCap() override;

    bool pressed() const { return pressed_; }
    // 0 released, 1 pressed; eased between the two over 0.11 s.
    double depth() const { return depth_; }
    bool animating() const { return timer_ != nullptr; }

    // The cap is 56 by 48; the widget adds room round it for the shadow.
    static constexpr QRect capRect{4, 2, 56, 48};
    QSize sizeHint() const override { return {64, 56}; }

    // The cap drawn at `depth`, as it is painted: one picture per step of the press.
    static QImage render(double depth, qreal devicePixelRatio);
    // Paint events received; the cap repaints only while it moves.
    int paints() const { return paints_; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void start();
    void tapTwice();
    void setPressed(bool pressed);
    void step();
    double depthAt(double progress) const;
    static int frameFor(double depth);

    platform::MainQueue& queue_;
    std::unique_ptr<platform::MainQueue::Token> timer_;
    // Shared with the scheduled changes, so a change that fires after the cap is gone does
    // nothing.
    std::shared_ptr<ControlKeyCap*> self_;
    bool pressed_ = false;
    double depth_ = 0;
    // The press eases from `from_` to `to_`; the cap wakes only when the eased depth reaches
    // its next drawn step, not at every tick of an animation clock.
    double from_ = 0;
    double to_ = 0;
    QEasingCurve easing_{QEasingCurve::InOutQuad};
    QElapsedTimer moving_;
    QTimer stepTimer_;
    std::vector<QImage> frames_;
    qreal framesDensity_ = 0;
    int shownFrame_ = 0;
    int paints_ = 0;
};

} // namespace kestro
