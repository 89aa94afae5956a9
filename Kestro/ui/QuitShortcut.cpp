#include "Kestro/ui/QuitShortcut.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QTimer>
#include <QWidget>

namespace kestro {

namespace {

// The accessibility bridge holds a copy of every key event until the bus answers whether a
// listener took it, and gives up waiting after 100 ms. Ending the loop before those answers are in
// orphans the copies, so the last keys before a quit are let through first.
constexpr int bridgeAnswerLimitMs = 100;
constexpr int quitDrainMs = 3 * bridgeAnswerLimitMs;

// Installed last, it sees input before the bridge does, so no new copies are taken while the
// answers come in.
class InputGate final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
            return event->spontaneous();
        default:
            return false;
        }
    }
};

} // namespace

void quitApplication() {
    auto* app = QCoreApplication::instance();
    if (app == nullptr) {
        return;
    }
    // A second request while the first drains changes nothing.
    const QString gateName = QStringLiteral("kestro-quit-gate");
    if (app->findChild<QObject*>(gateName, Qt::FindDirectChildrenOnly) != nullptr) {
        return;
    }
    auto* gate = new InputGate(app);
    gate->setObjectName(gateName);
    app->installEventFilter(gate);
    QTimer::singleShot(quitDrainMs, gate, [gate] {
        // The loop may run again (tests do): the gate goes with this quit.
        gate->setObjectName(QString());
        gate->deleteLater();
        QCoreApplication::exit(0);
    });
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
