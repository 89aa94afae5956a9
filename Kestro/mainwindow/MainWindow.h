#pragma once

#include "KestroCore/Skill.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

class QAbstractItemView;
class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;
class QVBoxLayout;

namespace kestro {

class AppState;
class ControlKeyCap;

// The SKILL.md editor: Ctrl+S or Save writes, Cancel writes nothing. When the file could not be
// read it opens empty and read-only, and says why, so nothing the user never saw is replaced.
class SkillEditor final : public QDialog {
    Q_OBJECT
public:
    SkillEditor(const QString& title, const QString& text, const QString& problem,
                QWidget* parent = nullptr);

    QString text() const;
    QPlainTextEdit& editor() { return *editor_; }
    QPushButton& saveButton() { return *save_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    QPlainTextEdit* editor_ = nullptr;
    QPushButton* save_ = nullptr;
};

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

// The one main window: made on first show and kept for the life of the process; closing only
// hides it. Its size follows whether any skill exists, keeping its top-left corner, animated.
namespace MainWindow {

inline constexpr int adaptMs = 200;

void show(AppState& app);
void adapt(bool hasSkills);
// The window, once shown (for tests).
QWidget* window();

} // namespace MainWindow

} // namespace kestro
