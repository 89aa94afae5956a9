// Building the synthesis request for a recording with 12 key frames at 1920x1080: PNG read,
// scale check, JPEG encode, base64 and the JSON body. The transport answers at once, so the
// figure is the synthesizer's own work.

#include "KestroBase/Image.h"
#include "KestroCore/RecordingStore.h"
#include "KestroCore/Synthesizer.h"
#include "tests/support/TempDataDir.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>

using namespace kestro;

namespace {

class AnsweringTransport final : public platform::HttpTransport {
public:
    std::size_t lastBodySize = 0;

protected:
    platform::HttpResponse perform(const platform::HttpRequest& request, std::stop_token) override {
        lastBodySize = request.body.size();
        return {.status = 200,
                .body = R"({"content":[{"type":"text","text":"{\"name\":\"n\",\"trigger\":\"t\",)"
                        R"(\"summary\":\"s\",\"mode\":\"agentic\",\"app_scope\":[],)"
                        R"(\"parameters\":[],\"plan\":[]}"}],"stop_reason":"end_turn"})"};
    }
};

// Something like a desktop: a dark sidebar, a light content pane with a faint gradient, and
// lines of words drawn from a few glyph shapes.
Image screenLike(int width, int height, unsigned seed) {
    std::mt19937 random(seed);
    Image image(width, height);
    const int sidebar = width / 5;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* p = image.pixel(x, y);
            const bool dark = x < sidebar;
            p[0] = static_cast<std::uint8_t>(dark ? 40 : 235 - y * 20 / height);
            p[1] = static_cast<std::uint8_t>(dark ? 44 : 236);
            p[2] = static_cast<std::uint8_t>(dark ? 52 : 240 - x * 10 / width);
            p[3] = 255;
        }
    }
    std::uint16_t glyphs[16][9];
    for (auto& glyph : glyphs) {
        for (auto& row : glyph) {
            row = static_cast<std::uint16_t>(random() & 0x3F);
        }
    }
    std::uniform_int_distribution<int> glyphOf(0, 15), wordLength(2, 9), lineLength(10, 90);
    for (int top = 12; top + 9 < height; top += 22) {
        for (int column : {16, sidebar + 32}) {
            const int right = column < sidebar ? sidebar - 16 : width - 32;
            const int end = std::min(right, column + lineLength(random) * 8);
            int x = column;
            while (x + 7 < end) {
                for (int n = wordLength(random); n > 0 && x + 7 < end; --n, x += 7) {
                    const auto& glyph = glyphs[glyphOf(random)];
                    for (int gy = 0; gy < 9; ++gy) {
                        for (int gx = 0; gx < 6; ++gx) {
                            if (glyph[gy] >> gx & 1) {
                                std::uint8_t* p = image.pixel(x + gx, top + gy);
                                p[0] = p[1] = p[2] = column < sidebar ? 210 : 30;
                            }
                        }
                    }
                }
                x += 7;
            }
        }
    }
    return image;
}

void SynthesisRequest(benchmark::State& state) {
    kestro::testing::TempDataDir data;
    RecordingStore store;
    Recording recording;
    recording.endedAt = recording.startedAt + std::chrono::seconds(60);
    store.prepareFramesDirectory(recording.id);
    for (int i = 0; i < 12; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "frames/%06d.png", i + 1);
        FrameRef frame{.timeOffset = i * 5.0, .relativePath = name};
        ImageCodec::writePNG(screenLike(1920, 1080, static_cast<unsigned>(i)),
                             store.frameURL(recording.id, frame.relativePath));
        recording.frames.push_back(frame);
        recording.events.push_back(
            ActionEvent{.type = ActionType::click,
                        .location = Point{100.0 * i, 50},
                        .target = AXTarget{.appName = "Files", .axTitle = "Item"},
                        .frameIndex = i});
    }

    auto transport = std::make_shared<AnsweringTransport>();
    platform::HttpTransport::setShared(transport);
    const Synthesizer synthesizer;
    for (auto _ : state) {
        benchmark::DoNotOptimize(synthesizer.synthesize(recording, "key"));
    }
    platform::HttpTransport::setShared(nullptr);
    state.counters["body_MiB"] = static_cast<double>(transport->lastBodySize) / (1 << 20);
}

} // namespace

BENCHMARK(SynthesisRequest)->Unit(benchmark::kMillisecond)->UseRealTime();
