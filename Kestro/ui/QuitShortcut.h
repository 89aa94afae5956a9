#pragma once

#include <QObject>

namespace kestro {

// Ends the application at once, whatever windows are up. Not QCoreApplication::quit(): that
// first asks every window to close and gives up when one stays visible, and the kept windows
// refuse a close (they only hide), so a quit with the pill or the frames up was cancelled.
void quitApplication();

// Ctrl+Q in any Kestro window quits, so a desktop without a tray still has a way out. Installed
// on the application, it sees the key before any window does.
class QuitShortcut final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

} // namespace kestro
