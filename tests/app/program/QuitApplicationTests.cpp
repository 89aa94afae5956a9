// Quitting ends the event loop even while windows that refuse to close are up.

#include "Kestro/ui/KeptWindow.h"
#include "Kestro/ui/QuitShortcut.h"
#include "tests/app/QtTestApp.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <functional>
#include <memory>
#include <vector>

namespace {

using kestro::KeptWindow;

// The windows Kestro has up during a cast: the main window (kept: its close only hides it) and
// tool windows standing for the pill and a frame on each screen.
struct CastingDesktop {
    CastingDesktop() {
        main->resize(200, 100);
        main->show();
        for (int i = 0; i < 3; ++i) {
            auto tool = std::make_unique<QWidget>(nullptr, Qt::Tool | Qt::FramelessWindowHint);
            tool->resize(40, 40);
            tool->show();
            tools.push_back(std::move(tool));
        }
    }
    std::unique_ptr<KeptWindow> main = std::make_unique<KeptWindow>();
    std::vector<std::unique_ptr<QWidget>> tools;
};

// Runs the application's loop until `quit` ends it; -1 when it is still running after 5 s.
int runUntilQuit(const std::function<void()>& quit) {
    QTimer::singleShot(0, quit);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(-1); });
    guard.start(5000);
    return QCoreApplication::exec();
}

TEST(QuitApplication, EndsTheLoopWhileKeptAndToolWindowsAreUp) {
    kestro::testing::qtApp();
    CastingDesktop desktop;
    EXPECT_EQ(runUntilQuit([] { kestro::quitApplication(); }), 0);
}

} // namespace
