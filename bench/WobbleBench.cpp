// The frame's cost per animation frame on the main thread, the X server's CPU while frames
// animate, and the pill's hover poll per tick; on a private Xvfb.
#include "Kestro/overlay/WobbleFrameView.h"
#include "Kestro/surfaces/CastingSurfaces.h"
#include "bench/XvfbProcess.h"
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/X11SurfaceWindows.h"
#include "tests/support/DesktopSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QPainter>
#include <QThread>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <time.h>
#include <unistd.h>

using namespace kestro;

namespace {

struct Bench {
    std::unique_ptr<kestro::testing::DesktopSession> session;
    std::unique_ptr<QApplication> app;
    std::unique_ptr<platform::linux_x11::GLibMainQueue> queue;
    std::unique_ptr<platform::linux_x11::X11SurfaceWindows> surfaces;
};

Bench& bench() {
    static Bench* b = [] {
        auto* s = new Bench;
        kestro::testing::DesktopSession::Options options;
        options.width = 3840;
        options.height = 2160;
        s->session = std::make_unique<kestro::testing::DesktopSession>(options);
        setenv("QT_QPA_PLATFORM", s->session->ok() ? "xcb" : "offscreen", 1);
        static int argc = 1;
        static char arg0[] = "WobbleBench";
        static char* argv[] = {arg0, nullptr};
        s->app = std::make_unique<QApplication>(argc, argv);
        s->queue = std::make_unique<platform::linux_x11::GLibMainQueue>();
        if (auto* x = s->app->nativeInterface<QNativeInterface::QX11Application>()) {
            s->surfaces = std::make_unique<platform::linux_x11::X11SurfaceWindows>(
                *s->queue, static_cast<void*>(x->connection()));
        }
        return s;
    }();
    return *b;
}

// One frame as the view makes it: the outline, then the ring repainted into an ARGB backing
// store of the screen's size (the straight stretches copied, the corners filled).
void BM_WobbleFrame(benchmark::State& state) {
    bench();
    const QSize size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QImage backing(size, QImage::Format_ARGB32_Premultiplied);
    backing.fill(Qt::transparent);
    const QRegion ring = WobbleFrameView::ringRegion(size, WobbleMode::casting);
    const WobbleRingPainter painter(size, WobbleMode::casting);
    double t = 0;
    for (auto _ : state) {
        const QPainterPath path = WobbleFrameView::pathFor(QSizeF(size), WobbleMode::casting, t);
        QPainter p(&backing);
        painter.paint(p, ring, path, t);
        p.end();
        t += 1.0 / 60;
    }
}
BENCHMARK(BM_WobbleFrame)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMillisecond);

// What a new view (a new screen size or style) spends drawing its straight stretches ahead.
void BM_WobbleRingPainterMade(benchmark::State& state) {
    bench();
    const QSize size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    for (auto _ : state) {
        benchmark::DoNotOptimize(WobbleRingPainter(size, WobbleMode::casting));
    }
}
BENCHMARK(BM_WobbleRingPainterMade)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

// The same frame stroked in one piece with a round-joined pen, as it first was: for comparison.
void BM_WobbleFramePenStroke(benchmark::State& state) {
    bench();
    const QSize size(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    QImage backing(size, QImage::Format_ARGB32_Premultiplied);
    backing.fill(Qt::transparent);
    const QRegion ring = WobbleFrameView::ringRegion(size, WobbleMode::casting);
    double t = 0;
    for (auto _ : state) {
        const QPainterPath path = WobbleFrameView::pathFor(QSizeF(size), WobbleMode::casting, t);
        QPainter p(&backing);
        p.setClipRegion(ring);
        p.setCompositionMode(QPainter::CompositionMode_Source);
        for (const QRect& r : ring) {
            p.fillRect(r, Qt::transparent);
        }
        p.setCompositionMode(QPainter::CompositionMode_SourceOver);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(Qt::black, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawPath(path);
        p.end();
        t += 1.0 / 60;
    }
}
BENCHMARK(BM_WobbleFramePenStroke)
    ->Args({1920, 1080})
    ->Args({3840, 2160})
    ->Unit(benchmark::kMillisecond);

// The outline alone, and the window shape made from it at every frame without a compositor.
void BM_WobblePathOnly(benchmark::State& state) {
    bench();
    double t = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(WobbleFrameView::pathFor(QSizeF(state.range(0), state.range(1)),
                                                          WobbleMode::casting, t));
        t += 1.0 / 60;
    }
}
BENCHMARK(BM_WobblePathOnly)->Args({1920, 1080})->Args({3840, 2160})->Unit(benchmark::kMicrosecond);

void BM_WobbleShapeWithoutCompositor(benchmark::State& state) {
    bench();
    double t = 0;
    const QSizeF size(state.range(0), state.range(1));
    const auto mode = state.range(2) != 0 ? WobbleMode::casting : WobbleMode::recording;
    int rects = 0;
    for (auto _ : state) {
        const QPainterPath path = WobbleFrameView::pathFor(size, mode, t);
        const QRegion shape = WobbleFrameView::strokeRegion(path, mode);
        rects = shape.rectCount();
        benchmark::DoNotOptimize(shape);
        t += 1.0 / 60;
    }
    // What the X server is sent, and works through, at every frame.
    state.counters["rectangles"] = rects;
}
BENCHMARK(BM_WobbleShapeWithoutCompositor)
    ->Args({1920, 1080, 0})
    ->Args({1920, 1080, 1})
    ->Args({3840, 2160, 0})
    ->Args({3840, 2160, 1})
    ->Unit(benchmark::kMillisecond);

double processSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    const auto close = line.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(line.substr(close + 2));
    std::string f;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14) {
            utime = std::stoull(f);
        } else if (i == 15) {
            stime = std::stoull(f);
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// CPU time of the calling thread, in seconds.
double threadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Counts the paints a widget receives.
class PaintCounter final : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return QObject::eventFilter(watched, event);
    }
};

// Real frame windows animating on the 3840x2160 Xvfb for two seconds in the event loop: the
// share of one core the X server and this process spend, with the window shaped (no
// compositor) and not, and this process's CPU time per frame shown (tick, paint, the toolkit's
// repaint and flush of the ring).
void BM_FramesOnServer(benchmark::State& state) {
    Bench& b = bench();
    if (!b.session || !b.session->ok() || !b.surfaces) {
        state.SkipWithError("no private X server");
        return;
    }
    const pid_t server = kestro::bench::xvfbPid();
    const bool masked = state.range(0) != 0;
    for (auto _ : state) {
        FrameWindow w(QRect(0, 0, 3840, 2160), b.surfaces.get());
        w.setMasked(masked);
        w.setMode(WobbleMode::casting);
        w.orderFront();
        PaintCounter counter;
        w.frameView()->installEventFilter(&counter);
        QEventLoop loop;
        QTimer::singleShot(300, &loop, &QEventLoop::quit);
        loop.exec();
        const double server0 = processSeconds(server);
        const double self0 = processSeconds(getpid());
        const double main0 = threadSeconds();
        const int paints0 = counter.paints;
        QElapsedTimer run;
        run.start();
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        loop.exec();
        const double wall = static_cast<double>(run.elapsed()) / 1000;
        const double self = processSeconds(getpid()) - self0;
        const double mainThread = threadSeconds() - main0;
        const int frames = counter.paints - paints0;
        state.counters["xserver_cpu_pct"] = 100 * (processSeconds(server) - server0) / wall;
        state.counters["process_cpu_pct"] = 100 * self / wall;
        state.counters["frames_per_s"] = frames / wall;
        state.counters["process_ms_per_frame"] = frames > 0 ? 1000 * self / frames : 0;
        state.counters["main_thread_ms_per_frame"] = frames > 0 ? 1000 * mainThread / frames : 0;
        w.orderOut();
    }
}
BENCHMARK(BM_FramesOnServer)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);

// One hover poll of the pill: the pointer query and the decision (no change to apply).
void BM_PillPoll(benchmark::State& state) {
    Bench& b = bench();
    CastingSurfaces surfaces(b.surfaces.get());
    PillController& pill = surfaces.pill([] { return true; }, {});
    pill.show();
    for (auto _ : state) {
        pill.poll();
    }
}
BENCHMARK(BM_PillPoll)->Unit(benchmark::kMicrosecond);

} // namespace
