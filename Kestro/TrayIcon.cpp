#include "Kestro/TrayIcon.h"

#include "Kestro/AppState.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace kestro {

namespace {

// Menu titles read "&" as a mnemonic marker; names from data must show as written.
QString menuText(const QString& s) {
    QString out = s;
    return out.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void star(QPainter& p, QPointF c, double r) {
    QPainterPath path;
    path.moveTo(c.x(), c.y() - r);
    path.quadTo(c, QPointF(c.x() + r, c.y()));
    path.quadTo(c, QPointF(c.x(), c.y() + r));
    path.quadTo(c, QPointF(c.x() - r, c.y()));
    path.quadTo(c, QPointF(c.x(), c.y() - r));
    p.fillPath(path, p.pen().color());
}

} // namespace

QIcon wandAndStarsIcon(const QColor& color, int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const double s = size / 22.0;
    p.setPen(QPen(color, 2.2 * s, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(4 * s, 18 * s), QPointF(14 * s, 8 * s));
    star(p, QPointF(16.5 * s, 5 * s), 3.5 * s);
    star(p, QPointF(8 * s, 5 * s), 2.2 * s);
    star(p, QPointF(18 * s, 14 * s), 2.2 * s);
    p.end();
    QIcon icon(pixmap);
    icon.setIsMask(true);
    return icon;
}

QIcon TrayIcon::trayImage() {
    // Hosts do not tint mask images: draw in the desktop's own text colour.
    return wandAndStarsIcon(QApplication::palette().color(QPalette::WindowText));
}

TrayIcon::TrayIcon(AppState& app, QObject* parent) : QObject(parent), app_(app) {
    icon_.setIcon(trayImage());
    icon_.setToolTip(QStringLiteral("Kestro"));
    icon_.setContextMenu(&menu_);
    rebuildMenu();
    connect(&app_, &AppState::changed, this, &TrayIcon::rebuildMenu);
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        // The menu opens on a plain click too, as a menu-style item does.
        if (r == QSystemTrayIcon::Trigger) {
            menu_.popup(QCursor::pos());
        }
    });
    icon_.show();
}

void TrayIcon::rebuildMenu() {
    menu_.clear();
    menu_.addAction(menuText(app_.statusTitle()))->setEnabled(false);
    menu_.addSeparator();
    switch (app_.state().kind) {
    case KestroState::Kind::idle:
        connect(menu_.addAction(QString::fromUtf8("Start recording  (\u2303\u2303)")),
                &QAction::triggered, &app_, [this] { app_.toggleRecording(); });
        break;
    case KestroState::Kind::recording:
        connect(menu_.addAction(QString::fromUtf8("Stop recording  (\u2303\u2303)")),
                &QAction::triggered, &app_, [this] { app_.toggleRecording(); });
        break;
    default:
        menu_.addAction(QString::fromUtf8("Recording\u2026"))->setEnabled(false);
    }
    connect(menu_.addAction(QString::fromUtf8("Run a skill\u2026  (\u2303/)")), &QAction::triggered,
            &app_, [this] { app_.openPalette(); });
    menu_.addSeparator();
    connect(menu_.addAction(QStringLiteral("Show Kestro")), &QAction::triggered, &app_,
            [this] { app_.showMainWindow(); });
    QAction* quit = menu_.addAction(QStringLiteral("Quit Kestro"));
    quit->setShortcut(QKeySequence::Quit);
    connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit, Qt::QueuedConnection);
}

} // namespace kestro
