#include "Kestro/OverlayController.h"

#include <QGuiApplication>
#include <QScreen>
#include <QTimer>

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
}

OverlayController::~OverlayController() {
    hide();
}

void OverlayController::watchScreen(QObject* screen) {
    if (auto* s = qobject_cast<QScreen*>(screen)) {
        connect(s, &QScreen::geometryChanged, this, [this] { screensChanged(); });
    }
}

void OverlayController::show(bool casting) {
    casting_ = casting;
    visible_ = true;
    rebuild();
}

void OverlayController::hide() {
    visible_ = false;
    for (const auto& w : windows_) {
        w->orderOut();
    }
    windows_.clear();
}

void OverlayController::screensChanged() {
    if (rebuildQueued_) {
        return;
    }
    // A monitor change arrives as several notifications in a row; answer them all at once.
    rebuildQueued_ = true;
    QTimer::singleShot(0, this, [this] {
        rebuildQueued_ = false;
        if (visible_) {
            rebuild();
        }
    });
}

void OverlayController::rebuild() {
    for (const auto& w : windows_) {
        w->orderOut();
    }
    windows_.clear();
    if (visible_) {
        const auto mode =
            casting_ ? WobbleFrameView::Mode::casting : WobbleFrameView::Mode::recording;
        for (const QRect& screen : screens_()) {
            auto window = std::make_unique<FrameWindow>(screen, surfaces_);
            window->setMode(mode);
            window->orderFront();
            windows_.push_back(std::move(window));
        }
    }
    Q_EMIT rebuilt();
}

void OverlayController::raise() {
    for (const auto& w : windows_) {
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
