#include "Kestro/QuitShortcut.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QWidget>

namespace kestro {

void quitApplication() {
    QCoreApplication::exit(0);
}

bool QuitShortcut::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        // The key reaches the window system's window first, then the widget: act on the widget.
        if (key->matches(QKeySequence::Quit) && watched->isWidgetType()) {
            QMetaObject::invokeMethod(QCoreApplication::instance(), &quitApplication,
                                      Qt::QueuedConnection);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace kestro
