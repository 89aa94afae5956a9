#include "Kestro/TrayIcon.h"

#include "Kestro/AppState.h"
#include "Kestro/Brand.h"
#include "Kestro/Symbols.h"

#include <QApplication>
#include <QCursor>
#include <QPainter>
#include <QPixmap>

namespace kestro {

namespace {

// Menu titles read "&" as a mnemonic marker; names from data must show as written.
QString menuText(const QString& s) {
    QString out = s;
    return out.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

} // namespace

QIcon TrayIcon::trayImage(const QColor& color) {
    if (const auto& mark = Brand::menuBarImage()) {
        // Tray hosts do not tint template images as a menu bar does: tint it here.
        QImage tinted = mark->convertToFormat(QImage::Format_ARGB32_Premultiplied);
        QPainter p(&tinted);
        p.setCompositionMode(QPainter::CompositionMode_SourceIn);
        p.fillRect(tinted.rect(), color);
        p.end();
        QIcon icon(QPixmap::fromImage(tinted));
        icon.setIsMask(true);
        return icon;
    }
    QIcon icon = Symbols::icon(QStringLiteral("wand.and.stars"), color);
    icon.setIsMask(true);
    return icon;
}

QIcon TrayIcon::applicationIcon() {
    if (const auto& image = Brand::appIcon()) {
        return QIcon(QPixmap::fromImage(*image));
    }
    if (const auto& image = Brand::iconOpaque()) {
        return QIcon(QPixmap::fromImage(*image));
    }
    return {};
}

TrayIcon::TrayIcon(AppState& app, QObject* parent) : QObject(parent), app_(app) {
    icon_.setIcon(trayImage(QApplication::palette().color(QPalette::WindowText)));
    icon_.setToolTip(QStringLiteral("Kestro"));
    icon_.setContextMenu(&menu_);
    rebuildMenu();
    // A menu on screen is not rebuilt under the pointer; it is brought up to date as it opens.
    connect(&app_, &AppState::changed, this, [this] {
        if (!menu_.isVisible()) {
            rebuildMenu();
        }
    });
    connect(&menu_, &QMenu::aboutToShow, this, &TrayIcon::rebuildMenu);
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
