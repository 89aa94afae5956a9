// The key cap, the tray menu and the onboarding window as drawn, and what they cost at rest.
#include "Kestro/mainwindow/ControlKeyCap.h"
#include "Kestro/onboarding/OnboardingWindow.h"
#include "Kestro/tray/TrayIcon.h"
#include "tests/app/AppTestSupport.h"
#include "tests/app/QtTestApp.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QWidgetAction>

using namespace kestro;
using namespace kestro::testing;

namespace {

class RestingSurfaces : public AppFixture {
protected:
    RestingSurfaces() {
        qtApp();
        grantAll();
        make();
    }
    static QString artifact(const QString& name) {
        QDir().mkpath(QStringLiteral(KESTRO_ARTIFACT_DIR));
        return QStringLiteral(KESTRO_ARTIFACT_DIR "/") + name;
    }
};

// The darkest pixel of a row of the picture, as a grey level.
int darkest(const QImage& image, int y, int fromX, int toX) {
    int least = 255;
    for (int x = fromX; x < toX; ++x) {
        least = std::min(least, qGray(image.pixel(x, y)));
    }
    return least;
}

TEST_F(RestingSurfaces, TheKeyCapIs56By48AndRepaintsOnlyWhileItMoves) {
    // The cap fills its 56 by 48 and no more than its shadow shows beyond.
    const QImage released = ControlKeyCap::render(0, 1).convertToFormat(QImage::Format_ARGB32);
    const QRect cap = ControlKeyCap::capRect;
    EXPECT_EQ(cap.size(), QSize(56, 48));
    EXPECT_EQ(qAlpha(released.pixel(cap.center().x(), cap.top() + 1)), 255);
    EXPECT_EQ(qAlpha(released.pixel(cap.left() + 1, cap.center().y())), 255);
    EXPECT_EQ(qAlpha(released.pixel(cap.right() - 1, cap.center().y())), 255);
    EXPECT_EQ(qAlpha(released.pixel(cap.center().x(), cap.bottom() - 1)), 255);
    EXPECT_LT(qAlpha(released.pixel(cap.center().x(), 0)), 40);
    // The label "control" in its 8 pixel font: its ink is about 6 pixels tall, in the lower half.
    int inkTop = -1, inkBottom = -1;
    for (int y = cap.center().y(); y < cap.bottom() - 2; ++y) {
        if (darkest(released, y, cap.left() + 6, cap.right() - 6) < 200) {
            inkTop = inkTop < 0 ? y : inkTop;
            inkBottom = y;
        }
    }
    ASSERT_GE(inkTop, 0) << "no label";
    EXPECT_LE(inkBottom - inkTop + 1, 8) << "label taller than an 8 pixel font draws";
    EXPECT_GE(inkBottom - inkTop + 1, 4);
    // Pressed, it is smaller and darker.
    const QImage pressed = ControlKeyCap::render(1, 1).convertToFormat(QImage::Format_ARGB32);
    EXPECT_LT(qAlpha(pressed.pixel(cap.left() + 1, cap.center().y())), 255);
    EXPECT_LT(qGray(pressed.pixel(cap.center().x(), cap.top() + 8)),
              qGray(released.pixel(cap.center().x(), cap.top() + 8)));
    released.save(artifact(QStringLiteral("key-cap-released.png")));
    pressed.save(artifact(QStringLiteral("key-cap-pressed.png")));

    ControlKeyCap keyCap(queue_);
    keyCap.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&keyCap));
    EXPECT_EQ(keyCap.size(), QSize(64, 56));
    queue_.advance(0); // the first press
    ASSERT_TRUE(QTest::qWaitFor([&] { return keyCap.depth() == 1.0; }, 2000));
    QApplication::processEvents();
    const int afterPress = keyCap.paints();
    // At rest between taps nothing is painted.
    QTest::qWait(250);
    EXPECT_EQ(keyCap.paints(), afterPress);
    queue_.advance(0.13); // the release
    ASSERT_TRUE(QTest::qWaitFor([&] { return keyCap.depth() == 0.0; }, 2000));
    QApplication::processEvents();
    const int moved = keyCap.paints() - afterPress;
    EXPECT_GE(moved, 1);
    EXPECT_LE(moved, ControlKeyCap::frameSteps + 1) << "one paint per step of the press at most";
}

TEST_F(RestingSurfaces, TheTrayStatusIsAHeadlineAndLongTitlesAreCutOnce) {
    const std::string huge(100000, 'n');
    Skill s;
    s.name = "Sort " + huge;
    SkillStore().save(s);
    app().reloadSkills();

    QElapsedTimer clock;
    clock.start();
    TrayIcon tray(app());
    for (int i = 0; i < 20; ++i) {
        Q_EMIT tray.menu().aboutToShow();
    }
    EXPECT_LT(clock.elapsed(), 2000) << "the long name was laid out again on every rebuild";

    const QList<QAction*> actions = tray.menu().actions();
    auto* status = qobject_cast<QWidgetAction*>(actions.front());
    ASSERT_NE(status, nullptr);
    EXPECT_FALSE(status->isEnabled());
    EXPECT_EQ(status->text(), "Ready");
    auto* label = qobject_cast<QLabel*>(status->defaultWidget());
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->font().bold());
    EXPECT_EQ(label->palette().color(QPalette::Disabled, QPalette::WindowText),
              label->palette().color(QPalette::Active, QPalette::WindowText))
        << "the headline is greyed";

    const QString title = actions[5]->text();
    EXPECT_TRUE(title.startsWith("Sort nnn"));
    EXPECT_TRUE(title.endsWith(QChar(0x2026)));
    EXPECT_LE(QFontMetrics(tray.menu().font()).horizontalAdvance(title), TrayIcon::titleWidth);

    tray.menu().popup(QPoint(10, 10));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&tray.menu()));
    tray.menu().grab().save(artifact(QStringLiteral("tray-menu.png")));
    tray.menu().hide();
}

TEST_F(RestingSurfaces, BoundedTitlesKeepWholeCharacters) {
    const std::string emoji = "\xF0\x9F\x93\x8E"; // one character beyond 16 bits
    std::string many;
    for (int i = 0; i < 400; ++i) {
        many += emoji;
    }
    const struct {
        const char* what;
        std::string title;
        bool cut;
    } cases[] = {
        {"short", "Mail", false},
        {"exactly the bound", std::string(TrayIcon::titleBound, 'a'), false},
        {"one past the bound", std::string(TrayIcon::titleBound + 1, 'a'), true},
        {"long, of pairs", many, true},
    };
    for (const auto& c : cases) {
        const QString t = TrayIcon::boundedTitle(c.title);
        EXPECT_LE(t.size(), TrayIcon::titleBound + 1) << c.what;
        EXPECT_EQ(t.endsWith(QChar(0x2026)), c.cut) << c.what;
        for (qsizetype i = 0; i < t.size(); ++i) {
            EXPECT_FALSE(t.at(i).isHighSurrogate() &&
                         (i + 1 == t.size() || !t.at(i + 1).isLowSurrogate()))
                << c.what << " splits a character at " << i;
        }
    }
}

TEST_F(RestingSurfaces, TheOnboardingWindowCanOnlyBeClosed) {
    OnboardingWindow onboarding;
    onboarding.show(app().permissions());
    QWidget* w = onboarding.window();
    ASSERT_NE(w, nullptr);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    onboarding.close();
}

} // namespace
