#include "Kestro/TrayIcon.h"

#include "Kestro/AppState.h"
#include "Kestro/Brand.h"
#include "Kestro/MainViewModel.h"
#include "Kestro/OnboardingWindow.h"
#include "Kestro/QuitShortcut.h"
#include "Kestro/Symbols.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

namespace kestro {

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
    // Queued: a change often comes from one of the menu's own actions, which a rebuild deletes.
    // A menu on screen is not rebuilt under the pointer; it is brought up to date as it opens.
    auto refresh = [this] {
        if (!menu_.isVisible()) {
            rebuildMenu();
        }
    };
    connect(&app_, &AppState::changed, this, refresh, Qt::QueuedConnection);
    connect(&app_, &AppState::permissionsChanged, this, refresh, Qt::QueuedConnection);
    connect(&menu_, &QMenu::aboutToShow, this, &TrayIcon::rebuildMenu);
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        // A click brings the main window back, as a desktop's tray items do; the menu opens
        // from the context click.
        if (r == QSystemTrayIcon::Trigger) {
            app_.showMainWindow();
        }
    });
    icon_.show();
}

void TrayIcon::rebuildMenu() {
    using Model = TrayMenuModel::Entry;
    using Action = TrayMenuModel::Action;
    menu_.clear();
    const auto entries = TrayMenuModel::entries(app_.statusTitle().toStdString(), app_.state(),
                                                app_.permissions().allGranted(), app_.skills());
    for (const auto& entry : entries) {
        if (entry.kind == Model::Kind::separator) {
            menu_.addSeparator();
            continue;
        }
        QAction* action =
            menu_.addAction(QString::fromStdString(TrayMenuModel::escapedTitle(entry.title)));
        action->setEnabled(entry.kind == Model::Kind::item && entry.enabled);
        if (entry.headline) {
            QFont bold = action->font();
            bold.setBold(true);
            action->setFont(bold);
        }
        if (entry.quitShortcut) {
            action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        }
        switch (entry.action) {
        case Action::none:
            break;
        case Action::showOnboarding:
            connect(action, &QAction::triggered, &app_,
                    [this] { OnboardingWindow::show(app_.permissions()); });
            break;
        case Action::toggleRecording:
            connect(action, &QAction::triggered, &app_, [this] { app_.toggleRecording(); });
            break;
        case Action::openPalette:
            connect(action, &QAction::triggered, &app_, [this] { app_.openPalette(); });
            break;
        case Action::castSkill:
            connect(action, &QAction::triggered, &app_, [this, id = *entry.skill] {
                for (const Skill& skill : app_.skills()) {
                    if (skill.id == id) {
                        app_.cast(skill);
                        return;
                    }
                }
            });
            break;
        case Action::quit:
            connect(action, &QAction::triggered, qApp, &quitApplication, Qt::QueuedConnection);
            break;
        }
    }
}

} // namespace kestro
