#include "Kestro/mainwindow/ControlKeyCap.h"
#include "Kestro/mainwindow/MainView.h"
#include "Kestro/mainwindow/SkillEditor.h"
#include "Kestro/mainwindow/SkillListModel.h"
#include "Kestro/onboarding/OnboardingWindow.h"
#include "Kestro/tray/TrayIcon.h"
#include "KestroBase/FileIO.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/QtTestApp.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace kestro;
using namespace kestro::testing;
namespace fs = std::filesystem;

namespace {

// Runs `act` on the modal window that opens next, once it is up.
template <typename Widget> void whenModalOpens(std::function<void(Widget&)> act) {
    QTimer::singleShot(0, qApp, [act] {
        for (int i = 0; i < 200; ++i) {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* w = qobject_cast<Widget*>(top);
                if (w && w->isVisible()) {
                    act(*w);
                    if (w->isVisible()) {
                        ADD_FAILURE() << "the window stayed open";
                        w->close();
                    }
                    return;
                }
            }
            QTest::qWait(10);
        }
        ADD_FAILURE() << "no modal window opened";
    });
}

class MainWindowTest : public AppFixture {
protected:
    MainWindowTest() {
        qtApp();
        grantAll();
        make();
        app().setRevealFile([this](const fs::path& p) { revealed_.push_back(p); });
        downloads_ = data_.root() / "Downloads";
        fs::create_directories(downloads_);
        app().setExportFolder([this] { return downloads_; });
    }

    std::vector<fs::path> revealed_;
    fs::path downloads_;
};

TEST_F(MainWindowTest, TheViewFollowsStatePermissionsAndSkills) {
    MainView view(app());
    EXPECT_EQ(view.recordButton().text(), "Record  (\u2303\u2303)");
    EXPECT_TRUE(view.recordButton().isEnabled());
    EXPECT_TRUE(view.banner().isHidden());
    EXPECT_FALSE(view.showsList());
    EXPECT_EQ(view.emptyText().text(), "Double-tap Control (\u2303) to create your first skill");
    EXPECT_EQ(view.statusLabel().text(), "Ready");

    grant(true, false, true);
    app().permissions().refresh();
    drain();
    view.refresh();
    EXPECT_FALSE(view.banner().isHidden());
    EXPECT_FALSE(view.recordButton().isEnabled());

    const Skill skill = addSkill("<img src=x> & <b>bold</b>");
    EXPECT_TRUE(view.showsList());
    const QModelIndex row = view.skillModel().indexOf(skill.id);
    ASSERT_TRUE(row.isValid());
    // Data shows as written, never as markup: drawn as plain text, and its tool tip escaped.
    EXPECT_EQ(row.data(Qt::DisplayRole).toString(), "<img src=x> & <b>bold</b>");
    EXPECT_EQ(row.data(SkillListModel::commandRole).toString().toStdString(), skill.slashCommand());
    EXPECT_EQ(plainToolTip(row.data(Qt::ToolTipRole).toString()),
              "<qt>&lt;img src=x&gt; &amp; &lt;b&gt;bold&lt;/b&gt;</qt>");
    EXPECT_EQ(MainView::deleteTitle(skill), "Delete <img src=x> & <b>bold</b>?");
}

TEST_F(MainWindowTest, EditorSavesWithCtrlSAndCancelWritesNothing) {
    const Skill skill = addSkill("Send report");
    MainView view(app());
    const QModelIndex row = view.skillModel().indexOf(skill.id);
    ASSERT_TRUE(row.isValid());
    const fs::path file = SkillStore().markdownURL(skill);
    const std::string before = readFile(file);

    whenModalOpens<SkillEditor>([](SkillEditor& editor) {
        editor.editor().setPlainText("changed but cancelled");
        editor.reject();
    });
    view.editSkill(skill.id);
    EXPECT_EQ(readFile(file), before);

    std::string renamed = before;
    renamed.replace(renamed.find("Send report"), 11, "Renamed");
    whenModalOpens<SkillEditor>([this, &view, renamed](SkillEditor& editor) {
        EXPECT_EQ(editor.text().toStdString().find("---"), 0u);
        // A reload while the editor is open leaves it open, on the same skill.
        addSkill("Arrived meanwhile");
        EXPECT_EQ(view.openEditor(), &editor);
        EXPECT_TRUE(editor.isVisible());
        editor.editor().setPlainText(QString::fromStdString(renamed));
        QTest::keyClick(&editor.editor(), Qt::Key_S, Qt::ControlModifier);
    });
    view.editSkill(skill.id);
    EXPECT_EQ(readFile(file), renamed);
    ASSERT_EQ(app().skills().size(), 2u);
    const QModelIndex after = view.skillModel().indexOf(skill.id);
    ASSERT_TRUE(after.isValid());
    // The row of the edited skill shows it reloaded.
    EXPECT_EQ(after.data(Qt::DisplayRole).toString(), "Renamed");
    EXPECT_EQ(view.openEditor(), nullptr);
}

TEST_F(MainWindowTest, AnUnreadableSkillFileOpensEmptyAndCannotBeSavedOver) {
    const Skill skill = addSkill("Send report");
    MainView view(app());
    const fs::path file = SkillStore().markdownURL(skill);
    // Spoilt after the list was read: the row is still there.
    writeFile(file, "name: \xff broken");
    ASSERT_TRUE(view.skillModel().indexOf(skill.id).isValid());
    whenModalOpens<SkillEditor>([](SkillEditor& editor) {
        EXPECT_EQ(editor.text(), "");
        EXPECT_FALSE(editor.saveButton().isEnabled());
        QTest::keyClick(&editor.editor(), Qt::Key_S, Qt::ControlModifier);
        editor.reject();
    });
    view.editSkill(skill.id);
    EXPECT_EQ(readFile(file), "name: \xff broken");
}

TEST_F(MainWindowTest, DeleteOnlyAfterConfirmingAndExportAtOnce) {
    const Skill skill = addSkill("Send report");
    MainView view(app());
    ASSERT_TRUE(view.skillModel().indexOf(skill.id).isValid());
    // The menu: "Export…", then "Delete" drawn as destructive.
    std::unique_ptr<QMenu> menu(view.makeRowMenu(skill.id, &view));
    ASSERT_EQ(menu->actions().size(), 2);
    EXPECT_EQ(menu->actions()[0]->text(), "Export\u2026");
    EXPECT_FALSE(MainView::isDestructive(menu->actions()[0]));
    EXPECT_EQ(menu->actions()[1]->text(), "Delete");
    EXPECT_TRUE(MainView::isDestructive(menu->actions()[1]));

    view.exportSkill(skill.id);
    ASSERT_EQ(revealed_.size(), 1u);
    EXPECT_EQ(revealed_[0], downloads_ / "send-report.md");
    EXPECT_TRUE(fs::exists(downloads_ / "send-report.md"));

    whenModalOpens<QMessageBox>([](QMessageBox& box) {
        EXPECT_EQ(box.windowTitle(), "Delete Send report?");
        for (auto* b : box.buttons()) {
            if (b->text() == "Cancel") {
                b->click();
            }
        }
    });
    view.confirmDelete(skill.id);
    EXPECT_EQ(app().skills().size(), 1u);
    EXPECT_TRUE(fs::exists(SkillStore().folder(skill)));

    clearLog();
    whenModalOpens<QMessageBox>([](QMessageBox& box) {
        for (auto* b : box.buttons()) {
            if (b->text() == "Delete") {
                b->click();
            }
        }
    });
    view.confirmDelete(skill.id);
    EXPECT_TRUE(app().skills().empty());
    EXPECT_FALSE(fs::exists(SkillStore().folder(skill)));
    const auto lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2],
              "Kestro: deleted skill \"Send report\" (" + skill.id.uuidString() + ")");
    EXPECT_EQ(lines.back(), "Kestro: skills now = 0");
    QApplication::processEvents();
    EXPECT_FALSE(view.showsList());
}

// A second spelling of a skill's folder (skills/<id> beside skills/<ID>) that appears while the
// list is shown leaves one row for the skill, and is said once however often the list reloads.
TEST_F(MainWindowTest, TwoSpellingsOfOneSkillFolderShowOneRow) {
    MainView view(app());
    const Skill skill = addSkill("Send report");
    const fs::path upper = SkillStore().folder(skill);
    std::string name = upper.filename().string();
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    const fs::path lower = upper.parent_path() / name;
    auto shown = [&] {
        std::vector<std::string> rows;
        for (int i = 0; i < view.skillModel().rowCount(); ++i) {
            rows.push_back(view.skillModel().index(i, 0).data().toString().toStdString());
        }
        return rows;
    };
    auto passedOver = [&](const fs::path& passed, const fs::path& kept) {
        const std::string line = "Kestro: skill folder " + passed.string() +
                                 " passed over: " + kept.string() +
                                 " holds the skill with the same id";
        const auto lines = log();
        return std::count(lines.begin(), lines.end(), line);
    };
    // The lower-case spelling is shown first, then the upper-case one appears beside it and is
    // the one kept; then the lower-case one appears again beside that.
    fs::rename(upper, lower);
    app().reloadSkills();
    EXPECT_EQ(shown(), (std::vector<std::string>{"Send report"}));
    fs::copy(lower, upper);
    Skill renamed = skill;
    renamed.name = "Send report again";
    SkillStore().save(renamed);
    clearLog();
    for (int reload = 0; reload < 3; ++reload) {
        app().reloadSkills();
        EXPECT_EQ(app().skills().size(), 1u);
        EXPECT_EQ(shown(), (std::vector<std::string>{"Send report again"}));
    }
    EXPECT_EQ(passedOver(lower, upper), 1);
    EXPECT_EQ(readFile(lower / "SKILL.md").find("Send report again"), std::string::npos);
    EXPECT_TRUE(view.showsList());
}

TEST_F(MainWindowTest, OnboardingFollowsThePermissions) {
    grant(false, false, false);
    app().permissions().refresh();
    OnboardingView view(app().permissions(), {});
    EXPECT_EQ(view.counter().text(), "Step 1 of 3");
    EXPECT_EQ(view.heading().text(), "Kestro needs to see your screen.");
    EXPECT_EQ(view.requestButton().text(), "Give access to screen recording");

    grant(true, false, false);
    app().permissions().refresh();
    QApplication::processEvents();
    EXPECT_EQ(view.counter().text(), "Step 2 of 3");
    EXPECT_EQ(view.requestButton().text(), "Give access to accessibility");

    grant(true, true, true);
    app().permissions().refresh();
    QApplication::processEvents();
    EXPECT_TRUE(view.showsSuccess());
}

TEST_F(MainWindowTest, TheTrayMenuShowsTheModelWithAmpersandsAsWritten) {
    addSkill("Send & file");
    TrayIcon tray(app());
    Q_EMIT tray.menu().aboutToShow();
    QStringList titles;
    for (QAction* action : tray.menu().actions()) {
        titles << (action->isSeparator() ? "--" : action->text());
    }
    const QStringList expected = {"Ready",
                                  "--",
                                  "Start recording  (\u2303\u2303)",
                                  "Run a skill\u2026  (\u2303/)",
                                  "--",
                                  "Send && file",
                                  "--",
                                  "Onboarding && Permissions\u2026",
                                  "Quit Kestro"};
    EXPECT_EQ(titles, expected);
    EXPECT_EQ(tray.menu().actions().back()->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Q));
    EXPECT_FALSE(tray.menu().actions().front()->isEnabled());

    // Choosing a skill casts it (here without a key, so the cast road says it cannot run).
    tray.menu().actions()[5]->trigger();
    drain();
    const auto lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("Kestro: can't run \"Send & file\"", 0), 0u) << lines.back();

    // The menu follows the state once the change is delivered.
    tray.menu().actions()[2]->trigger();
    drain();
    QApplication::processEvents();
    EXPECT_EQ(app().state(), KestroState::recording());
    EXPECT_EQ(tray.menu().actions()[2]->text(), "Stop recording  (\u2303\u2303)");
    EXPECT_FALSE(tray.menu().actions()[3]->isEnabled());
}

TEST_F(MainWindowTest, TheKeyCapTapsTwiceEveryInterval) {
    ControlKeyCap cap(queue_);
    std::vector<std::pair<double, bool>> seen;
    double now = 0;
    auto step = [&](double to) {
        queue_.advance(to - now);
        now = to;
        seen.emplace_back(to, cap.pressed());
    };
    cap.show();
    step(0);
    step(0.13);
    step(0.20);
    step(0.26);
    step(0.39);
    step(1.0);
    step(1.7);
    step(1.83);
    const std::vector<std::pair<double, bool>> expected = {
        {0, true},     {0.13, false}, {0.20, false}, {0.26, true},
        {0.39, false}, {1.0, false},  {1.7, true},   {1.83, false}};
    EXPECT_EQ(seen, expected);
    EXPECT_TRUE(cap.animating());

    // Hidden mid-tap: what was scheduled finishes, released, and nothing new starts.
    step(1.96);
    EXPECT_TRUE(cap.pressed());
    cap.hide();
    EXPECT_FALSE(cap.animating());
    step(2.09);
    EXPECT_FALSE(cap.pressed());
    step(3.4);
    step(3.5);
    EXPECT_FALSE(cap.pressed());

    // Shown again: a fresh timeline from that moment.
    cap.show();
    step(3.5);
    EXPECT_TRUE(cap.pressed());
}

} // namespace
