#pragma once

#include "platform/MainQueue.h"

#include <QImage>
#include <QVariantAnimation>
#include <QWidget>

#include <memory>

namespace kestro {

// The Control key cap of the empty main window: it presses itself twice, every 1.7 s, to show
// the double tap that starts a recording. It animates only while it is on screen.
class ControlKeyCap : public QWidget {
    Q_OBJECT
public:
    static constexpr double interval = 1.7;
    static constexpr double changeDelays[4] = {0, 0.13, 0.26, 0.39};
    static constexpr int animationMs = 110;

    explicit ControlKeyCap(platform::MainQueue& queue, QWidget* parent = nullptr);
    ~ControlKeyCap() override;

    bool pressed() const { return pressed_; }
    // 0 released, 1 pressed; eased between the two over 0.11 s.
    double depth() const { return depth_; }
    bool animating() const { return timer_ != nullptr; }

    QSize sizeHint() const override { return {56, 48}; }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void start();
    void tapTwice();
    void setPressed(bool pressed);

    platform::MainQueue& queue_;
    std::unique_ptr<platform::MainQueue::Token> timer_;
    // Shared with the scheduled changes, so a change that fires after the cap is gone does
    // nothing.
    std::shared_ptr<ControlKeyCap*> self_;
    bool pressed_ = false;
    double depth_ = 0;
    QVariantAnimation animation_;
    static constexpr double chevronSize = 16;
    QImage chevron_;
};

} // namespace kestro
