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

    // The tray image: the brand mark when there is one, else the "wand.and.stars" symbol.
    static QIcon trayImage();

private:
    void rebuildMenu();

    AppState& app_;
    QMenu menu_;
    QSystemTrayIcon icon_;
};

// The "wand.and.stars" symbol drawn at `size` pixels in `color`.
QIcon wandAndStarsIcon(const QColor& color, int size = 22);

} // namespace kestro
