// Main-thread cost of one recorder signal with AT-SPI against the Qt fixture on a private
// desktop: each signal asks the accessibility bus for the element involved.
#include "KestroCore/Recorder.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/FixtureApp.h"
#include "tests/support/TempDataDir.h"
#include "tests/support/linux/LinuxDesk.h"

#include <benchmark/benchmark.h>

#include <memory>

using namespace kestro;

namespace {

struct Fixture {
    Fixture() : session({.accessibility = true}) {
        if (!session.ok()) {
            return;
        }
        pid =
            session.spawn({kestro::testing::fixtureAppPath(), "--window-rect", "100,100,400,300"});
        desk = std::make_unique<kestro::testing::LinuxDesk>();
        if (!desk->ok() || !desk->awaitApplication(pid)) {
            return;
        }
        name = desk->findFrame(pid,
                               [](const auto&, const auto&, const auto& t) { return t == "Name"; });
        ok = name.has_value();
    }
    kestro::testing::TempDataDir data;
    kestro::testing::DesktopSession session;
    std::unique_ptr<kestro::testing::LinuxDesk> desk;
    pid_t pid = -1;
    std::optional<Rect> name;
    bool ok = false;
};

// libatspi connects to one accessibility bus per process: every benchmark shares one desktop.
Fixture& shared() {
    static Fixture fixture;
    return fixture;
}

// What the recorder asks the accessibility bus per signal, against the fixture: a mouse press
// resolves the element at the point and, when it reserves a key frame, walks the front window
// for secure fields; each typed character asks for the focused element. The recorder's own
// bookkeeping adds the few microseconds RecorderBench measures with the fake accessibility.
template <typename Ask> void measure(benchmark::State& state, Ask ask) {
    Fixture& f = shared();
    if (!f.ok) {
        state.SkipWithError("no desktop with the fixture");
        return;
    }
    AXResolver resolver(f.desk->accessibility, f.desk->services.applications);
    const Point inName{f.name->origin.x + 5, f.name->origin.y + 5};
    for (auto _ : state) {
        ask(resolver, inName);
    }
}

void BM_MousePressAtspi(benchmark::State& state) {
    measure(state, [](AXResolver& r, Point p) { benchmark::DoNotOptimize(r.target(p)); });
}
BENCHMARK(BM_MousePressAtspi)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_KeyFrameSecureWalkAtspi(benchmark::State& state) {
    measure(state, [](AXResolver& r, Point) { benchmark::DoNotOptimize(r.secureFieldRects()); });
}
BENCHMARK(BM_KeyFrameSecureWalkAtspi)->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_TypedCharacterAtspi(benchmark::State& state) {
    measure(state, [](AXResolver& r, Point) { benchmark::DoNotOptimize(r.focusedTarget()); });
}
BENCHMARK(BM_TypedCharacterAtspi)->Unit(benchmark::kMicrosecond)->Iterations(200);

} // namespace
