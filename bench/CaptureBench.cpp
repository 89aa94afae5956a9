// Key-frame screenshots of a 1920x1080 display under Xvfb, and PNG writing of a text-heavy
// 1080p frame. Goals: a capture under 10 ms, the PNG under 30 ms.

#include "KestroBase/Image.h"
#include "KestroCore/FrameCapturer.h"
#include "platform/linux/X11ScreenCapture.h"
#include "platform/linux/XConnection.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/FixtureApp.h"
#include "tests/support/TempDataDir.h"

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <memory>
#include <thread>

using namespace kestro;
namespace x11 = platform::linux_x11;

namespace {

// A display showing a text area filled with text over the whole screen, and one window of
// this process lying over it.
struct Screen {
    Screen() : session() {
        if (!session.ok()) {
            return;
        }
        session.spawn({kestro::testing::fixtureAppPath(), "--window-rect", "0,0,1920,1080",
                       "--notes-length", "200000", "--focus", "notes"});
        std::this_thread::sleep_for(std::chrono::seconds(3));
        x = std::make_unique<x11::XConnection>();
        own = xcb_generate_id(x->xcb());
        const std::uint32_t values[] = {0xff0000, 1};
        xcb_create_window(x->xcb(), XCB_COPY_FROM_PARENT, own, x->root(), 600, 400, 500, 300, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                          XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT, values);
        xcb_map_window(x->xcb(), own);
        xcb_flush(x->xcb());
        capture = std::make_unique<x11::X11ScreenCapture>();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        auto content = capture->shareableContent();
        if (content && !content->displays.empty()) {
            display = content->displays.front();
            for (const auto& w : content->windows) {
                if (w.owningProcessID == static_cast<int>(::getpid())) {
                    ownWindows.push_back(w);
                }
            }
            ready = true;
        }
    }

    kestro::testing::DesktopSession session;
    std::unique_ptr<x11::XConnection> x;
    std::unique_ptr<x11::X11ScreenCapture> capture;
    xcb_window_t own = 0;
    platform::ShareableDisplay display;
    std::vector<platform::ShareableWindow> ownWindows;
    bool ready = false;
};

Screen& screen() {
    static Screen s;
    return s;
}

const platform::ScreenshotConfiguration fullHD{1920, 1080, true};

void BM_Screenshot1080p(benchmark::State& state, bool leaveOut) {
    Screen& s = screen();
    if (!s.ready) {
        state.SkipWithError("no display");
        return;
    }
    const std::vector<platform::ShareableWindow> excluding =
        leaveOut ? s.ownWindows : std::vector<platform::ShareableWindow>{};
    for (auto _ : state) {
        auto image = s.capture->screenshot(s.display, excluding, fullHD);
        if (!image) {
            state.SkipWithError("screenshot failed");
            return;
        }
        benchmark::DoNotOptimize(image->rgba.data());
    }
}
BENCHMARK_CAPTURE(BM_Screenshot1080p, screenAsItIs, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Screenshot1080p, leavingOutOwnWindow, true)->Unit(benchmark::kMillisecond);

void BM_ShareableContent(benchmark::State& state) {
    Screen& s = screen();
    if (!s.ready) {
        state.SkipWithError("no display");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(s.capture->shareableContent());
    }
}
BENCHMARK(BM_ShareableContent)->Unit(benchmark::kMillisecond);

// The frame the PNG benchmarks write: the text-filled screen.
const Image& textFrame() {
    static const Image frame = [] {
        Screen& s = screen();
        if (!s.ready) {
            return Image();
        }
        return s.capture->screenshot(s.display, s.ownWindows, fullHD).value_or(Image());
    }();
    return frame;
}

void BM_EncodePNG(benchmark::State& state, ImageCodec::PngSpeed speed) {
    const Image& frame = textFrame();
    if (frame.width == 0) {
        state.SkipWithError("no frame");
        return;
    }
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = ImageCodec::encodePNG(frame, speed).size();
    }
    state.counters["kB"] = static_cast<double>(bytes) / 1024.0;
}
BENCHMARK_CAPTURE(BM_EncodePNG, keyFrameSettings, ImageCodec::PngSpeed::fast)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EncodePNG, libpngDefaults, ImageCodec::PngSpeed::compact)
    ->Unit(benchmark::kMillisecond);

// What a key frame costs on the worker: redaction, PNG and the file written.
void BM_WritePNGWithRedaction(benchmark::State& state) {
    const Image& frame = textFrame();
    if (frame.width == 0) {
        state.SkipWithError("no frame");
        return;
    }
    kestro::testing::TempDataDir dir;
    const auto file = dir.root() / "000001.png";
    for (auto _ : state) {
        FrameCapturer::writePNG(frame, {Rect::make(100.5, 200.5, 300, 24)}, file);
    }
}
BENCHMARK(BM_WritePNGWithRedaction)->Unit(benchmark::kMillisecond);

} // namespace
