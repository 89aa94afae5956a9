// Peak memory of reading the model service's replies: 60 MiB of small JSON objects, read by the
// structured completion (synthesis), by a cast's turn and by the draft decoder. Each reading runs
// in a child process of its own, whose peak resident size is reset just before it (clear_refs),
// so nothing the benchmark itself holds or the allocator kept from before counts.

#include "KestroCore/AnthropicClient.h"
#include "KestroCore/Json.h"
#include "KestroCore/SynthesizerSchema.h"
#include "platform/fake/FakeHttpTransport.h"
#include "tests/support/PeakResident.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

using namespace kestro;

namespace {

constexpr std::size_t replyBytes = 60u << 20;

std::string smallDraft() {
    return R"({"name":"n","trigger":"t","summary":"s","mode":"agentic","app_scope":[],)"
           R"("parameters":[],"plan":[]})";
}

// `item` repeated, comma-separated, until the whole text reaches replyBytes.
std::string repeated(const std::string& before, const std::string& item, const std::string& after) {
    std::string out = before;
    out.reserve(replyBytes + item.size() + after.size());
    while (out.size() + after.size() < replyBytes) {
        out += item;
        out.push_back(',');
    }
    out += after;
    return out;
}

std::string junkMember() {
    return repeated(R"({"content":[{"type":"text","text":)" + json::writeCompact(smallDraft()) +
                        R"(}],"stop_reason":"end_turn","extra":[)",
                    R"({"a":1,"b":"x"})", R"({}]})");
}

std::string manyBlocks(const char* stopReason) {
    return repeated(R"({"content":[)", R"({"type":"mcp_tool_use","id":"t","input":{"a":1}})",
                    R"({"type":"text","text":"done"}],"stop_reason":")" + std::string(stopReason) +
                        R"("})");
}

std::string manyStepsDraft() {
    return repeated(
        R"({"name":"n","trigger":"t","summary":"s","mode":"agentic","app_scope":[],"parameters":[],"plan":[)",
        R"({"index":0,"intent":"i","action":"click","text":null,"precondition":null,"is_destructive":false,"target":null})",
        R"({"index":0,"intent":"i","action":"click","text":null,"precondition":null,"is_destructive":false,"target":null}]})");
}

AnthropicClient clientAnswering(std::string reply) {
    auto transport = std::make_shared<platform::fake::FakeHttpTransport>();
    auto body = std::make_shared<std::string>(std::move(reply));
    transport->setHandler([body](const platform::HttpRequest&) {
        return platform::HttpResponse{.status = 200, .body = std::move(*body)};
    });
    return AnthropicClient("sk-bench", "model", transport, "http://127.0.0.1:9/v1/messages");
}

void report(benchmark::State& state, const std::function<std::string()>& make,
            const std::function<void(std::string)>& read) {
    kestro::testing::PeakGrowth peak;
    for (auto _ : state) {
        peak = kestro::testing::peakGrowthOfReading(make, [&](std::string text) {
            try {
                read(std::move(text));
            } catch (const std::exception& e) {
                std::fprintf(stderr, "reading failed: %s\n", e.what());
            }
        });
    }
    const double size = static_cast<double>(peak.textBytes);
    state.counters["reply_MiB"] = size / (1 << 20);
    state.counters["peak_extra_MiB"] = peak.bytes / (1 << 20);
    state.counters["times_reply"] = size ? peak.bytes / size : 0;
}

void BM_SynthesisReplyWithALargeUnreadMember(benchmark::State& state) {
    report(state, junkMember, [](std::string reply) {
        const AnthropicClient client = clientAnswering(std::move(reply));
        benchmark::DoNotOptimize(client.structuredCompletion("s", {}, json::Value::object()));
    });
}

void BM_SynthesisReplyOfManyBlocks(benchmark::State& state) {
    report(
        state, [] { return manyBlocks("end_turn"); },
        [](std::string reply) {
            const AnthropicClient client = clientAnswering(std::move(reply));
            benchmark::DoNotOptimize(client.structuredCompletion("s", {}, json::Value::object()));
        });
}

void BM_CastTurnOfManyBlocks(benchmark::State& state) {
    report(
        state, [] { return manyBlocks("end_turn"); },
        [](std::string reply) {
            const AnthropicClient client = clientAnswering(std::move(reply));
            benchmark::DoNotOptimize(client.runWithMCP("go", {}));
        });
}

void BM_DraftOfManySteps(benchmark::State& state) {
    report(state, manyStepsDraft, [](std::string draft) {
        benchmark::DoNotOptimize(decodeSkillDraft(draft).plan.size());
    });
}

} // namespace

BENCHMARK(BM_SynthesisReplyWithALargeUnreadMember)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SynthesisReplyOfManyBlocks)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CastTurnOfManyBlocks)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DraftOfManySteps)->Iterations(1)->Unit(benchmark::kMillisecond);
