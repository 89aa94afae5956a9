#include "Kestro/tray/TrayIcon.h"

#include "Kestro/app/AppState.h"
#include "Kestro/text/BoundedText.h"
#include "Kestro/tray/TrayMenuModel.h"
#include "Kestro/ui/Brand.h"
#include "Kestro/ui/QuitShortcut.h"
#include "Kestro/ui/Style.h"
#include "Kestro/ui/Symbols.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QStyle>
#include <QWidgetAction>

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

QString TrayIcon::boundedTitle(const std::string& title) {
    // Enough for the widest menu, and no more of a text that may be any length.
    return boundedText(title, titleBound);
}

QString TrayIcon::menuTitle(const std::string& title) {
    // Measured once per text: the menu is rebuilt on every change of the application.
    const QString bounded = boundedTitle(title);
    if (auto it = titles_.find(bounded); it != titles_.end()) {
        return it->second;
    }
    if (titles_.size() > 4096) {
        titles_.clear();
    }
    const QFontMetrics metrics(menu_.font());
    const QString fitted = QString::fromStdString(TrayMenuModel::escapedTitle(
        metrics.elidedText(bounded, Qt::ElideRight, titleWidth).toStdString()));
    titles_.emplace(bounded, fitted);
    return fitted;
}

QAction* TrayIcon::headline(const QString& title) {
    // A plain text of the menu: never chosen, yet in the headline style and the text's own
    // colour, not greyed as a disabled item.
    auto* action = new QWidgetAction(&menu_);
    QString shown = title;
    shown.replace(QStringLiteral("&&"), QStringLiteral("&"));
    QLabel* label = Style::plainLabel(shown, nullptr);
    QFont bold = menu_.font();
    bold.setBold(true);
    label->setFont(bold);
    QPalette palette = label->palette();
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text}) {
        palette.setColor(QPalette::Disabled, role, palette.color(QPalette::Active, role));
    }
    label->setPalette(palette);
    const int h = menu_.style()->pixelMetric(QStyle::PM_MenuHMargin, nullptr, &menu_);
    // Left where the items' texts start, past the column kept for their check marks.
    label->setContentsMargins(h + 28, 4, h + 8, 4);
    action->setDefaultWidget(label);
    action->setText(title);
    QFont actionFont = action->font();
    actionFont.setBold(true);
    action->setFont(actionFont);
    menu_.addAction(action);
    return action;
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
        const QString title = menuTitle(entry.title);
        QAction* action = nullptr;
        if (entry.headline) {
            action = headline(title);
        } else {
            action = menu_.addAction(title);
        }
        action->setEnabled(entry.kind == Model::Kind::item && entry.enabled);
        if (entry.quitShortcut) {
            action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
        }
        switch (entry.action) {
        case Action::none:
            break;
        case Action::showOnboarding:
            connect(action, &QAction::triggered, &app_, [this] { app_.showOnboarding(); });
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
