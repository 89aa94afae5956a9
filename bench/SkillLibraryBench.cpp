// The application with a large skill library on a private desktop with a window manager: the
// main window shown once the skills are loaded, Control-/ to the palette with the keyboard,
// Escape to the palette gone, a query keystroke to the rows drawn, resident memory at rest, and
// the main thread's longest busy stretch for each change of state. The library is generated in
// a temporary data folder: 10,000 skills, one of them with a 60 MiB summary, or 1,000.
#include "Kestro/app/AppState.h"
#include "Kestro/mainwindow/MainView.h"
#include "Kestro/mainwindow/MainWindow.h"
#include "Kestro/mainwindow/SkillListModel.h"
#include "Kestro/palette/PaletteView.h"
#include "Kestro/palette/PaletteWindow.h"
#include "KestroCore/HotkeyEngine.h"
#include "KestroCore/SkillStore.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAppActivator.h"
#include "platform/fake/FakeDisplaySource.h"
#include "platform/fake/FakeEventTaps.h"
#include "platform/fake/FakeHttpTransport.h"
#include "platform/fake/FakePermissionChecks.h"
#include "platform/fake/FakeScreenCapture.h"
#include "platform/fake/FakeSyntheticInput.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/linux/WindowManager.h"

#include <QApplication>
#include <QLineEdit>
#include <QTest>
#include <QWindow>
#include <benchmark/benchmark.h>

// After Qt: the X11 headers' macros would break it.
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/X11EventTaps.h"
#include "platform/linux/X11SurfaceWindows.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

using namespace kestro;
namespace x11 = kestro::platform::linux_x11;
namespace fake = kestro::platform::fake;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(p * static_cast<double>(v.size())))];
}

double residentMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stod(line.substr(6)) / 1024.0;
        }
    }
    return 0;
}

void generate(int count, bool hugeSummary) {
    const char* words[] = {"file",    "weekly",  "report",   "reconcile", "invoices", "open",
                           "send",    "summary", "calendar", "meeting",   "notes",    "export",
                           "archive", "inbox",   "deploy",   "review",    "ticket",   "upload"};
    SkillStore store;
    for (int i = 0; i < count; ++i) {
        Skill s;
        s.name = std::string(words[i % 18]) + " " + words[(i / 18) % 18] + " " +
                 words[(i / 324) % 18] + " " + std::to_string(i);
        s.trigger = std::string("when ") + words[(i * 7) % 18] + " is due";
        s.summary = "Opens the " + std::string(words[(i * 5) % 18]) + " and files it.";
        if (hugeSummary && i == count / 2) {
            s.summary = std::string(60u << 20, 'x');
        }
        s.appScope = {"org.example.Editor"};
        PlanStep step;
        step.intent = "Click the button";
        s.plan = {step};
        store.save(s);
    }
}

// The windows the benchmark shows: the main window and the palette, as the program has them.
class BenchSurfaces final : public Surfaces {
public:
    explicit BenchSurfaces(platform::SurfaceWindows* windows) : palette(windows) {}

    std::function<std::uint32_t()> userTime;
    MainWindow mainWindow;
    PaletteWindow palette;

    void showOverlay(OverlayStyle) override {}
    void hideOverlay() override {}
    void showPill(AppState&) override {}
    void setPillHidden(bool) override {}
    void showPalette(AppState& app, std::function<void()> onClosed) override {
        if (!following_) {
            QObject::connect(&app, &AppState::skillDataChanged, &app,
                             [this] { palette.reloadSkills(); });
            following_ = true;
        }
        palette.show(
            PaletteWindow::Host{
                .skillData = [&app] { return app.skillData(); },
                .toggleRecording = [&app] { app.toggleRecording(); },
                .cast = [&app](const Skill& s,
                               const std::map<std::string, std::string>& v) { app.cast(s, v); }},
            std::move(onClosed), userTime ? userTime() : 0);
    }
    void showMainWindow(AppState& app) override { mainWindow.show(app); }
    void adaptMainWindow(bool hasSkills) override { mainWindow.adapt(hasSkills); }
    void showOnboarding(PermissionsManager&) override {}

private:
    bool following_ = false;
};

void BM_SkillLibraryOnTheDesktop(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    kestro::testing::DesktopSession session;
    if (!session.ok()) {
        state.SkipWithError("no private X server");
        return;
    }
    const pid_t wm = kestro::testing::startWindowManager(session);
    kestro::testing::TempDataDir data;
    generate(count, count >= 10000);

    int argc = 1;
    char name[] = "kestro-skill-library-bench";
    char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "xcb");
    auto* qapp = new QApplication(argc, argv);
    {
        x11::GLibMainQueue queue;
        auto* native = qapp->nativeInterface<QNativeInterface::QX11Application>();
        x11::X11SurfaceWindows windows(queue,
                                       native ? static_cast<void*>(native->connection()) : nullptr);
        platform::SystemClock clock;
        fake::FakeEventTaps appTaps;
        fake::FakeDisplaySource displays;
        displays.displays.push_back({1, Rect::make(0, 0, 1920, 1080), true});
        displays.screenList.push_back({1, 1.0});
        fake::FakeAccessibility access;
        fake::FakeApplications apps;
        fake::FakeScreenCapture capture;
        capture.addDisplay(1, 1920, 1080);
        fake::FakePermissionChecks checks;
        checks.screenCapture = true;
        checks.trusted = true;
        checks.listenEvent = platform::PermissionChecks::accessGranted;
        fake::FakeURLOpener opener;
        fake::FakeSyntheticInput input;
        fake::FakeAppActivator activator;
        BenchSurfaces surfaces(&windows);

        // The skills are loaded as the application object is made.
        const auto loadStart = Clock::now();
        AppState app(AppState::Platform{appTaps, queue, clock, displays, access, apps, capture,
                                        checks, opener, input, activator},
                     AppState::ModelService{std::make_shared<fake::FakeHttpTransport>(),
                                            "http://127.0.0.1:9/v1/messages"},
                     surfaces, QString::fromStdString((data.root() / "settings.ini").string()));
        const double loadMs = msSince(loadStart);

        // Main window: shown, with its rows, after the load.
        const auto showStart = Clock::now();
        surfaces.mainWindow.show(app);
        QWidget* window = surfaces.mainWindow.window();
        auto* view = window->findChild<MainView*>();
        (void)QTest::qWaitFor(
            [&] {
                return window->windowHandle()->isExposed() &&
                       view->skillModel().rowCount() == count;
            },
            20000);
        window->repaint();
        const double shownMs = msSince(showStart);

        x11::X11EventTaps taps(queue);
        HotkeyEngine engine(taps, queue, clock);
        surfaces.userTime = [&] { return engine.eventTimestamp(); };
        engine.onEvent = [&](HotkeyEngine::Event e) {
            if (e == HotkeyEngine::Event::openPalette) {
                app.openPalette();
            } else if (e == HotkeyEngine::Event::panic) {
                app.panic();
            }
        };
        engine.start();
        Display* d = XOpenDisplay(session.display().c_str());
        auto press = [&](KeySym sym, bool down) {
            XTestFakeKeyEvent(d, XKeysymToKeycode(d, sym), down ? True : False, CurrentTime);
            XFlush(d);
        };
        QTest::qWait(200);

        std::vector<double> opens;
        std::vector<double> escapes;
        std::vector<double> keystrokes;
        for (auto _ : state) {
            for (int round = 0; round < 20; ++round) {
                press(XK_Control_L, true);
                QTest::qWait(5);
                const auto start = Clock::now();
                press(XK_slash, true);
                const bool open = QTest::qWaitFor(
                    [&] {
                        QWidget* panel = surfaces.palette.panel();
                        return panel && panel->windowHandle() &&
                               panel->windowHandle()->isExposed() && panel->isActiveWindow();
                    },
                    5000);
                opens.push_back(msSince(start));
                press(XK_slash, false);
                press(XK_Control_L, false);
                if (!open) {
                    state.SkipWithError("the palette did not open with the keyboard");
                    break;
                }
                QTest::qWait(250);
                PaletteView* pv = surfaces.palette.view();
                for (const char* q : {"r", "re", "rep"}) {
                    const auto t = Clock::now();
                    pv->queryField()->setText(QString::fromLatin1(q));
                    pv->repaint();
                    keystrokes.push_back(msSince(t));
                }
                const auto escStart = Clock::now();
                press(XK_Escape, true);
                press(XK_Escape, false);
                (void)QTest::qWaitFor([&] { return !surfaces.palette.isOpen(); }, 5000);
                escapes.push_back(msSince(escStart));
                QTest::qWait(100);
            }
        }

        // Each change of state, with everything that follows it on the main thread.
        auto busy = [](const std::function<void()>& change) {
            const auto t = Clock::now();
            change();
            QCoreApplication::processEvents();
            return msSince(t);
        };
        double longest = 0;
        for (int i = 0; i < 5; ++i) {
            longest = std::max(longest, busy([&] { app.openPalette(); }));
            longest = std::max(longest, busy([&] { surfaces.palette.close(); }));
            longest = std::max(longest, busy([&] { app.toggleRecording(); }));
            QTest::qWait(50);
            longest = std::max(longest, busy([&] { app.toggleRecording(); }));
            (void)QTest::qWaitFor([&] { return app.state() == KestroState::idle(); }, 5000);
            longest = std::max(longest, busy([&] { app.cast(app.skills().front()); }));
            longest = std::max(longest, busy([&] { app.panic(); }));
            (void)QTest::qWaitFor([&] { return app.state() == KestroState::idle(); }, 5000);
            longest = std::max(longest, busy([&] { Q_EMIT app.changed(); }));
        }

        QTest::qWait(1500);
        state.counters["skills"] = count;
        state.counters["load_ms"] = loadMs;
        state.counters["shown_ms"] = shownMs;
        state.counters["open_p50_ms"] = percentile(opens, 0.5);
        state.counters["open_p95_ms"] = percentile(opens, 0.95);
        state.counters["escape_p50_ms"] = percentile(escapes, 0.5);
        state.counters["key_p50_ms"] = percentile(keystrokes, 0.5);
        state.counters["key_max_ms"] = percentile(keystrokes, 1.0);
        state.counters["change_max_ms"] = longest;
        state.counters["rss_idle_MiB"] = residentMiB();

        engine.stop();
        surfaces.palette.close();
        XCloseDisplay(d);
        // The window outlives nothing it shows: the next run makes its own.
        delete surfaces.mainWindow.window();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        app.shutdown();
    }
    delete qapp;
    session.stop(wm);
}
BENCHMARK(BM_SkillLibraryOnTheDesktop)
    ->ArgName("skills")
    ->Arg(1000)
    ->Arg(10000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
