// Peak memory of reading the model service's replies: 60 MiB of small JSON objects, read by the
// structured completion (synthesis), by a cast's turn and by the draft decoder. Each reading runs
// in a child process of its own, whose peak resident size is reset just before it (clear_refs),
// so nothing the benchmark itself holds or the allocator kept from before counts.

#include "KestroCore/AnthropicClient.h"
#include "KestroCore/Json.h"
#include "KestroCore/SynthesizerSchema.h"
#include "platform/fake/FakeHttpTransport.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
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

long statusKiB(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field, 0) == 0) {
            return std::stol(line.substr(std::string(field).size()));
        }
    }
    return -1;
}

// The peak resident growth of `read` over the text `make` gives, in bytes, measured in a child.
double peakExtra(const std::function<std::string()>& make,
                 const std::function<void(std::string)>& read, std::size_t* size) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipeFds[0]);
        std::string text = make();
        const double bytes = static_cast<double>(text.size());
        std::ofstream("/proc/self/clear_refs") << "5";
        const long base = statusKiB("VmRSS:");
        try {
            read(std::move(text));
        } catch (const std::exception& e) {
            std::fprintf(stderr, "reading failed: %s\n", e.what());
        }
        const long peak = statusKiB("VmHWM:");
        const double result[2] = {static_cast<double>(peak - base) * 1024, bytes};
        (void)!::write(pipeFds[1], result, sizeof result);
        _exit(0);
    }
    close(pipeFds[1]);
    double result[2] = {-1, 0};
    (void)!::read(pipeFds[0], result, sizeof result);
    close(pipeFds[0]);
    waitpid(child, nullptr, 0);
    *size = static_cast<std::size_t>(result[1]);
    return result[0];
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
    double extra = 0;
    std::size_t size = 0;
    for (auto _ : state) {
        extra = peakExtra(make, read, &size);
    }
    state.counters["reply_MiB"] = static_cast<double>(size) / (1 << 20);
    state.counters["peak_extra_MiB"] = extra / (1 << 20);
    state.counters["times_reply"] = size ? extra / static_cast<double>(size) : 0;
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
