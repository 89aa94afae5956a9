#include "Kestro/mainwindow/SkillRow.h"

#include "Kestro/mainwindow/MainView.h"
#include "Kestro/ui/Style.h"
#include "Kestro/ui/Symbols.h"

#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>

#include <cmath>

namespace kestro {

using namespace Style;

namespace {

QFont commandFont() {
    return monospaced(10, QFont::Medium);
}

QFont nameFont() {
    return scaled(QFont(), 8);
}

} // namespace

SkillRowDelegate::SkillRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {
    const QFontMetricsF command(commandFont());
    const QFontMetricsF name(nameFont());
    rowHeight_ = static_cast<int>(
        std::ceil(2 * SkillRowLayout::paddingY + command.height() + 1 + name.height()));
}

QSize SkillRowDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return QSize(SkillRowLayout::buttonSide, rowHeight_ + spacing);
}

SkillRowWidget::SkillRowWidget(MainView& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
    setAttribute(Qt::WA_Hover);
    icon_ = new QLabel(this);
    command_ = plainLabel({}, this);
    command_->setFont(commandFont());
    name_ = plainLabel({}, this);
    name_->setFont(nameFont());
    // The list's style sheet overrides palettes below it.
    name_->setStyleSheet(QStringLiteral("color: rgba(0,0,0,128);"));
    auto makeButton = [this]() {
        auto* b = new QToolButton(this);
        b->setAutoRaise(true);
        b->setFixedSize(int(SkillRowLayout::buttonSide), int(SkillRowLayout::buttonSide));
        b->setIconSize(QSize(14, 14));
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    edit_ = makeButton();
    play_ = makeButton();
    menu_ = makeButton();
    menu_->setPopupMode(QToolButton::InstantPopup);
    menu_->setStyleSheet("QToolButton::menu-indicator { image: none; width: 0; }");
    connect(edit_, &QToolButton::clicked, this, [this] { owner_.editSkill(id_); });
    connect(play_, &QToolButton::clicked, this, [this] { owner_.playSkill(id_); });
    paintControls();
}

void SkillRowWidget::showRow(const QModelIndex& index) {
    const QString command = index.data(SkillListModel::commandRole).toString();
    const QString name = index.data(Qt::DisplayRole).toString();
    const QString symbol = index.data(SkillListModel::symbolRole).toString();
    const Uuid id = static_cast<const SkillListModel*>(index.model())->idAt(index.row());
    if (id != id_ || !menu_->menu()) {
        id_ = id;
        delete menu_->menu();
        menu_->setMenu(owner_.makeRowMenu(id_, menu_));
    }
    if (symbol != symbol_) {
        symbol_ = symbol;
        icon_->setPixmap(
            QPixmap::fromImage(Symbols::image(symbol_, Symbols::sizeForFont(13), secondaryText,
                                              Symbols::Weight::medium, devicePixelRatioF())));
    }
    if (command != fullCommand_ || name != fullName_) {
        fullCommand_ = command;
        fullName_ = name;
        command_->setAccessibleName(command);
        name_->setAccessibleName(name);
        name_->setToolTip(plainToolTip(name));
        edit_->setToolTip(plainToolTip("Edit " + name));
        play_->setToolTip(plainToolTip("Play " + name));
        placeTexts();
    }
    QWidget::show();
}

void SkillRowWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const SkillRowLayout l = SkillRowLayout::of(QRectF(rect()));
    icon_->setGeometry(l.icon.toRect());
    icon_->setAlignment(Qt::AlignCenter);
    edit_->move(l.edit.topLeft().toPoint());
    play_->move(l.play.topLeft().toPoint());
    menu_->move(l.menu.topLeft().toPoint());
    placeTexts();
}

void SkillRowWidget::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    setHover(true);
}

void SkillRowWidget::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    setHover(false);
}

void SkillRowWidget::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    setHover(false);
}

void SkillRowWidget::paintEvent(QPaintEvent*) {
    if (!hover_) {
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 8, 8);
    p.fillPath(path, QColor(0, 0, 0, 13));
}

void SkillRowWidget::placeTexts() {
    const SkillRowLayout l = SkillRowLayout::of(QRectF(rect()));
    const QFontMetricsF cm(command_->font());
    const QFontMetricsF nm(name_->font());
    const qreal block = cm.height() + 1 + nm.height();
    const qreal top = l.texts.center().y() - block / 2;
    const int width = std::max(0, int(l.texts.width()));
    command_->setGeometry(int(l.texts.left()), int(top), width, int(std::ceil(cm.height())));
    name_->setGeometry(int(l.texts.left()), int(top + cm.height() + 1), width,
                       int(std::ceil(nm.height())));
    command_->setText(commands_.elided(fullCommand_, command_->font(), width));
    name_->setText(names_.elided(fullName_, name_->font(), width));
}

void SkillRowWidget::setHover(bool hover) {
    if (hover_ != hover) {
        hover_ = hover;
        paintControls();
        update();
    }
}

void SkillRowWidget::paintControls() {
    // Half opacity while the pointer is elsewhere, folded into the colours.
    const QColor controls = hover_ ? black : QColor(0, 0, 0, 64);
    const QColor menuColor = hover_ ? secondaryText : QColor(0, 0, 0, 64);
    edit_->setIcon(Symbols::icon("pencil", controls, Symbols::Weight::semibold));
    play_->setIcon(Symbols::icon("play.fill", controls, Symbols::Weight::semibold));
    menu_->setIcon(Symbols::icon("ellipsis", menuColor, Symbols::Weight::semibold));
}

} // namespace kestro
