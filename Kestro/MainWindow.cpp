#include "Kestro/MainWindow.h"

#include "Kestro/AppState.h"
#include "Kestro/Brand.h"
#include "Kestro/ControlKeyCap.h"
#include "Kestro/KeptWindow.h"
#include "Kestro/MainViewModel.h"
#include "Kestro/OnboardingWindow.h"
#include "Kestro/SkillIcon.h"
#include "Kestro/Symbols.h"

#include <QApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

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
    editor_->setFont(monospaced(10));
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

// ---- SkillRow ----------------------------------------------------------------------------------

SkillRow::SkillRow(const Skill& skill, Actions actions, QWidget* parent)
    : QWidget(parent), skill_(skill), actions_(std::move(actions)) {
    setAttribute(Qt::WA_Hover);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(10, 7, 10, 7);
    layout->setSpacing(10);

    icon_ = new QLabel(this);
    icon_->setFixedWidth(18);
    layout->addWidget(icon_);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    command_ = plainLabel({}, this);
    command_->setFont(monospaced(10, QFont::Medium));
    name_ = plainLabel({}, this);
    name_->setFont(scaled(font(), 8));
    setSecondary(name_);
    texts->addWidget(command_);
    texts->addWidget(name_);
    layout->addLayout(texts, 1);
    layout->addSpacing(8);

    auto makeButton = [this]() {
        auto* b = new QToolButton(this);
        b->setAutoRaise(true);
        b->setFixedSize(22, 22);
        b->setIconSize(QSize(14, 14));
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    edit_ = makeButton();
    play_ = makeButton();
    menu_ = makeButton();
    menu_->setPopupMode(QToolButton::InstantPopup);
    menu_->setStyleSheet("QToolButton::menu-indicator { image: none; width: 0; }");
    auto* menu = new QMenu(menu_);
    menu->addAction("Export\u2026", this, [this] { exportFile(); });
    menu->addAction("Delete", this, [this] { confirmDelete(); });
    menu_->setMenu(menu);
    layout->addWidget(edit_);
    layout->addWidget(play_);
    layout->addWidget(menu_);

    connect(edit_, &QToolButton::clicked, this, [this] { edit(); });
    connect(play_, &QToolButton::clicked, this, [this] {
        if (actions_.play) {
            actions_.play(skill_);
        }
    });
    refresh();
}

void SkillRow::setSkill(const Skill& skill) {
    skill_ = skill;
    refresh();
}

QString SkillRow::deleteTitle(const Skill& skill) {
    return "Delete " + q(skill.name) + "?";
}

void SkillRow::refresh() {
    // Half opacity while the pointer is elsewhere, folded into the colours.
    const QColor controls = hover_ ? black : QColor(0, 0, 0, 64);
    const QColor menuColor = hover_ ? secondaryText : QColor(0, 0, 0, 64);
    icon_->setPixmap(QPixmap::fromImage(
        Symbols::image(q(SkillIcon::symbol(skill_)), Symbols::sizeForFont(13), secondaryText,
                       Symbols::Weight::medium, devicePixelRatioF())));
    command_->setText(q(skill_.slashCommand()));
    name_->setText(q(skill_.name));
    name_->setToolTip(q(skill_.name));
    edit_->setIcon(Symbols::icon("pencil", controls, Symbols::Weight::semibold));
    play_->setIcon(Symbols::icon("play.fill", controls, Symbols::Weight::semibold));
    menu_->setIcon(Symbols::icon("ellipsis", menuColor, Symbols::Weight::semibold));
    // Tool tips are rich text when they look like markup; escape so a name shows as written.
    edit_->setToolTip(("Edit " + q(skill_.name)).toHtmlEscaped());
    play_->setToolTip(("Play " + q(skill_.name)).toHtmlEscaped());
    update();
}

void SkillRow::setHover(bool hover) {
    if (hover_ != hover) {
        hover_ = hover;
        refresh();
    }
}

void SkillRow::enterEvent(QEnterEvent* event) {
    QWidget::enterEvent(event);
    setHover(true);
}

void SkillRow::leaveEvent(QEvent* event) {
    QWidget::leaveEvent(event);
    setHover(false);
}

void SkillRow::paintEvent(QPaintEvent*) {
    if (!hover_) {
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), 8, 8);
    p.fillPath(path, QColor(0, 0, 0, 13));
}

void SkillRow::edit() {
    QString text;
    QString problem;
    if (actions_.readMarkdown) {
        actions_.readMarkdown(skill_, text, problem);
    }
    const Skill editing = skill_;
    SkillEditor editor(q(editing.slashCommand()), text, problem, window());
    if (editor.exec() == QDialog::Accepted && actions_.saveMarkdown) {
        actions_.saveMarkdown(editing, editor.text());
    }
}

void SkillRow::exportFile() {
    if (actions_.exportFile) {
        actions_.exportFile(skill_);
    }
}

void SkillRow::confirmDelete() {
    QMessageBox box(window());
    box.setWindowTitle(deleteTitle(skill_));
    box.setTextFormat(Qt::PlainText);
    box.setText(deleteTitle(skill_));
    box.setIcon(QMessageBox::Warning);
    QPushButton* remove = box.addButton("Delete", QMessageBox::DestructiveRole);
    QPushButton* cancel = box.addButton("Cancel", QMessageBox::RejectRole);
    box.setDefaultButton(cancel);
    box.setEscapeButton(cancel);
    const Skill target = skill_;
    box.exec();
    if (box.clickedButton() == remove && actions_.remove) {
        actions_.remove(target);
    }
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
    auto* scroll = new QScrollArea(content_);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* list = new QWidget(scroll);
    rows_ = new QVBoxLayout(list);
    rows_->setContentsMargins(12, 10, 12, 10);
    rows_->setSpacing(2);
    rows_->addStretch();
    scroll->setWidget(list);
    content_->addWidget(empty_);
    content_->addWidget(scroll);
    root->addWidget(content_, 1);

    connect(record_, &QPushButton::clicked, this, [this] {
        if (MainViewModel::recordButton(app_.state(), app_.permissions().allGranted()).toggles) {
            app_.toggleRecording();
        }
    });
    connect(&app_, &AppState::changed, this, &MainView::refresh);
    connect(&app_, &AppState::permissionsChanged, this, &MainView::refresh);
    refresh();
}

bool MainView::showsList() const {
    return content_->currentIndex() == 1;
}

SkillRow* MainView::row(const Uuid& id) const {
    auto it = rowById_.find(id);
    return it == rowById_.end() ? nullptr : it->second.data();
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
    syncRows();
    content_->setCurrentIndex(app_.skills().empty() ? 0 : 1);
}

void MainView::syncRows() {
    // Rows are kept by id, so an open editor or confirmation survives a reload.
    std::map<Uuid, QPointer<SkillRow>> next;
    int index = 0;
    for (const Skill& skill : app_.skills()) {
        QPointer<SkillRow> row;
        if (auto it = rowById_.find(skill.id); it != rowById_.end() && it->second) {
            row = it->second;
            row->setSkill(skill);
            rowById_.erase(it);
        } else {
            SkillRow::Actions actions{
                .play = [this](const Skill& s) { app_.cast(s); },
                .exportFile = [this](const Skill& s) { app_.exportSkill(s); },
                .remove = [this](const Skill& s) { app_.deleteSkill(s); },
                .readMarkdown =
                    [this](const Skill& s, QString& text, QString& problem) {
                        auto read = app_.skillMarkdown(s);
                        text = q(read.text);
                        problem = q(read.problem);
                    },
                .saveMarkdown =
                    [this](const Skill& s, const QString& text) {
                        app_.saveSkillMarkdown(s, text.toStdString());
                    },
            };
            row = new SkillRow(skill, std::move(actions));
        }
        rows_->insertWidget(index++, row);
        next[skill.id] = row;
    }
    for (auto& [id, row] : rowById_) {
        if (row) {
            row->deleteLater();
        }
    }
    rowById_ = std::move(next);
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
    w->setGeometry(int(target->origin.x), int(target->origin.y), int(target->size.width),
                   int(target->size.height));
}

QWidget* MainWindow::window() {
    return storage();
}

} // namespace kestro
