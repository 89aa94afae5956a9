#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

namespace kestro {

class AppState;

// The application's item in the desktop's tray, with its menu. Where no tray host runs, the icon
// waits and appears if one starts later; the main window, the hotkeys and Ctrl+Q keep Kestro
// usable meanwhile.
class TrayIcon final : public QObject {
    Q_OBJECT
public:
    explicit TrayIcon(AppState& app, QObject* parent = nullptr);

    QSystemTrayIcon& icon() { return icon_; }
    QMenu& menu() { return menu_; }

    // The tray image in `color`: the brand mark when there is one, else the "wand.and.stars"
    // symbol.
    static QIcon trayImage(const QColor& color);
    // The application's icon: the app icon, else the opaque icon; null when neither exists.
    static QIcon applicationIcon();

private:
    void rebuildMenu();

    AppState& app_;
    QMenu menu_;
    QSystemTrayIcon icon_;
};

} // namespace kestro
