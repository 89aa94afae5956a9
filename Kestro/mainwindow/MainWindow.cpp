#include "Kestro/mainwindow/MainWindow.h"

#include "Kestro/app/AppState.h"
#include "Kestro/mainwindow/ControlKeyCap.h"
#include "Kestro/mainwindow/MainViewModel.h"
#include "Kestro/mainwindow/SkillListModel.h"
#include "Kestro/onboarding/OnboardingWindow.h"
#include "Kestro/surfaces/KeptWindow.h"
#include "Kestro/ui/Brand.h"
#include "Kestro/ui/Symbols.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
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
#include <QTimer>
#include <QToolButton>
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

// Sizes the rows; the row widgets on top draw them.
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
    static QRect rowRect(const QRect& item) {
        return item.adjusted(marginX, 0, -marginX, -spacing);
    }

    QSize sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const override {
        return QSize(SkillRowLayout::buttonSide, rowHeight_ + spacing);
    }
    void paint(QPainter*, const QStyleOptionViewItem&, const QModelIndex&) const override {}

private:
    int rowHeight_ = 40;
};

// One line of the skill list: icon, slash command over name, edit, play and a menu with Export
// and Delete. Only the rows on screen have one; scrolling hands a widget on to the next row.
class SkillRowWidget final : public QWidget {
public:
    SkillRowWidget(MainView& owner, QWidget* parent) : QWidget(parent), owner_(owner) {
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

    // Shows the row of `index`; texts are measured again only when they change.
    void showRow(const QModelIndex& index) {
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

    const Uuid& id() const { return id_; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        const SkillRowLayout l = SkillRowLayout::of(QRectF(rect()));
        icon_->setGeometry(l.icon.toRect());
        icon_->setAlignment(Qt::AlignCenter);
        edit_->move(l.edit.topLeft().toPoint());
        play_->move(l.play.topLeft().toPoint());
        menu_->move(l.menu.topLeft().toPoint());
        placeTexts();
    }
    void enterEvent(QEnterEvent* event) override {
        QWidget::enterEvent(event);
        setHover(true);
    }
    void leaveEvent(QEvent* event) override {
        QWidget::leaveEvent(event);
        setHover(false);
    }
    void hideEvent(QHideEvent* event) override {
        QWidget::hideEvent(event);
        setHover(false);
    }
    void paintEvent(QPaintEvent*) override {
        if (!hover_) {
            return;
        }
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath path;
        path.addRoundedRect(QRectF(rect()), 8, 8);
        p.fillPath(path, QColor(0, 0, 0, 13));
    }

private:
    void placeTexts() {
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
    void setHover(bool hover) {
        if (hover_ != hover) {
            hover_ = hover;
            paintControls();
            update();
        }
    }
    void paintControls() {
        // Half opacity while the pointer is elsewhere, folded into the colours.
        const QColor controls = hover_ ? black : QColor(0, 0, 0, 64);
        const QColor menuColor = hover_ ? secondaryText : QColor(0, 0, 0, 64);
        edit_->setIcon(Symbols::icon("pencil", controls, Symbols::Weight::semibold));
        play_->setIcon(Symbols::icon("play.fill", controls, Symbols::Weight::semibold));
        menu_->setIcon(Symbols::icon("ellipsis", menuColor, Symbols::Weight::semibold));
    }

    MainView& owner_;
    Uuid id_;
    QString fullCommand_;
    QString fullName_;
    QString symbol_;
    bool hover_ = false;
    QLabel* icon_ = nullptr;
    QLabel* command_ = nullptr;
    QLabel* name_ = nullptr;
    QToolButton* edit_ = nullptr;
    QToolButton* play_ = nullptr;
    QToolButton* menu_ = nullptr;
    ElidedLines commands_;
    ElidedLines names_;
};

class SkillListView;
QAccessibleInterface* skillListAccessible(const QString&, QObject* object);

class SkillListView final : public QListView {
public:
    SkillListView(MainView& owner, QWidget* parent) : QListView(parent), owner_(owner) {
        // Told as the widgets it holds, the rows on screen, not as a list of painted items.
        static const bool installed = [] {
            QAccessible::installFactory(skillListAccessible);
            return true;
        }();
        (void)installed;
        setFrameShape(QFrame::NoFrame);
        setUniformItemSizes(true);
        setSelectionMode(QAbstractItemView::NoSelection);
        setFocusPolicy(Qt::NoFocus);
        setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        viewport()->setAutoFillBackground(false);
        setViewportMargins(0, 10, 0, 10);
        setStyleSheet(QStringLiteral("QListView { background: transparent; border: none; }"));
    }

    void setModel(QAbstractItemModel* model) override {
        QListView::setModel(model);
        for (auto sig : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
            connect(model, sig, this, [this] { scheduleRows(); });
        }
        connect(model, &QAbstractItemModel::layoutChanged, this, [this] { scheduleRows(); });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { scheduleRows(); });
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& first, const QModelIndex& last) {
                    if (last.row() >= shownFirst_ && first.row() <= shownLast_) {
                        scheduleRows();
                    }
                });
        scheduleRows();
    }

    // The row widget showing the skill, when its row is on screen.
    QWidget* rowWidget(const Uuid& id) {
        placeRows();
        for (SkillRowWidget* w : pool_) {
            if (w->isVisible() && w->id() == id) {
                return w;
            }
        }
        return nullptr;
    }

protected:
    void scrollContentsBy(int dx, int dy) override {
        QListView::scrollContentsBy(dx, dy);
        placeRows();
    }
    void resizeEvent(QResizeEvent* event) override {
        QListView::resizeEvent(event);
        scheduleRows();
    }
    void updateGeometries() override {
        QListView::updateGeometries();
        scheduleRows();
    }

private:
    void scheduleRows() {
        if (!scheduled_) {
            scheduled_ = true;
            QTimer::singleShot(0, this, [this] { placeRows(); });
        }
    }

    void placeRows() {
        scheduled_ = false;
        QAbstractItemModel* m = model();
        const int rows = m ? m->rowCount() : 0;
        std::size_t used = 0;
        shownFirst_ = 0;
        shownLast_ = -1;
        if (rows > 0) {
            executeDelayedItemsLayout();
            const QModelIndex top = indexAt(QPoint(SkillRowDelegate::marginX + 1, 0));
            const int first = top.isValid() ? top.row() : 0;
            const int height = viewport()->height();
            for (int r = first; r < rows; ++r) {
                const QModelIndex index = m->index(r, 0);
                const QRect item = visualRect(index);
                if (item.top() > height) {
                    break;
                }
                if (used == pool_.size()) {
                    pool_.push_back(new SkillRowWidget(owner_, viewport()));
                }
                SkillRowWidget* w = pool_[used++];
                w->setGeometry(SkillRowDelegate::rowRect(item));
                w->showRow(index);
                shownLast_ = r;
            }
            shownFirst_ = first;
        }
        for (std::size_t i = used; i < pool_.size(); ++i) {
            pool_[i]->hide();
        }
    }

    MainView& owner_;
    std::vector<SkillRowWidget*> pool_;
    bool scheduled_ = false;
    int shownFirst_ = 0;
    int shownLast_ = -1;
};

QAccessibleInterface* skillListAccessible(const QString&, QObject* object) {
    if (auto* list = dynamic_cast<SkillListView*>(object)) {
        return new QAccessibleWidget(list, QAccessible::List);
    }
    return nullptr;
}

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

QWidget* MainView::rowWidget(const Uuid& id) {
    return list_->rowWidget(id);
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
