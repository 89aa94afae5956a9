#pragma once

#include "KestroCore/Skill.h"

#include <QDialog>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <map>

class QLabel;
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

// One line of the skill list: icon, slash command over name, edit, play and a menu with Export
// and Delete (Delete asks first).
class SkillRow final : public QWidget {
    Q_OBJECT
public:
    // Each gets the skill as the row shows it now.
    struct Actions {
        std::function<void(const Skill&)> play;
        std::function<void(const Skill&)> exportFile;
        std::function<void(const Skill&)> remove;
        // The editor's text, and why it may not be saved over (empty when it may).
        std::function<void(const Skill&, QString& text, QString& problem)> readMarkdown;
        std::function<void(const Skill&, const QString& text)> saveMarkdown;
    };

    SkillRow(const Skill& skill, Actions actions, QWidget* parent = nullptr);

    void setSkill(const Skill& skill);
    const Skill& skill() const { return skill_; }
    bool hovered() const { return hover_; }

    QToolButton& editButton() { return *edit_; }
    QToolButton& playButton() { return *play_; }
    QToolButton& menuButton() { return *menu_; }

    // The steps behind the controls, for the menu's items and for tests.
    void edit();
    void exportFile();
    // Asks for confirmation, then deletes.
    void confirmDelete();

    // The confirmation's title.
    static QString deleteTitle(const Skill& skill);

protected:
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void setHover(bool hover);
    void refresh();

    Skill skill_;
    Actions actions_;
    bool hover_ = false;
    QLabel* icon_ = nullptr;
    QLabel* command_ = nullptr;
    QLabel* name_ = nullptr;
    QToolButton* edit_ = nullptr;
    QToolButton* play_ = nullptr;
    QToolButton* menu_ = nullptr;
};

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
    SkillRow* row(const Uuid& id) const;

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
    QVBoxLayout* rows_ = nullptr;
    std::map<Uuid, QPointer<SkillRow>> rowById_;
};

// The one main window: made on first show and kept for the life of the process; closing only
// hides it. Its size follows whether any skill exists, keeping its top-left corner.
namespace MainWindow {

void show(AppState& app);
void adapt(bool hasSkills);
// The window, once shown (for tests).
QWidget* window();

} // namespace MainWindow

} // namespace kestro
