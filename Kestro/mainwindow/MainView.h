#pragma once

#include "Kestro/mainwindow/SkillEditor.h"
#include "KestroCore/Skill.h"

#include <QPointer>
#include <QWidget>

class QAbstractItemView;
class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QStackedWidget;

namespace kestro {

class AppState;
class ControlKeyCap;
class SkillListModel;
class SkillListView;

// The content of the main window: header with status and record button, the banner while a
// permission is missing, then the empty state or the skill list. It follows the application
// object and keeps no state of its own beyond its rows.
class MainView final : public QWidget {
    Q_OBJECT
public:
    explicit MainView(AppState& app, QWidget* parent = nullptr);

    QPushButton& recordButton() { return *record_; }
    QLabel& statusLabel() { return *status_; }
    QWidget& banner() { return *banner_; }
    QLabel& emptyText() { return *emptyText_; }
    bool showsList() const;
    SkillListModel& skillModel() { return *model_; }
    QAbstractItemView& skillList();
    // The widget of the skill's row while the row is on screen (only those rows have one).
    QWidget* rowWidget(const Uuid& id);

    // A row's actions, for the skill with `id` as the row shows it now.
    void editSkill(const Uuid& id);
    void exportSkill(const Uuid& id);
    void playSkill(const Uuid& id);
    // Asks for confirmation, then deletes.
    void confirmDelete(const Uuid& id);
    // The row's menu: "Export…" and "Delete", the latter drawn as destructive.
    QMenu* makeRowMenu(const Uuid& id, QWidget* parent);
    // The open editor, or null.
    SkillEditor* openEditor() const { return editor_; }

    // The confirmation's title.
    static QString deleteTitle(const Skill& skill);
    // Whether a menu draws `action` as destructive.
    static bool isDestructive(const QAction* action);

    void refresh();

private:
    void syncRows();

    AppState& app_;
    QLabel* icon_ = nullptr;
    QLabel* status_ = nullptr;
    QPushButton* record_ = nullptr;
    QWidget* banner_ = nullptr;
    QStackedWidget* content_ = nullptr;
    QWidget* empty_ = nullptr;
    ControlKeyCap* keyCap_ = nullptr;
    QLabel* emptyText_ = nullptr;
    SkillListModel* model_ = nullptr;
    SkillListView* list_ = nullptr;
    QPointer<SkillEditor> editor_;
};

} // namespace kestro
