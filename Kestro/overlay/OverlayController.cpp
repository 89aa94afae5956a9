#include "Kestro/overlay/OverlayController.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace kestro {

OverlayController::OverlayController(platform::SurfaceWindows* surfaces, ScreenList screens,
                                     QObject* parent)
    : QObject(parent), surfaces_(surfaces), screens_(std::move(screens)) {
    if (!screens_) {
        screens_ = [] {
            std::vector<QRect> list;
            for (const QScreen* s : QGuiApplication::screens()) {
                list.push_back(s->geometry());
            }
            return list;
        };
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (app) {
            connect(app, &QGuiApplication::screenAdded, this, [this](QScreen* s) {
                watchScreen(s);
                screensChanged();
            });
            connect(app, &QGuiApplication::screenRemoved, this, [this] { screensChanged(); });
            connect(app, &QGuiApplication::primaryScreenChanged, this,
                    [this] { screensChanged(); });
            for (QScreen* s : QGuiApplication::screens()) {
                watchScreen(s);
            }
        }
    }
    // Made once the program is up, not while it starts.
    QTimer::singleShot(0, this, [this] {
        if (!built_) {
            rebuild();
        }
    });
}

OverlayController::~OverlayController() {
    hide();
    windows_.clear();
}

void OverlayController::watchScreen(QObject* screen) {
    if (auto* s = qobject_cast<QScreen*>(screen)) {
        connect(s, &QScreen::geometryChanged, this, [this] { screensChanged(); });
    }
}

const std::vector<std::unique_ptr<FrameWindow>>& OverlayController::windows() const {
    static const std::vector<std::unique_ptr<FrameWindow>> none;
    return visible_ ? windows_ : none;
}

void OverlayController::show(bool casting) {
    casting_ = casting;
    visible_ = true;
    if (!built_) {
        rebuild();
    }
    showWindows();
}

void OverlayController::hide() {
    visible_ = false;
    for (const auto& w : windows_) {
        w->orderOut();
    }
    runWhenShown();
}

void OverlayController::whenShown(std::function<void()> then) {
    if (!visible_ || windows_.empty()) {
        then();
        return;
    }
    whenShown_.push_back(std::move(then));
    // A frame that never paints (an unmapped screen, a window system that sends no exposure)
    // must not hold the work back for long.
    QTimer::singleShot(shownWaitMs, this, [this] { runWhenShown(); });
}

void OverlayController::runWhenShown() {
    for (auto& then : std::exchange(whenShown_, {})) {
        then();
    }
}

bool OverlayController::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Paint && !whenShown_.empty() &&
        std::find(paintedViews_.begin(), paintedViews_.end(), watched) == paintedViews_.end()) {
        paintedViews_.push_back(watched);
        if (paintedViews_.size() >= windows_.size()) {
            // Seen before the paint itself: the work waits until it is drawn and sent.
            QTimer::singleShot(0, this, [this] { runWhenShown(); });
        }
    }
    return QObject::eventFilter(watched, event);
}

void OverlayController::screensChanged() {
    if (rebuildQueued_) {
        return;
    }
    // A monitor change arrives as several notifications in a row; answer them all at once.
    rebuildQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        rebuildQueued_ = false;
        rebuild();
        if (visible_) {
            showWindows();
        }
    });
}

void OverlayController::rebuild() {
    for (const auto& w : windows_) {
        w->orderOut();
    }
    windows_.clear();
    built_ = true;
    for (const QRect& screen : screens_()) {
        windows_.push_back(std::make_unique<FrameWindow>(screen, surfaces_));
        windows_.back()->frameView()->installEventFilter(this);
    }
    // What each style draws with, one piece a turn of the event loop, so that neither this
    // nor the first frame of a recording waits for it.
    for (const auto& w : windows_) {
        for (const auto mode : {WobbleFrameView::Mode::recording, WobbleFrameView::Mode::casting}) {
            QTimer::singleShot(0, w.get(), [view = w->frameView(), mode] { view->prepare(mode); });
        }
    }
    Q_EMIT rebuilt();
}

void OverlayController::showWindows() {
    paintedViews_.clear();
    const auto mode = casting_ ? WobbleFrameView::Mode::casting : WobbleFrameView::Mode::recording;
    for (const auto& w : windows_) {
        // A new showing starts the wave from its first phase.
        w->frameView()->stopAnimating();
        w->setMode(mode);
        w->orderFront();
    }
}

void OverlayController::raise() {
    for (const auto& w : windows()) {
        if (surfaces_) {
            surfaces_->raise(static_cast<platform::SurfaceWindows::WindowID>(w->winId()));
        } else {
            w->raise();
        }
    }
}

void OverlayController::compositingChanged() {
    const bool masked = surfaces_ && !surfaces_->compositing();
    for (const auto& w : windows_) {
        w->setMasked(masked);
    }
}

} // namespace kestro
