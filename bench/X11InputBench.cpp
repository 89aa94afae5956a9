#include "KestroCore/HotkeyEngine.h"
#include "KestroCore/InputMonitor.h"
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/X11EventTaps.h"
#include "tests/support/DesktopSession.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include <poll.h>

using namespace kestro;
using kestro::platform::linux_x11::GLibMainQueue;
using kestro::platform::linux_x11::X11EventTaps;
using kestro::testing::DesktopSession;

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned xA = 38, xSlash = 61, xControl = 37;

double since(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

// Median, 99th percentile and worst of latency samples, in microseconds.
void addPercentiles(benchmark::State& state, std::vector<double> samples) {
    if (samples.empty()) {
        return;
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1))] * 1e6;
    };
    state.counters["p50_us"] = at(0.5);
    state.counters["p99_us"] = at(0.99);
    state.counters["max_us"] = samples.back() * 1e6;
}

// One private X server, one synthetic-input client and the taps, for all benchmarks.
struct Rig {
    DesktopSession session{DesktopSession::Options{.dbus = true}};
    Display* xtest = XOpenDisplay(session.display().c_str());
    GLibMainQueue queue;
    X11EventTaps taps{queue};

    void send(void (*fake)(Display*, unsigned, bool), unsigned what, bool down) {
        fake(xtest, what, down);
        XFlush(xtest);
    }
};

Rig& rig() {
    static Rig r;
    return r;
}

void fakeKey(Display* d, unsigned keycode, bool down) {
    XTestFakeKeyEvent(d, keycode, down ? True : False, CurrentTime);
}
void fakeButton(Display* d, unsigned button, bool down) {
    XTestFakeButtonEvent(d, button, down ? True : False, CurrentTime);
}
void fakeMotion(Display* d, unsigned x, bool) {
    XTestFakeMotionEvent(d, 0, static_cast<int>(x), 300, CurrentTime);
}

// Main-thread time the input monitor's tap spends per event, from reading the X connections to
// handing the signal to the main queue. Paced: each event is awaited before the next is sent,
// so every event pays for its own wake-up; burst: a drag's motion events sent at once.
void BM_MonitorCostPerEvent(benchmark::State& state) {
    Rig& r = rig();
    const bool burst = state.range(0) == 1;
    double cost = 0;
    long events = 0;
    long wakes = 0;
    r.taps.setCostObserver([&](double seconds, int n) {
        cost += seconds;
        events += n;
        ++wakes;
    });
    InputMonitor monitor(r.taps, r.queue);
    long signals = 0;
    monitor.onSignal = [&](const InputMonitor::Signal&) { ++signals; };
    monitor.start();
    r.queue.runFor(0.05);
    unsigned x = 100;
    for (auto _ : state) {
        const double before = cost;
        const long target = signals + 102;
        r.send(fakeButton, 1, true);
        for (int i = 0; i < 100; ++i) {
            x = x >= 1800 ? 100 : x + 3;
            r.send(fakeMotion, x, false);
            if (!burst) {
                const long want = signals + 1 + (i == 0 ? 1 : 0);
                r.queue.runUntil([&] { return signals >= want; }, 2);
            }
        }
        r.send(fakeButton, 1, false);
        r.queue.runUntil([&] { return signals >= target; }, 5);
        state.SetIterationTime(cost - before);
    }
    // Key presses, with their text looked up, paced.
    for (int i = 0; i < 200; ++i) {
        const long want = signals + 1;
        r.send(fakeKey, xA, true);
        r.send(fakeKey, xA, false);
        r.queue.runUntil([&] { return signals >= want; }, 2);
    }
    r.queue.runFor(0.02);
    r.taps.setCostObserver(nullptr);
    state.counters["us_per_event"] = events ? cost / static_cast<double>(events) * 1e6 : 0;
    state.counters["events"] = static_cast<double>(events);
    state.counters["wakes_per_event"] =
        events ? static_cast<double>(wakes) / static_cast<double>(events) : 0;
}
BENCHMARK(BM_MonitorCostPerEvent)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(20);

// From the "/" key press with Control held to the hotkey engine's callback.
void BM_ControlSlashToOnEvent(benchmark::State& state) {
    Rig& r = rig();
    platform::SystemClock clock;
    HotkeyEngine engine(r.taps, r.queue, clock);
    int opened = 0;
    engine.onEvent = [&](HotkeyEngine::Event e) {
        opened += e == HotkeyEngine::Event::openPalette;
    };
    engine.start();
    r.queue.runFor(0.05);
    std::vector<double> samples;
    for (auto _ : state) {
        r.send(fakeKey, xControl, true);
        r.queue.runFor(0.005);
        const int want = opened + 1;
        const auto start = Clock::now();
        r.send(fakeKey, xSlash, true);
        r.queue.runUntil([&] { return opened >= want; }, 2);
        const double latency = since(start);
        samples.push_back(latency);
        state.SetIterationTime(latency);
        r.send(fakeKey, xSlash, false);
        r.send(fakeKey, xControl, false);
        r.queue.runFor(0.005);
    }
    addPercentiles(state, samples);
}
BENCHMARK(BM_ControlSlashToOnEvent)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

// From a key press to its arrival at the focused window of another client, with the hotkey
// tap stopped (0) and running (1): the tap holds no ordinary key, so it adds nothing. The
// window's client reads on a thread of its own, as another application would.
void BM_PassedKeyToFocusedWindow(benchmark::State& state) {
    Rig& r = rig();
    Display* client = XOpenDisplay(r.session.display().c_str());
    const Window window =
        XCreateSimpleWindow(client, DefaultRootWindow(client), 0, 0, 100, 100, 0, 0, 0);
    XSelectInput(client, window, KeyPressMask);
    XMapWindow(client, window);
    XSync(client, False);
    XSetInputFocus(client, window, RevertToParent, CurrentTime);
    XSync(client, False);
    std::atomic<int> presses{0};
    std::atomic<std::int64_t> receivedAt{0};
    std::jthread reader([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            pollfd p{ConnectionNumber(client), POLLIN, 0};
            ::poll(&p, 1, 20);
            while (XPending(client)) {
                XEvent e;
                XNextEvent(client, &e);
                if (e.type == KeyPress) {
                    receivedAt = Clock::now().time_since_epoch().count();
                    ++presses;
                    r.queue.post([] {}); // wakes the main loop
                }
            }
        }
    });
    platform::SystemClock clock;
    HotkeyEngine engine(r.taps, r.queue, clock);
    if (state.range(0) == 1) {
        engine.start();
    }
    r.queue.runFor(0.05);
    std::vector<double> samples;
    for (auto _ : state) {
        const int want = presses + 1;
        const auto start = Clock::now();
        r.send(fakeKey, xA, true);
        r.queue.runUntil([&] { return presses >= want; }, 2);
        const double latency = std::chrono::duration<double>(Clock::duration(receivedAt.load()) -
                                                             start.time_since_epoch())
                                   .count();
        samples.push_back(latency);
        state.SetIterationTime(latency);
        r.send(fakeKey, xA, false);
        r.queue.runFor(0.002);
    }
    reader.request_stop();
    reader.join();
    XCloseDisplay(client);
    addPercentiles(state, samples);
}
BENCHMARK(BM_PassedKeyToFocusedWindow)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(300);

} // namespace
