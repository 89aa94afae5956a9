#include "Kestro/mainwindow/MainView.h"

#include "Kestro/app/AppState.h"
#include "Kestro/mainwindow/ControlKeyCap.h"
#include "Kestro/mainwindow/MainViewModel.h"
#include "Kestro/mainwindow/SkillEditor.h"
#include "Kestro/mainwindow/SkillListModel.h"
#include "Kestro/mainwindow/SkillListView.h"
#include "Kestro/mainwindow/SkillRow.h"
#include "Kestro/ui/Brand.h"
#include "Kestro/ui/Style.h"
#include "Kestro/ui/Symbols.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyleOptionMenuItem>
#include <QVBoxLayout>

namespace kestro {

using namespace Style;

namespace {

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
        icon_->setPixmap(fittedPixmap(*brand, 32, devicePixelRatioF()));
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
        connect(open, &QPushButton::clicked, this, [this] { app_.showOnboarding(); });
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

} // namespace kestro
