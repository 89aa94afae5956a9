#include "KestroCore/Paths.h"
#include "KestroCore/RecordingJson.h"
#include "KestroCore/SkillMarkdown.h"
#include "KestroCore/SkillStore.h"
#include "tests/support/TempDataDir.h"

#include <benchmark/benchmark.h>

using namespace kestro;

namespace {

AXTarget fullTarget(int i) {
    return AXTarget{"org.example.editor",
                    "Example Editor",
                    "Quarterly report.odt - Editor",
                    "AXTextField",
                    "AXSearchField",
                    "Search field " + std::to_string(i),
                    "typed value " + std::to_string(i),
                    "search-" + std::to_string(i),
                    Rect::make(10.5 + i, 20, 300, 24.25),
                    false};
}

Recording bigRecording() {
    Recording r;
    r.startedAt = Date(std::chrono::seconds(1780738200));
    r.endedAt = r.startedAt + std::chrono::seconds(3600);
    r.displays = {DisplayInfo{1, Rect::make(0, 0, 1920, 1080), 1, true}};
    for (int i = 0; i < 10000; ++i) {
        r.events.push_back(ActionEvent{.timeOffset = i * 0.36,
                                       .type = ActionType::click,
                                       .location = Point{100.5 + i % 1000, 200.25},
                                       .target = fullTarget(i),
                                       .typedText = "hello world",
                                       .keyCode = 36,
                                       .modifierFlags = 0x100100,
                                       .frameIndex = i});
    }
    return r;
}

Skill tenStepSkill(int i) {
    Skill s;
    s.name = "Send the weekly report " + std::to_string(i);
    s.trigger = "send weekly report";
    s.summary = "Opens the report, fills the week and sends it.";
    s.appScope = {"org.example.mail", "org.example.editor"};
    s.createdAt = Date(std::chrono::seconds(1780000000 + i));
    s.sourceRecordingID = Uuid::random();
    s.parameters = {Parameter{.name = "week",
                              .type = ParameterType::date,
                              .prompt = "Which week?",
                              .exampleValue = "2026-06-06",
                              .usedInSteps = {2, 3}}};
    for (int k = 0; k < 10; ++k) {
        s.plan.push_back(PlanStep{.index = k,
                                  .intent = "Step " + std::to_string(k) + ": click the button",
                                  .action = ActionType::click,
                                  .target = fullTarget(k),
                                  .location = Point{10.0 * k, 20},
                                  .precondition = "window is open",
                                  .isDestructive = k == 9});
    }
    return s;
}

void BM_EncodeRecording10k(benchmark::State& state) {
    Recording r = bigRecording();
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeRecording(r));
    }
}
BENCHMARK(BM_EncodeRecording10k)->Unit(benchmark::kMillisecond);

void BM_DecodeRecording10k(benchmark::State& state) {
    const std::string bytes = encodeRecording(bigRecording());
    state.counters["bytes"] = static_cast<double>(bytes.size());
    for (auto _ : state) {
        benchmark::DoNotOptimize(decodeRecording(bytes));
    }
}
BENCHMARK(BM_DecodeRecording10k)->Unit(benchmark::kMillisecond);

// The same documents through a Value, as they were coded before the typed reader and the
// direct writer: kept for the comparison.
void BM_EncodeRecording10kViaValue(benchmark::State& state) {
    Recording r = bigRecording();
    for (auto _ : state) {
        benchmark::DoNotOptimize(json::writeStored(toJson(r)));
    }
}
BENCHMARK(BM_EncodeRecording10kViaValue)->Unit(benchmark::kMillisecond);

void BM_DecodeRecording10kViaValue(benchmark::State& state) {
    const std::string bytes = encodeRecording(bigRecording());
    for (auto _ : state) {
        benchmark::DoNotOptimize(recordingFromJson(json::parse(bytes)));
    }
}
BENCHMARK(BM_DecodeRecording10kViaValue)->Unit(benchmark::kMillisecond);

void BM_SkillStoreLoadAll1000(benchmark::State& state) {
    kestro::testing::TempDataDir data;
    SkillStore store;
    for (int i = 0; i < 1000; ++i) {
        store.save(tenStepSkill(i));
    }
    for (auto _ : state) {
        auto all = store.loadAll();
        if (all.size() != 1000) {
            state.SkipWithError("not every skill loaded");
        }
        benchmark::DoNotOptimize(all);
    }
}
BENCHMARK(BM_SkillStoreLoadAll1000)->Unit(benchmark::kMillisecond);

void BM_RenderAndParseSkillMarkdown1000(benchmark::State& state) {
    std::vector<Skill> skills;
    for (int i = 0; i < 1000; ++i) {
        skills.push_back(tenStepSkill(i));
    }
    for (auto _ : state) {
        for (const Skill& s : skills) {
            benchmark::DoNotOptimize(SkillMarkdown::parse(SkillMarkdown::render(s)));
        }
    }
}
BENCHMARK(BM_RenderAndParseSkillMarkdown1000)->Unit(benchmark::kMillisecond);

} // namespace
