#pragma once

#include <QIcon>
#include <QMenu>
#include <QObject>
#include <QSystemTrayIcon>

#include <map>
#include <string>

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

    // At most this many characters of an entry's title are measured; a longer one is cut
    // with "…". Then the title is cut to the menu's width.
    static constexpr qsizetype titleBound = 160;
    static constexpr int titleWidth = 420;
    static QString boundedTitle(const std::string& title);

private:
    void rebuildMenu();
    QString menuTitle(const std::string& title);
    QAction* headline(const QString& title);

    AppState& app_;
    QMenu menu_;
    std::map<QString, QString> titles_;
    QSystemTrayIcon icon_;
};

} // namespace kestro
