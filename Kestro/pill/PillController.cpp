#include "Kestro/pill/PillController.h"

#include "Kestro/pill/PillHover.h"
#include "Kestro/ui/SharedWake.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace kestro {

PillController::PillController(platform::SurfaceWindows* surfaces, std::function<bool()> hasPillTip,
                               std::function<void(PillView&)> viewBuilt, QObject* parent)
    : QObject(parent), surfaces_(surfaces), hasPillTip_(std::move(hasPillTip)),
      viewBuilt_(std::move(viewBuilt)) {
    pollTimer_.setTimerType(Qt::PreciseTimer);
    pollTimer_.setInterval(40);
    connect(&pollTimer_, &QTimer::timeout, this, [this] {
        sincePoll_.start();
        poll();
    });
    wakeListener_ = SharedWake::listen([this] { pollEarly(); });
}

PillController::~PillController() {
    SharedWake::remove(wakeListener_);
}

void PillController::pollEarly() {
    if (!pollTimer_.isActive() || (sincePoll_.isValid() && sincePoll_.elapsed() < earlyPollMs)) {
        return;
    }
    pollTimer_.start();
    sincePoll_.start();
    poll();
}

void PillController::show() {
    if (view_) {
        return;
    }
    view_ = std::make_unique<PillView>(&model_);
    view_->setFixedSize(width, height);
    // The native window exists from here on: it starts click-through, before it is mapped.
    if (surfaces_) {
        surfaces_->setAcceptsInput(static_cast<platform::SurfaceWindows::WindowID>(view_->winId()),
                                   false);
        view_->setMasked(!surfaces_->compositing());
    }
    acceptsMouse_ = false;
    if (viewBuilt_) {
        viewBuilt_(*view_);
    }
    reposition();
    view_->show();
    view_->raise();
    pollTimer_.start();
    sincePoll_.start();
}

void PillController::setHidden(bool hidden) {
    if (!view_) {
        return;
    }
    if (hidden) {
        view_->setWindowOpacity(0);
        view_->hide();
    } else {
        reposition();
        view_->setWindowOpacity(1);
        view_->show();
        view_->raise();
    }
}

void PillController::reposition() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!view_ || !screen) {
        return;
    }
    const QRect a = screen->availableGeometry();
    view_->move(a.x() + a.width() - width, a.y() + a.height() / 2 - height / 2);
}

void PillController::poll() {
    if (!view_ || !view_->isVisible()) {
        return;
    }
    // Asking where the pointer is costs a round trip to the display: only after it moved.
    if (!surfaces_ || surfaces_->pointerMayHaveMoved() || !pointerKnown_) {
        pointer_ = QCursor::pos();
        pointerKnown_ = true;
    }
    pollAt(pointer_);
}

void PillController::pollAt(QPoint mouse) {
    if (!view_ || !view_->isVisible()) {
        return;
    }
    const QRect g = view_->geometry();
    const Rect frame = Rect::make(g.x(), g.y(), g.width(), g.height());
    const bool tip = hasPillTip_ && hasPillTip_();
    const PillHover::Decision d =
        PillHover::step(model_.expanded(), Point{double(mouse.x()), double(mouse.y())}, frame, tip);
    model_.setExpanded(d.expanded);
    setAcceptsMouse(d.acceptsMouse);
}

void PillController::setAcceptsMouse(bool accepts) {
    // Reshaping the window 25 times a second would flood the server; change it only on a change.
    if (accepts == acceptsMouse_) {
        return;
    }
    acceptsMouse_ = accepts;
    if (surfaces_ && view_) {
        surfaces_->setAcceptsInput(static_cast<platform::SurfaceWindows::WindowID>(view_->winId()),
                                   accepts);
    }
}

void PillController::raise() {
    if (!view_ || !view_->isVisible()) {
        return;
    }
    if (surfaces_) {
        surfaces_->raise(static_cast<platform::SurfaceWindows::WindowID>(view_->winId()));
    } else {
        view_->raise();
    }
}

void PillController::compositingChanged() {
    if (view_ && surfaces_) {
        view_->setMasked(!surfaces_->compositing());
    }
}

} // namespace kestro
