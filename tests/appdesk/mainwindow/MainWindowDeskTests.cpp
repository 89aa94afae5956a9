#include "Kestro/mainwindow/MainView.h"
#include "Kestro/mainwindow/MainViewModel.h"
#include "Kestro/mainwindow/MainWindow.h"
#include "Kestro/mainwindow/SkillEditor.h"
#include "Kestro/mainwindow/SkillListModel.h"
#include "Kestro/onboarding/OnboardingWindow.h"
#include "Kestro/tray/TrayIcon.h"
#include "tests/app/AppTestSupport.h"
#include "tests/appdesk/QtWait.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/linux/WindowManager.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdlib>
#include <vector>

using namespace kestro;
using namespace kestro::testing;
namespace fs = std::filesystem;

namespace {

// The windows on a private X display with a window manager, as a person sees them; each state is
// saved as a screenshot under the build folder.
class MainWindowDeskTest : public AppFixture {
protected:
    static void SetUpTestSuite() {
        session_ = new DesktopSession(DesktopSession::Options{.width = 1280, .height = 800});
        if (!session_->ok()) {
            return;
        }
        startWindowManager(*session_);
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char name[] = "kestro-desk-tests";
        static char* argv[] = {name, nullptr};
        // Kept to the end of the process: windows of the tests may outlive any static order.
        app_ = new QApplication(argc, argv);
    }

    void SetUp() override {
        if (!session_ || !session_->ok()) {
            GTEST_SKIP() << "no private X display: " << (session_ ? session_->error() : "");
        }
        grantAll();
        make();
    }

    // The screenshots are for a person to look at; the assertions wait on what they check.
    static void screenshot(const std::string& name) {
        QTest::qWait(300);
        fs::create_directories("screenshots");
        QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0);
        EXPECT_TRUE(shot.save(QString::fromStdString("screenshots/" + name + ".png")));
    }

    // Heights a window takes, from its own resize events.
    struct ResizeWatch : QObject {
        explicit ResizeWatch(QWidget* watched) { watched->installEventFilter(this); }
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Resize) {
                heights.push_back(static_cast<QWidget*>(watched)->height());
            }
            return false;
        }
        bool sawBetween(int low, int high) const {
            return std::any_of(heights.begin(), heights.end(),
                               [&](int h) { return h > low && h < high; });
        }
        std::vector<int> heights;
    };

    // Once a modal dialog of type D is exposed (its own loop runs), saves a screenshot and
    // dismisses it.
    template <typename D>
    static void whenShown(const std::string& name) {
        auto* poll = new QTimer(qApp);
        QObject::connect(poll, &QTimer::timeout, [poll, name] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<D*>(top);
                if (dialog && dialog->isVisible() && QTest::qWaitForWindowExposed(dialog, 0)) {
                    poll->stop();
                    poll->deleteLater();
                    screenshot(name);
                    dialog->reject();
                    return;
                }
            }
        });
        poll->start(20);
    }

    static inline DesktopSession* session_ = nullptr;
    static inline QApplication* app_ = nullptr;
};

TEST_F(MainWindowDeskTest, TheMainWindowFollowsTheSkillsAndShowsEachState) {
    MainWindow mainWindow;
    mainWindow.show(app());
    QWidget* w = mainWindow.window();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w, 10000));
    EXPECT_TRUE(qtWaitFor([&] { return w->size() == QSize(720, 520); }, 10))
        << w->width() << "x" << w->height();
    screenshot("main-window-empty");

    const QPoint topLeft = w->geometry().topLeft();
    const Skill first = addSkill("Send the weekly report");
    addSkill("Open <b>mail</b> & file");
    // The recorded surfaces of the fixture stand where the desktop's would call this.
    ASSERT_EQ(surfaces_.calls.back(), "adapt with skills");
    ResizeWatch resizes(w);
    mainWindow.adapt(true);
    // Animated: the window passes through sizes between the two (seen in its resize events, which
    // a poll could miss on a loaded machine).
    EXPECT_TRUE(qtWaitFor([&] { return w->size() == QSize(820, 600); }, 10))
        << w->width() << "x" << w->height();
    EXPECT_TRUE(resizes.sawBetween(520, 600)) << "the resize was not animated";
    EXPECT_EQ(w->geometry().topLeft(), topLeft);
    screenshot("main-window-skills");

    auto* view = w->findChild<MainView*>();
    ASSERT_NE(view, nullptr);
    ASSERT_TRUE(view->skillModel().indexOf(first.id).isValid());

    whenShown<SkillEditor>("skill-editor");
    view->editSkill(first.id);

    whenShown<QMessageBox>("delete-confirmation");
    view->confirmDelete(first.id);
    EXPECT_EQ(app().skills().size(), 2u);

    // The row menu, its "Delete" in red.
    {
        QMenu* menu = view->makeRowMenu(first.id, w);
        menu->popup(w->geometry().topLeft() + QPoint(500, 160));
        QTRY_VERIFY_WITH_TIMEOUT(menu->isVisible(), 5000);
        screenshot("main-window-row-menu");
        menu->close();
        delete menu;
    }

    // At the minimum width, long names are cut to one line and every row keeps its buttons.
    addSkill(std::string("Reconcile every unpaid invoice of the last quarter against the bank "
                         "statements and mail a summary to the finance team"));
    addSkill(std::string(400, 'M') + " and then some more words");
    w->resize(int(MainViewModel::minimumSize.width), int(MainViewModel::minimumSize.height));
    QTRY_COMPARE_WITH_TIMEOUT(w->width(), int(MainViewModel::minimumSize.width), 5000);
    EXPECT_EQ(view->skillList().horizontalScrollBar()->isVisible(), false);
    screenshot("main-window-minimum-width-long-names");
    w->resize(820, 600);

    // Closing hides it; showing again brings the same window back.
    w->close();
    EXPECT_TRUE(qtWaitFor([&] { return !w->isVisible(); }, 10));
    mainWindow.show(app());
    EXPECT_EQ(mainWindow.window(), w);
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w, 10000));

    TrayIcon tray(app());
    tray.menu().popup(w->geometry().topLeft() + QPoint(40, 40));
    screenshot("tray-menu");
    EXPECT_TRUE(tray.menu().isVisible());
    tray.menu().close();
}

TEST_F(MainWindowDeskTest, OnboardingShowsTheMissingStepThenSuccess) {
    grant(true, false, true);
    app().permissions().refresh();
    OnboardingWindow onboarding;
    onboarding.show(app().permissions());
    QWidget* w = onboarding.window();
    ASSERT_NE(w, nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w, 10000));
    auto* view = w->findChild<OnboardingView*>();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->counter().text(), "Step 2 of 3");
    EXPECT_EQ(view->heading().text(), "Kestro needs to control your screen.");
    screenshot("onboarding-accessibility");

    grant(true, true, true);
    app().permissions().refresh();
    EXPECT_TRUE(qtWaitFor([&] { return view->showsSuccess(); }, 10));
    screenshot("onboarding-success");

    view->doneButton().click();
    EXPECT_TRUE(qtWaitFor([&] { return onboarding.window() == nullptr; }, 10));
}

} // namespace
