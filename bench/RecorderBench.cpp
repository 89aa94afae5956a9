// Main-thread cost of the recorder per input signal, and a simulated hour of recording.
#include "KestroCore/Recorder.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeDisplaySource.h"
#include "platform/fake/FakeEventTaps.h"
#include "platform/fake/FakeScreenCapture.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualQueue.h"
#include "tests/support/TempDataDir.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <fstream>
#include <thread>

using namespace kestro;
using namespace kestro::platform;
using namespace kestro::platform::fake;

namespace {

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

// A window with a text field, a password field and a button, on one 1920x1080 display.
struct Desk {
    explicit Desk(int width = 1920, int height = 1080) {
        displays.displays = {{1, Rect::make(0, 0, width, height), true}};
        displays.screenList = {{1, 1.0}};
        capture.addDisplay(1, width, height);
        apps.add(100, "org.example.Editor", "Editor");
        apps.frontmost = 100;
        auto app = access.element("app", 100);
        access.applicationElements[100] = app;
        auto window = access.element("window", 100);
        window->set(ax::title, std::string("Login")).setFrame(Rect::make(0, 0, 1920, 1080));
        app->set(ax::focusedWindow, AXElementRef(window));
        for (int i = 0; i < 20; ++i) {
            auto field = access.element("field" + std::to_string(i), 100);
            field->set(ax::role, std::string("AXTextField"))
                .set(ax::title, std::string("Field ") + std::to_string(i))
                .set(ax::window, AXElementRef(window))
                .setFrame(Rect::make(10, 10 + 30.0 * i, 300, 24));
            if (i == 3) {
                field->set(ax::subrole, std::string(ax::secureTextField));
            }
            window->addChild(field);
            access.hitAreas.emplace_back(Rect::make(10, 10 + 30.0 * i, 300, 24), field);
            if (i == 0) {
                access.systemWideElement->set(ax::focusedUIElement, AXElementRef(field));
            }
        }
        recorder = std::make_unique<Recorder>(
            Recorder::Platform{taps, queue, clock, displays, access, apps, capture});
    }

    // One of a repeating mix: typed characters, clicks, a scroll, a shortcut.
    void signal(std::size_t i) {
        switch (i % 10) {
        case 0:
            taps.deliver(FakeEventTaps::mouse(event_type::leftMouseDown, {50, 20}, 1));
            break;
        case 1:
            taps.deliver(FakeEventTaps::mouse(event_type::leftMouseUp, {50, 20}));
            break;
        case 7:
            taps.deliver(FakeEventTaps::scroll({400, 400}, -1, 0));
            break;
        case 9:
            taps.deliver(FakeEventTaps::keyDown(1, 0x100000, "s"));
            break;
        default:
            taps.deliver(FakeEventTaps::keyDown(0, 0, "a"));
        }
        queue.drain();
    }

    std::optional<Recording> stopAndWait() {
        bool done = false;
        std::optional<Recording> result;
        recorder->stop([&](std::optional<Recording> r) {
            result = std::move(r);
            done = true;
        });
        while (!done) {
            queue.drain();
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return result;
    }

    kestro::testing::TempDataDir data;
    ManualClock clock;
    ManualQueue queue{clock};
    FakeEventTaps taps;
    FakeDisplaySource displays;
    FakeAccessibility access;
    FakeApplications apps;
    FakeScreenCapture capture;
    std::unique_ptr<Recorder> recorder;
};

// Main-thread time from the tap to the recorder for one signal (fake accessibility); a key
// frame is reserved every third signal, its capture runs on the worker.
void BM_RecorderSignalFakeAccessibility(benchmark::State& state) {
    Desk desk;
    desk.recorder->start();
    std::size_t i = 0;
    for (auto _ : state) {
        desk.clock.advance(0.1);
        desk.signal(i++);
    }
    desk.stopAndWait();
}
BENCHMARK(BM_RecorderSignalFakeAccessibility)->Unit(benchmark::kMicrosecond)->Iterations(3000);

// An hour at 10 signals a second, with key frames: memory growth and how long stop() takes.
// The hour passes in a fraction of a second here, so the screenshots (small ones, to keep the
// run short) are let to catch up before the stop, as they would in real time.
void BM_RecorderSimulatedHour(benchmark::State& state) {
    for (auto _ : state) {
        Desk desk(640, 360);
        const long before = residentKiB();
        desk.recorder->start();
        const std::size_t signals = 36000;
        const auto t0 = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < signals; ++i) {
            desk.clock.advance(0.1);
            desk.signal(i);
        }
        const auto t1 = std::chrono::steady_clock::now();
        const long during = residentKiB();
        // Caught up once no screenshot has started for a while.
        for (std::size_t seen = 0, quiet = 0; quiet < 200;) {
            desk.queue.drain();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            const std::size_t now = desk.capture.calls().size();
            quiet = now == seen ? quiet + 1 : 0;
            seen = now;
        }
        const auto t2 = std::chrono::steady_clock::now();
        auto recording = desk.stopAndWait();
        const auto t3 = std::chrono::steady_clock::now();
        state.counters["events"] = static_cast<double>(recording ? recording->events.size() : 0);
        state.counters["frames"] = static_cast<double>(recording ? recording->frames.size() : 0);
        state.counters["rss_growth_MiB"] = static_cast<double>(during - before) / 1024.0;
        state.counters["signals_s"] = std::chrono::duration<double>(t1 - t0).count();
        state.counters["stop_s"] = std::chrono::duration<double>(t3 - t2).count();
    }
}
BENCHMARK(BM_RecorderSimulatedHour)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
