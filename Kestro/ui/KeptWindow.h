#pragma once

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace kestro {

// A window kept for the life of the process: its close button only hides it, so showing it again
// brings it back as it was.
class KeptWindow : public QWidget {
protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        hide();
    }
};

inline void bringForward(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
}

inline void centreOnPrimaryScreen(QWidget* window) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
}

} // namespace kestro
