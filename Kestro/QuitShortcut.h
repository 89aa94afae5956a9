#pragma once

#include <QObject>

namespace kestro {

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
