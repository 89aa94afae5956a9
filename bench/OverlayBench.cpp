// The screen frames as a user meets them, on a private Xvfb with openbox and no compositing
// manager, each beside a bare window doing the same:
//   - a double tap of Control (from the second press) to every frame painted, also with the
//     recorder's start after the frames are up or before;
//   - Escape during a cast (the frames shown in the casting style) to every frame off screen,
//     as the X server says;
//   - the X server's CPU time while the frames animate (exact, from its schedstat), beside a bare
//     Xlib window given the same line's shape at every frame.
// The screen is KESTRO_BENCH_SCREEN (WIDTHxHEIGHT, 1920x1080 unless set). Run by hand.
#include "Kestro/overlay/OverlayController.h"
#include "Kestro/overlay/WobbleFrameView.h"
#include "KestroCore/HotkeyEngine.h"
#include "bench/XvfbProcess.h"
#include "platform/Clock.h"
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/X11EventTaps.h"
#include "platform/linux/X11SurfaceWindows.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/linux/WindowManager.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/shape.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

using namespace kestro;
namespace x11 = kestro::platform::linux_x11;
using Clock = std::chrono::steady_clock;

namespace {

QSize benchScreen() {
    int w = 1920;
    int h = 1080;
    if (const char* s = std::getenv("KESTRO_BENCH_SCREEN")) {
        std::sscanf(s, "%dx%d", &w, &h);
    }
    return QSize(w, h);
}

struct Bench {
    std::unique_ptr<kestro::testing::DesktopSession> session;
    pid_t wm = -1;
    std::unique_ptr<QApplication> app;
    std::unique_ptr<x11::GLibMainQueue> queue;
    std::unique_ptr<x11::X11SurfaceWindows> surfaces;
    std::unique_ptr<x11::X11EventTaps> taps;
    platform::SystemClock clock;
    std::unique_ptr<HotkeyEngine> engine;
    std::unique_ptr<OverlayController> overlay;
    Display* display = nullptr;
};

Bench& bench() {
    static Bench* b = [] {
        auto* s = new Bench;
        kestro::testing::DesktopSession::Options options;
        options.width = benchScreen().width();
        options.height = benchScreen().height();
        s->session = std::make_unique<kestro::testing::DesktopSession>(options);
        if (!s->session->ok()) {
            return s;
        }
        s->wm = kestro::testing::startWindowManager(*s->session);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        static int argc = 1;
        static char arg0[] = "OverlayBench";
        static char* argv[] = {arg0, nullptr};
        s->app = std::make_unique<QApplication>(argc, argv);
        s->queue = std::make_unique<x11::GLibMainQueue>();
        auto* x = s->app->nativeInterface<QNativeInterface::QX11Application>();
        s->surfaces = std::make_unique<x11::X11SurfaceWindows>(
            *s->queue, x ? static_cast<void*>(x->connection()) : nullptr);
        s->taps = std::make_unique<x11::X11EventTaps>(*s->queue);
        s->engine = std::make_unique<HotkeyEngine>(*s->taps, *s->queue, s->clock);
        s->engine->start();
        s->overlay = std::make_unique<OverlayController>(s->surfaces.get());
        s->display = XOpenDisplay(s->session->display().c_str());
        return s;
    }();
    return *b;
}

// Runs the event loop, without sleeping, until `done` or `seconds` pass.
bool spinUntil(const std::function<bool()>& done, double seconds = 3) {
    const auto end = Clock::now() + std::chrono::duration<double>(seconds);
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (done()) {
            return true;
        }
    }
    return false;
}

void settle(int ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// The frame views that have painted since the last reset.
class PaintWatch final : public QObject {
public:
    std::set<QObject*> painted;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint &&
            (qobject_cast<WobbleFrameView*>(watched) || watched->objectName() == "bare")) {
            painted.insert(watched);
        }
        return QObject::eventFilter(watched, event);
    }
};

// A bare full-screen frame: a translucent window that bypasses the window manager and paints
// a plain 4 px outline.
class BareFrame final : public QWidget {
public:
    BareFrame()
        : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                               Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus) {
        setObjectName("bare");
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setGeometry(QRect(QPoint(0, 0), benchScreen()));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(QPen(Qt::black, 4));
        p.drawRoundedRect(QRectF(rect()).adjusted(10, 10, -10, -10), 56, 56);
    }
};

bool unmapped(Display* d, const std::vector<unsigned long>& windows) {
    for (const unsigned long w : windows) {
        XWindowAttributes a{};
        if (XGetWindowAttributes(d, w, &a) && a.map_state != IsUnmapped) {
            return false;
        }
    }
    return true;
}

void report(benchmark::State& state, std::vector<double> samples) {
    if (samples.empty()) {
        return;
    }
    std::sort(samples.begin(), samples.end());
    state.counters["p50_ms"] = samples[samples.size() / 2] * 1e3;
    state.counters["max_ms"] = samples.back() * 1e3;
}

void tap(Display* d, KeyCode key, bool down) {
    XTestFakeKeyEvent(d, key, down ? True : False, CurrentTime);
    XFlush(d);
}

// The shared bench, or null with the case skipped when there is no private X server.
Bench* benchOrSkip(benchmark::State& state) {
    Bench& b = bench();
    if (!b.display) {
        state.SkipWithError("no private X server");
        return nullptr;
    }
    return &b;
}

// Presses `key` and times it until `done`, keeping the sample; skips the case with `failure`
// and returns false when `done` never holds.
bool timePress(benchmark::State& state, std::vector<double>& samples, Display* d, KeyCode key,
               const std::function<bool()>& done, const char* failure) {
    const auto start = Clock::now();
    tap(d, key, true);
    const bool ok = spinUntil(done);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    tap(d, key, false);
    if (!ok) {
        state.SkipWithError(failure);
        return false;
    }
    samples.push_back(seconds);
    state.SetIterationTime(seconds);
    return true;
}

// Stands in for the recorder's start, which a double tap also sets off: about 5 ms of the main
// thread (its input tap, the displays and the focused element asked for).
void recorderStart() {
    const auto end = Clock::now() + std::chrono::milliseconds(5);
    while (Clock::now() < end) {
    }
}

// Arg 0: the overlay; 1: the bare frame; 2: the overlay with the recorder started once the
// frames are up, as the application does; 3: the same with the recorder started first.
void BM_DoubleTapToFramesPainted(benchmark::State& state) {
    Bench* bp = benchOrSkip(state);
    if (!bp) {
        return;
    }
    Bench& b = *bp;
    const bool bare = state.range(0) == 1;
    BareFrame bareFrame;
    PaintWatch watch;
    qApp->installEventFilter(&watch);
    const std::size_t screens = bare ? 1 : QGuiApplication::screens().size();
    b.engine->setCasting(false);
    b.engine->onEvent = [&](HotkeyEngine::Event e) {
        if (e != HotkeyEngine::Event::toggleRecording) {
            return;
        }
        if (bare) {
            bareFrame.show();
        } else {
            b.overlay->show(false);
        }
        if (state.range(0) == 2) {
            b.overlay->whenShown(recorderStart);
        } else if (state.range(0) == 3) {
            recorderStart();
        }
    };
    const KeyCode control = XKeysymToKeycode(b.display, XK_Control_L);
    settle(500);
    std::vector<double> samples;
    for (auto _ : state) {
        tap(b.display, control, true);
        tap(b.display, control, false);
        settle(40);
        watch.painted.clear();
        if (!timePress(
                state, samples, b.display, control, [&] { return watch.painted.size() >= screens; },
                "the frames were not painted")) {
            break;
        }
        b.overlay->hide();
        bareFrame.hide();
        settle(450); // longer than the double tap's window
    }
    qApp->removeEventFilter(&watch);
    b.engine->onEvent = {};
    report(state, samples);
}
BENCHMARK(BM_DoubleTapToFramesPainted)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

// Arg 0: the overlay; 1: the bare frame.
void BM_EscapeDuringCastToFramesGone(benchmark::State& state) {
    Bench* bp = benchOrSkip(state);
    if (!bp) {
        return;
    }
    Bench& b = *bp;
    const bool bare = state.range(0) != 0;
    BareFrame bareFrame;
    b.engine->setCasting(true);
    b.engine->onEvent = [&](HotkeyEngine::Event e) {
        if (e == HotkeyEngine::Event::panic) {
            b.overlay->hide();
            bareFrame.hide();
        }
    };
    const KeyCode escape = XKeysymToKeycode(b.display, XK_Escape);
    std::vector<double> samples;
    for (auto _ : state) {
        std::vector<unsigned long> windows;
        if (bare) {
            bareFrame.show();
            windows.push_back(bareFrame.winId());
        } else {
            b.overlay->show(true);
            for (const auto& w : b.overlay->windows()) {
                windows.push_back(w->winId());
            }
        }
        settle(300);
        if (!timePress(
                state, samples, b.display, escape, [&] { return unmapped(b.display, windows); },
                "the frames stayed")) {
            break;
        }
        settle(100);
    }
    b.engine->setCasting(false);
    b.engine->onEvent = {};
    report(state, samples);
}
BENCHMARK(BM_EscapeDuringCastToFramesGone)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);

// Nanoseconds the process has spent on a CPU.
double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    double ns = 0;
    in >> ns;
    return ns / 1e9;
}

// A bare Xlib window reshaped at every frame to the same line (from the same geometry), filled
// black: what the X server spends on shape changes alone.
class BareShapedFrame {
public:
    BareShapedFrame(Display* d, WobbleMode mode) : d_(d), mode_(mode) {
        XSetWindowAttributes a{};
        a.override_redirect = True;
        a.background_pixel = BlackPixel(d, DefaultScreen(d));
        const QSize s = benchScreen();
        w_ = XCreateWindow(d, DefaultRootWindow(d), 0, 0, static_cast<unsigned>(s.width()),
                           static_cast<unsigned>(s.height()), 0, CopyFromParent, InputOutput,
                           CopyFromParent, CWOverrideRedirect | CWBackPixel, &a);
        XShapeCombineRectangles(d, w_, ShapeInput, 0, 0, nullptr, 0, ShapeSet, Unsorted);
        XMapRaised(d, w_);
        XFlush(d);
        clock_.start();
    }
    ~BareShapedFrame() {
        XDestroyWindow(d_, w_);
        XFlush(d_);
    }
    void frame() {
        const double t = static_cast<double>(clock_.nsecsElapsed()) / 1e9;
        const QRegion region = WobbleFrameView::strokeRegion(
            WobbleFrameView::pathFor(QSizeF(benchScreen()), mode_, t), mode_);
        std::vector<XRectangle> rects;
        for (const QRect& r : region) {
            rects.push_back({static_cast<short>(r.x()), static_cast<short>(r.y()),
                             static_cast<unsigned short>(r.width()),
                             static_cast<unsigned short>(r.height())});
        }
        XShapeCombineRectangles(d_, w_, ShapeBounding, 0, 0, rects.data(),
                                static_cast<int>(rects.size()), ShapeSet, YXBanded);
        XFlush(d_);
    }

private:
    Display* d_;
    WobbleMode mode_;
    Window w_ = 0;
    QElapsedTimer clock_;
};

// Arg 0: the style (0 recording, 1 casting); arg 1: 0 the overlay, 1 the bare shaped window.
void BM_FramesAnimatingServerCpu(benchmark::State& state) {
    Bench& b = bench();
    const pid_t server = kestro::bench::xvfbPid();
    if (!b.display || server <= 0) {
        state.SkipWithError("no private X server");
        return;
    }
    const bool casting = state.range(0) != 0;
    const bool bare = state.range(1) != 0;
    for (auto _ : state) {
        std::unique_ptr<BareShapedFrame> bareFrame;
        QTimer ticks;
        if (bare) {
            bareFrame = std::make_unique<BareShapedFrame>(
                b.display, casting ? WobbleMode::casting : WobbleMode::recording);
            ticks.setTimerType(Qt::PreciseTimer);
            QObject::connect(&ticks, &QTimer::timeout, [&] { bareFrame->frame(); });
            ticks.start(16);
        } else {
            b.overlay->show(casting);
        }
        settle(500);
        const double server0 = cpuSeconds(server);
        const double self0 = cpuSeconds(getpid());
        const auto start = Clock::now();
        settle(3000);
        const double wall = std::chrono::duration<double>(Clock::now() - start).count();
        state.counters["xserver_cpu_pct"] = 100 * (cpuSeconds(server) - server0) / wall;
        state.counters["process_cpu_pct"] = 100 * (cpuSeconds(getpid()) - self0) / wall;
        b.overlay->hide();
        ticks.stop();
    }
}
BENCHMARK(BM_FramesAnimatingServerCpu)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

} // namespace
