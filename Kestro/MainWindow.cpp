#include "Kestro/MainWindow.h"

#include "Kestro/AppState.h"
#include "Kestro/Brand.h"
#include "Kestro/ControlKeyCap.h"
#include "Kestro/KeptWindow.h"
#include "Kestro/MainViewModel.h"
#include "Kestro/OnboardingWindow.h"
#include "Kestro/SkillListModel.h"
#include "Kestro/Symbols.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyleOptionMenuItem>
#include <QStyledItemDelegate>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>

#include <cmath>

namespace kestro {

namespace {

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

const QColor black(0, 0, 0);
const QColor secondaryText(0, 0, 0, 128);
const QColor orange(255, 149, 0);
const QColor red(255, 59, 48);

QLabel* plainLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    return label;
}

QFont scaled(QFont font, double points, QFont::Weight weight = QFont::Normal) {
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

QFont monospaced(double points, QFont::Weight weight = QFont::Normal) {
    QFont font("monospace");
    font.setStyleHint(QFont::Monospace);
    font.setPointSizeF(points);
    font.setWeight(weight);
    return font;
}

void setSecondary(QWidget* widget) {
    QPalette p = widget->palette();
    p.setColor(QPalette::WindowText, secondaryText);
    widget->setPalette(p);
}

// A black button with white text, the look of the window's main actions.
void makeProminent(QPushButton* button, const QColor& color) {
    button->setStyleSheet(QString("QPushButton { background: %1; color: white; border: none;"
                                  " border-radius: 7px; padding: 6px 14px; }"
                                  "QPushButton:disabled { background: rgba(0,0,0,0.25); }")
                              .arg(color.name()));
}

} // namespace

// ---- SkillEditor -------------------------------------------------------------------------------

SkillEditor::SkillEditor(const QString& title, const QString& text, const QString& problem,
                         QWidget* parent)
    : QDialog(parent) {
    setWindowTitle(title);
    setFixedSize(580, 480);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* header = new QHBoxLayout;
    header->setContentsMargins(14, 14, 14, 14);
    header->setSpacing(10);
    auto* heading = plainLabel(title, this);
    heading->setFont(monospaced(11, QFont::DemiBold));
    header->addWidget(heading);
    header->addStretch();
    auto* cancel = new QPushButton("Cancel", this);
    save_ = new QPushButton("Save", this);
    makeProminent(save_, black);
    save_->setDefault(false);
    header->addWidget(cancel);
    header->addWidget(save_);
    layout->addLayout(header);

    if (!problem.isEmpty()) {
        auto* why = plainLabel(problem, this);
        why->setWordWrap(true);
        why->setContentsMargins(14, 0, 14, 10);
        QPalette wp = why->palette();
        wp.setColor(QPalette::WindowText, red);
        why->setPalette(wp);
        layout->addWidget(why);
        save_->setEnabled(false);
    }
    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    layout->addWidget(divider);

    editor_ = new QPlainTextEdit(this);
    editor_->setPlainText(text);
    QFont editorFont = monospaced(10);
    editorFont.setPixelSize(12);
    editor_->setFont(editorFont);
    editor_->setFrameShape(QFrame::NoFrame);
    editor_->setReadOnly(!problem.isEmpty());
    auto* editorBox = new QVBoxLayout;
    editorBox->setContentsMargins(10, 10, 10, 10);
    editorBox->addWidget(editor_);
    layout->addLayout(editorBox, 1);

    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(save_, &QPushButton::clicked, this, &QDialog::accept);
}

void SkillEditor::keyPressEvent(QKeyEvent* event) {
    // Ctrl+S reaches here from whichever part has focus; the text field does not take it.
    if (event->matches(QKeySequence::Save)) {
        if (save_->isEnabled()) {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(event);
}

QString SkillEditor::text() const {
    return editor_->toPlainText();
}

// ---- Skill list --------------------------------------------------------------------------------

namespace {

QFont commandFont() {
    return monospaced(10, QFont::Medium);
}

QFont nameFont() {
    return scaled(QFont(), 8);
}

// A menu that draws the actions marked destructive in red.
class RowMenu final : public QMenu {
public:
    using QMenu::QMenu;

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override {
        QMenu::initStyleOption(option, action);
        if (MainView::isDestructive(action)) {
            for (auto role : {QPalette::Text, QPalette::ButtonText, QPalette::WindowText,
                              QPalette::HighlightedText}) {
                option->palette.setColor(role, red);
            }
        }
    }
};

} // namespace

// Paints the rows of the visible part of the list; nothing exists for the others.
class SkillRowDelegate final : public QStyledItemDelegate {
public:
    explicit SkillRowDelegate(QObject* parent) : QStyledItemDelegate(parent) {
        const QFontMetricsF command(commandFont());
        const QFontMetricsF name(nameFont());
        rowHeight_ = static_cast<int>(
            std::ceil(2 * SkillRowLayout::paddingY + command.height() + 1 + name.height()));
    }

    static constexpr int marginX = 12;
    static constexpr int spacing = 2;

    // The row's own rectangle inside its item (which also holds the gap below it).
    static QRectF rowRect(const QRect& item) {
        return QRectF(item.adjusted(marginX, 0, -marginX, -spacing));
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return QSize(SkillRowLayout::buttonSide, rowHeight_ + spacing);
    }

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool hover = option.state & QStyle::State_MouseOver;
        const QRectF row = rowRect(option.rect);
        const SkillRowLayout l = SkillRowLayout::of(row);
        p->save();
        p->setRenderHint(QPainter::Antialiasing);
        if (hover) {
            QPainterPath path;
            path.addRoundedRect(row, 8, 8);
            p->fillPath(path, QColor(0, 0, 0, 13));
        }
        const qreal dpr = p->device()->devicePixelRatioF();
        const qreal iconSide = Symbols::sizeForFont(13);
        const QPixmap& icon = symbol(index.data(SkillListModel::symbolRole).toString(), iconSide,
                                     secondaryText, Symbols::Weight::medium, dpr);
        p->drawPixmap(QRectF(l.icon.center().x() - iconSide / 2, l.icon.center().y() - iconSide / 2,
                             iconSide, iconSide),
                      icon, QRectF(icon.rect()));

        const QFont cf = commandFont();
        const QFont nf = nameFont();
        const QFontMetricsF cm(cf);
        const QFontMetricsF nm(nf);
        const qreal block = cm.height() + 1 + nm.height();
        const qreal top = l.texts.center().y() - block / 2;
        p->setFont(cf);
        p->setPen(black);
        p->drawText(QRectF(l.texts.left(), top, l.texts.width(), cm.height()),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    commands_.elided(index.data(SkillListModel::commandRole).toString(), cf,
                                     l.texts.width()));
        p->setFont(nf);
        p->setPen(secondaryText);
        p->drawText(QRectF(l.texts.left(), top + cm.height() + 1, l.texts.width(), nm.height()),
                    Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                    names_.elided(index.data(Qt::DisplayRole).toString(), nf, l.texts.width()));

        // Half opacity while the pointer is elsewhere, folded into the colours.
        const QColor controls = hover ? black : QColor(0, 0, 0, 64);
        const QColor menuColor = hover ? secondaryText : QColor(0, 0, 0, 64);
        const qreal side = 14;
        auto button = [&](const QRectF& box, const QString& name, const QColor& color) {
            const QPixmap& pm = symbol(name, side, color, Symbols::Weight::semibold, dpr);
            p->drawPixmap(
                QRectF(box.center().x() - side / 2, box.center().y() - side / 2, side, side), pm,
                QRectF(pm.rect()));
        };
        button(l.edit, QStringLiteral("pencil"), controls);
        button(l.play, QStringLiteral("play.fill"), controls);
        button(l.menu, QStringLiteral("ellipsis"), menuColor);
        p->restore();
    }

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override {
        if (!event || !view || event->type() != QEvent::ToolTip || !index.isValid()) {
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        }
        const SkillRowLayout l = SkillRowLayout::of(rowRect(option.rect));
        const QString name = index.data(Qt::DisplayRole).toString();
        const QPointF at = event->pos();
        QString tip;
        if (l.edit.contains(at)) {
            tip = "Edit " + name;
        } else if (l.play.contains(at)) {
            tip = "Play " + name;
        } else if (l.texts.contains(at)) {
            tip = name;
        }
        if (tip.isEmpty()) {
            QToolTip::hideText();
        } else {
            QToolTip::showText(event->globalPos(), plainToolTip(tip), view->viewport());
        }
        return true;
    }

    void forgetTexts() {
        commands_.clear();
        names_.clear();
    }

private:
    const QPixmap& symbol(const QString& name, qreal side, const QColor& color,
                          Symbols::Weight weight, qreal dpr) const {
        const QString key = name + QLatin1Char('|') + QString::number(side) + QLatin1Char('|') +
                            QString::number(color.rgba()) + QLatin1Char('|') +
                            QString::number(int(weight)) + QLatin1Char('|') + QString::number(dpr);
        auto it = symbols_.find(key);
        if (it == symbols_.end()) {
            it = symbols_.insert(
                key, QPixmap::fromImage(Symbols::image(name, side, color, weight, dpr)));
        }
        return *it;
    }

    int rowHeight_ = 40;
    mutable QHash<QString, QPixmap> symbols_;
    mutable ElidedLines commands_;
    mutable ElidedLines names_;
};

class SkillListView final : public QListView {
public:
    SkillListView(MainView& owner, QWidget* parent) : QListView(parent), owner_(owner) {
        setFrameShape(QFrame::NoFrame);
        setUniformItemSizes(true);
        setSelectionMode(QAbstractItemView::NoSelection);
        setFocusPolicy(Qt::NoFocus);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setMouseTracking(true);
        viewport()->setAttribute(Qt::WA_Hover);
        viewport()->setAutoFillBackground(false);
        setViewportMargins(0, 10, 0, 10);
        setStyleSheet(QStringLiteral("QListView { background: transparent; border: none; }"));
    }

protected:
    void mouseReleaseEvent(QMouseEvent* event) override {
        QListView::mouseReleaseEvent(event);
        if (event->button() != Qt::LeftButton) {
            return;
        }
        const QModelIndex index = indexAt(event->position().toPoint());
        if (!index.isValid()) {
            return;
        }
        const SkillRowLayout l = SkillRowLayout::of(SkillRowDelegate::rowRect(visualRect(index)));
        const QPointF at = event->position();
        const Uuid id = owner_.skillModel().idAt(index.row());
        if (l.edit.contains(at)) {
            owner_.editSkill(id);
        } else if (l.play.contains(at)) {
            owner_.playSkill(id);
        } else if (l.menu.contains(at)) {
            QMenu* menu = owner_.makeRowMenu(id, this);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            menu->popup(viewport()->mapToGlobal(l.menu.bottomLeft().toPoint()));
        }
    }
    void leaveEvent(QEvent* event) override {
        QListView::leaveEvent(event);
        viewport()->update();
    }

private:
    MainView& owner_;
};

// ---- MainView ----------------------------------------------------------------------------------

MainView::MainView(AppState& app, QWidget* parent) : QWidget(parent), app_(app) {
    setAutoFillBackground(true);
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(24, 18, 24, 18);
    header->setSpacing(12);
    icon_ = new QLabel(this);
    icon_->setFixedSize(32, 32);
    icon_->setAlignment(Qt::AlignCenter);
    if (const auto& brand = Brand::icon()) {
        icon_->setPixmap(QPixmap::fromImage(brand->scaled(
            QSize(32, 32) * devicePixelRatioF(), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
    } else {
        icon_->setPixmap(QPixmap::fromImage(Symbols::image("wand.and.stars", 22, black)));
    }
    header->addWidget(icon_);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    auto* title = plainLabel("Kestro", this);
    title->setFont(scaled(font(), 15, QFont::Bold));
    status_ = plainLabel({}, this);
    status_->setFont(scaled(font(), 9));
    setSecondary(status_);
    titles->addWidget(title);
    titles->addWidget(status_);
    header->addLayout(titles);
    header->addStretch();
    record_ = new QPushButton(this);
    record_->setMinimumHeight(32);
    header->addWidget(record_);
    root->addLayout(header);

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Plain);
    divider->setStyleSheet("color: rgba(0,0,0,0.12);");
    root->addWidget(divider);

    banner_ = new QWidget(this);
    banner_->setAutoFillBackground(true);
    {
        QPalette p = banner_->palette();
        p.setColor(QPalette::Window, QColor(255, 149, 0, 20));
        banner_->setPalette(p);
        auto* row = new QHBoxLayout(banner_);
        row->setContentsMargins(14, 14, 14, 14);
        row->setSpacing(12);
        auto* shield = new QLabel(banner_);
        shield->setPixmap(
            QPixmap::fromImage(Symbols::image("exclamationmark.shield.fill", 18, orange)));
        row->addWidget(shield);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        auto* bannerTitle = plainLabel(MainViewModel::bannerTitle, banner_);
        bannerTitle->setFont(scaled(font(), 10, QFont::Medium));
        auto* bannerText = plainLabel(MainViewModel::bannerText, banner_);
        bannerText->setFont(scaled(font(), 9));
        setSecondary(bannerText);
        texts->addWidget(bannerTitle);
        texts->addWidget(bannerText);
        row->addLayout(texts);
        row->addStretch();
        auto* open = new QPushButton(MainViewModel::bannerButton, banner_);
        row->addWidget(open);
        connect(open, &QPushButton::clicked, this,
                [this] { OnboardingWindow::show(app_.permissions()); });
    }
    root->addWidget(banner_);

    content_ = new QStackedWidget(this);
    empty_ = new QWidget(content_);
    {
        auto* column = new QVBoxLayout(empty_);
        column->setContentsMargins(40, 40, 40, 40);
        column->setSpacing(18);
        column->addStretch();
        keyCap_ = new ControlKeyCap(app_.mainQueue(), empty_);
        column->addWidget(keyCap_, 0, Qt::AlignHCenter);
        emptyText_ = plainLabel({}, empty_);
        emptyText_->setAlignment(Qt::AlignCenter);
        emptyText_->setWordWrap(true);
        emptyText_->setFont(scaled(font(), 10));
        setSecondary(emptyText_);
        column->addWidget(emptyText_);
        column->addStretch();
    }
    model_ = new SkillListModel(this);
    list_ = new SkillListView(*this, content_);
    list_->setItemDelegate(new SkillRowDelegate(list_));
    list_->setModel(model_);
    content_->addWidget(empty_);
    content_->addWidget(list_);
    root->addWidget(content_, 1);

    connect(record_, &QPushButton::clicked, this, [this] {
        if (MainViewModel::recordButton(app_.state(), app_.permissions().allGranted()).toggles) {
            app_.toggleRecording();
        }
    });
    // Rows follow the skills alone; every other change leaves them be.
    connect(&app_, &AppState::skillDataChanged, this, &MainView::syncRows);
    connect(&app_, &AppState::changed, this, &MainView::refresh);
    connect(&app_, &AppState::permissionsChanged, this, &MainView::refresh);
    syncRows();
    refresh();
}

bool MainView::showsList() const {
    return content_->currentIndex() == 1;
}

QAbstractItemView& MainView::skillList() {
    return *list_;
}

QString MainView::deleteTitle(const Skill& skill) {
    return "Delete " + q(skill.name) + "?";
}

bool MainView::isDestructive(const QAction* action) {
    return action && action->property("destructive").toBool();
}

QMenu* MainView::makeRowMenu(const Uuid& id, QWidget* parent) {
    auto* menu = new RowMenu(parent);
    menu->addAction("Export\u2026", this, [this, id] { exportSkill(id); });
    QAction* remove = menu->addAction("Delete", this, [this, id] { confirmDelete(id); });
    remove->setProperty("destructive", true);
    return menu;
}

namespace {

const Skill* shownSkill(SkillListModel& model, const Uuid& id) {
    const QModelIndex index = model.indexOf(id);
    return index.isValid() ? model.skillAt(index.row()) : nullptr;
}

} // namespace

void MainView::playSkill(const Uuid& id) {
    if (const Skill* skill = shownSkill(*model_, id)) {
        app_.cast(*skill);
    }
}

void MainView::exportSkill(const Uuid& id) {
    if (const Skill* skill = shownSkill(*model_, id)) {
        app_.exportSkill(*skill);
    }
}

void MainView::editSkill(const Uuid& id) {
    const Skill* shown = shownSkill(*model_, id);
    if (!shown || editor_) {
        return;
    }
    // A copy: a reload while the editor is open replaces the list it came from.
    const Skill editing = *shown;
    const auto read = app_.skillMarkdown(editing);
    const QModelIndex index = model_->indexOf(id);
    SkillEditor editor(index.data(SkillListModel::commandRole).toString(), q(read.text),
                       q(read.problem), window());
    editor_ = &editor;
    const int result = editor.exec();
    editor_ = nullptr;
    if (result == QDialog::Accepted) {
        app_.saveSkillMarkdown(editing, editor.text().toStdString());
    }
}

void MainView::confirmDelete(const Uuid& id) {
    const Skill* shown = shownSkill(*model_, id);
    if (!shown) {
        return;
    }
    const Skill target = *shown;
    QMessageBox box(window());
    box.setWindowTitle(deleteTitle(target));
    box.setTextFormat(Qt::PlainText);
    box.setText(deleteTitle(target));
    box.setIcon(QMessageBox::Warning);
    QPushButton* remove = box.addButton("Delete", QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton("Cancel", QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    box.exec();
    if (box.clickedButton() == remove) {
        app_.deleteSkill(target);
    }
}

void MainView::refresh() {
    const bool allGranted = app_.permissions().allGranted();
    status_->setText(app_.statusTitle());
    const auto button = MainViewModel::recordButton(app_.state(), allGranted);
    record_->setText(q(button.label));
    record_->setIcon(Symbols::icon(q(button.symbol), Qt::white, Symbols::Weight::semibold));
    record_->setEnabled(button.enabled);
    makeProminent(record_, button.red ? red : black);
    banner_->setVisible(MainViewModel::showsBanner(allGranted));
    emptyText_->setText(q(MainViewModel::emptyStateText(app_.state(), app_.creationStatus())));
    content_->setCurrentIndex(app_.skills().empty() ? 0 : 1);
}

void MainView::syncRows() {
    // In place by id: an open editor, the scroll position and the rows on screen survive.
    model_->setSkillData(app_.skillData());
    content_->setCurrentIndex(app_.skills().empty() ? 0 : 1);
}

// ---- MainWindow --------------------------------------------------------------------------------

namespace {

// Closing only hides the window; it lives as long as the process.
class MainWindowFrame final : public KeptWindow {
public:
    explicit MainWindowFrame(AppState& app) {
        setWindowTitle("Kestro");
        setMinimumSize(int(MainViewModel::minimumSize.width),
                       int(MainViewModel::minimumSize.height));
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new MainView(app, this));
    }
};

QPointer<QWidget>& storage() {
    static QPointer<QWidget> window;
    return window;
}

} // namespace

void MainWindow::show(AppState& app) {
    if (QWidget* w = storage()) {
        bringForward(w);
        return;
    }
    auto* w = new MainWindowFrame(app);
    const Size size = MainViewModel::contentSize(!app.skills().empty());
    w->resize(int(size.width), int(size.height));
    centreOnPrimaryScreen(w);
    storage() = w;
    bringForward(w);
}

void MainWindow::adapt(bool hasSkills) {
    QWidget* w = storage();
    if (!w) {
        return;
    }
    const QRect content = w->geometry();
    auto target = MainViewModel::adaptedFrame(
        Rect::make(content.x(), content.y(), content.width(), content.height()), hasSkills);
    if (!target) {
        return;
    }
    // geometry() is the content area; moving to its own top-left keeps that corner.
    const QRect end(int(target->origin.x), int(target->origin.y), int(target->size.width),
                    int(target->size.height));
    auto* animation = w->findChild<QPropertyAnimation*>(QStringLiteral("adapt"));
    if (!animation) {
        animation = new QPropertyAnimation(w, "geometry", w);
        animation->setObjectName(QStringLiteral("adapt"));
        animation->setDuration(adaptMs);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
    }
    animation->stop();
    if (!w->isVisible()) {
        w->setGeometry(end);
        return;
    }
    animation->setStartValue(content);
    animation->setEndValue(end);
    animation->start();
}

QWidget* MainWindow::window() {
    return storage();
}

} // namespace kestro
