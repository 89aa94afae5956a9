#include "KestroCore/AnthropicClient.h"
#include "platform/Cancellation.h"
#include "platform/fake/FakeHttpTransport.h"
#include "tests/support/PeakResident.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <functional>

using namespace kestro;
using ClientError = AnthropicClient::ClientError;
using kestro::platform::CancellationError;
using kestro::platform::HttpResponse;
using kestro::platform::TransportError;
using kestro::platform::fake::FakeHttpTransport;
using kestro::platform::fake::SharedTransportScope;

namespace {

std::string message(const std::function<void()>& call) {
    try {
        call();
    } catch (const std::exception& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(AnthropicClient, DefaultsAndRequestTemplate) {
    auto transport = std::make_shared<FakeHttpTransport>();
    SharedTransportScope scope(transport);
    const AnthropicClient client("key");
    EXPECT_EQ(client.model(), "claude-opus-4-8");
    EXPECT_EQ(client.endpoint(), "https://api.anthropic.com/v1/messages");
    EXPECT_EQ(client.session(), transport);

    transport->reply(200, R"({"content":[{"type":"text","text":"ok"}]})");
    EXPECT_EQ(client.structuredCompletion("s", {}, json::Value::object()), "ok");
    const auto request = transport->requests().at(0);
    EXPECT_EQ(request.url, "https://api.anthropic.com/v1/messages");
    EXPECT_EQ(request.idleTimeoutSeconds, 60);
    EXPECT_EQ(request.deadlineSeconds, AnthropicClient::synthesisDeadlineSeconds);
    using Headers = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(request.headers, (Headers{{"Content-Type", "application/json"},
                                        {"x-api-key", "key"},
                                        {"anthropic-version", "2023-06-01"}}));

    transport->reply(200, "{}");
    client.runWithMCP("x", {});
    EXPECT_EQ(transport->requests().at(1).headers,
              (Headers{{"Content-Type", "application/json"},
                       {"x-api-key", "key"},
                       {"anthropic-version", "2023-06-01"},
                       {"anthropic-beta", "mcp-client-2025-11-20"}}));
    EXPECT_EQ(transport->requests().at(1).deadlineSeconds,
              AnthropicClient::castRequestDeadlineSeconds);

    // A road that wants another deadline gets it on every request.
    transport->reply(200, R"({"content":[{"type":"text","text":"ok"}]})");
    client.withDeadline(2.5).structuredCompletion("s", {}, json::Value::object());
    transport->reply(200, "{}");
    client.withDeadline(2.5).runWithMCP("x", {});
    EXPECT_EQ(transport->requests().at(2).deadlineSeconds, 2.5);
    EXPECT_EQ(transport->requests().at(3).deadlineSeconds, 2.5);
}

TEST(AnthropicClient, ReplyWithoutHttpStatus) {
    auto transport = std::make_shared<FakeHttpTransport>();
    const AnthropicClient client("key", "m", transport);
    transport->setHandler([](const auto&) { return HttpResponse{.isHttp = false}; });
    EXPECT_EQ(message([&] { client.structuredCompletion("s", {}, json::Value::object()); }),
              "Anthropic API HTTP -1: no HTTP response");
    EXPECT_EQ(message([&] { client.runWithMCP("x", {}); }),
              "Anthropic API HTTP -1: no HTTP response");
}

TEST(AnthropicClient, BodyThatCannotBeSerialisedIsNeverSent) {
    auto transport = std::make_shared<FakeHttpTransport>();
    const AnthropicClient client("key", "m", transport);
    const json::Value schema = {{"minimum", std::nan("")}};
    EXPECT_THROW(client.structuredCompletion("s", {}, schema), json::EncodingError);
    EXPECT_TRUE(transport->requests().empty());
}

TEST(AnthropicClient, StopBetweenTurnsSendsNoFurtherRequest) {
    auto transport = std::make_shared<FakeHttpTransport>();
    const AnthropicClient client("key", "m", transport);
    std::stop_source stop;
    transport->setHandler([&](const auto&) {
        stop.request_stop(); // arrives while the first reply is on its way
        return HttpResponse{.status = 200, .body = R"({"content":[],"stop_reason":"pause_turn"})"};
    });
    EXPECT_THROW(client.runWithMCP("x", {}, 8000, 8, stop.get_token()), CancellationError);
    EXPECT_EQ(transport->requests().size(), 1u);
}

TEST(AnthropicClient, WithoutAnInstalledTransportRequestsFail) {
    SharedTransportScope scope(nullptr);
    const AnthropicClient client("key");
    EXPECT_THROW(client.runWithMCP("x", {}), TransportError);
}

TEST(AnthropicClient, DeeplyNestedRepliesAreRejectedNotRecursedInto) {
    // A reply is copied into the next request and written out again; nesting that deep must be
    // refused as undecodable rather than exhaust the stack on the way.
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    auto transport = std::make_shared<FakeHttpTransport>();
    const AnthropicClient client("key", "m", transport);
    transport->reply(200, R"({"content":[{"type":"mcp_tool_result","content":)" + deep +
                              R"(}],"stop_reason":"pause_turn"})");
    EXPECT_THROW(client.runWithMCP("x", {}), json::DecodingError);
    EXPECT_EQ(transport->requests().size(), 1u);

    transport->reply(200, R"({"content":[{"type":"text","text":"a","extra":)" + deep + "}]}");
    EXPECT_THROW(client.structuredCompletion("s", {}, json::Value::object()), json::DecodingError);
    EXPECT_EQ(transport->requests().size(), 2u);

    // Ordinary nesting still passes.
    const std::string nested = std::string(100, '[') + std::string(100, ']');
    transport->reply(200, R"({"content":[{"type":"text","text":"a","input":)" + nested +
                              R"(}],"stop_reason":"pause_turn"})");
    transport->reply(200, R"({"content":[{"type":"text","text":"b"}]})");
    EXPECT_EQ(client.runWithMCP("x", {}), "ab");
}

TEST(AnthropicClient, ErrorBodiesAreCutToTheirFirstFourKiB) {
    // "a" then two-byte characters: the 4096th byte is the first half of one.
    std::string accented = "a";
    while (accented.size() < 5000) {
        accented += "\xC3\xA9";
    }
    struct Case {
        const char* what;
        std::string body;
        std::string kept;
    };
    const std::vector<Case> all = {
        {"short", "overloaded", "overloaded"},
        {"exactly 4 KiB", std::string(4096, 'x'), std::string(4096, 'x')},
        {"10 MiB", std::string(10 << 20, 'x'), std::string(4096, 'x')},
        {"a character across the cut", accented, accented.substr(0, 4095)},
        {"not UTF-8", std::string(8192, 'x') + "\xFF", ""},
    };
    auto transport = std::make_shared<FakeHttpTransport>();
    const AnthropicClient client("key", "m", transport);
    for (const Case& c : all) {
        SCOPED_TRACE(c.what);
        for (bool mcp : {false, true}) {
            transport->reply(500, c.body);
            try {
                if (mcp) {
                    client.runWithMCP("x", {});
                } else {
                    client.structuredCompletion("s", {}, json::Value::object());
                }
                ADD_FAILURE() << "no error";
            } catch (const ClientError& e) {
                EXPECT_EQ(e.body(), c.kept);
                EXPECT_EQ(e.errorDescription(), "Anthropic API HTTP 500: " + c.kept);
            }
        }
    }
}

TEST(AnthropicClient, TheConversationOfARunIsCapped) {
    // Each reply pauses and carries a large tool result, which goes back with every request.
    auto transport = std::make_shared<FakeHttpTransport>();
    const AnthropicClient client("key", "m", transport);
    auto pause = [](std::size_t bytes) {
        return R"({"content":[{"type":"mcp_tool_result","content":")" + std::string(bytes, 'r') +
               R"("}],"stop_reason":"pause_turn"})";
    };
    const std::string done =
        R"({"content":[{"type":"text","text":"ok"}],"stop_reason":"end_turn"})";

    // One reply just under the cap is carried to the next request whole.
    transport->reply(200, pause((std::size_t{63} << 20)));
    transport->reply(200, done);
    EXPECT_EQ(client.runWithMCP("x", {}), "ok");
    ASSERT_EQ(transport->requests().size(), 2u);
    EXPECT_GT(transport->requests()[1].body.size(), std::size_t{63} << 20);

    // Replies that together pass it end the run before anything more is sent.
    transport->reply(200, pause(std::size_t{40} << 20));
    transport->reply(200, pause(std::size_t{30} << 20));
    transport->reply(200, done);
    EXPECT_THROW(client.runWithMCP("x", {}), TransportError);
    EXPECT_EQ(transport->requests().size(), 4u);

    // So does an instruction that is too large to send.
    EXPECT_THROW(client.runWithMCP(std::string((std::size_t{64} << 20) + 1, 'i'), {}),
                 TransportError);
    EXPECT_EQ(transport->requests().size(), 4u);
}

// The blocks of a paused turn go back as they came, nesting, numbers and escapes included, and
// in the order the service wrote their members.
TEST(AnthropicClient, APausedTurnsBlocksAreSentBackAsReceived) {
    const std::string blocks =
        R"([{"type":"mcp_tool_use","id":"t1","input":{"z":[1,-2,1.5e3,true,null],"a":{}}},)"
        R"({"type":"text","text":"caf\u00e9 \"q\"\n\\ \/"},)"
        R"({"type":"mcp_tool_result","content":[{"type":"text","text":"x"}],"n":18446744073709551615}])";
    auto transport = std::make_shared<FakeHttpTransport>();
    const AnthropicClient client("key", "m", transport);
    transport->reply(200, R"({"stop_reason":"pause_turn","usage":{"x":[1,2]},"content":)" + blocks +
                              "}");
    transport->reply(200, R"({"content":[{"type":"text","text":"!"}]})");
    EXPECT_EQ(client.runWithMCP("go", {}), "caf\u00e9 \"q\"\n\\ /!");
    const auto requests = transport->requests();
    ASSERT_EQ(requests.size(), 2u);
    const json::Value second = json::parse(requests[1].body);
    const json::Value expected = json::parse(blocks);
    ASSERT_EQ(second["messages"].size(), 2u);
    EXPECT_EQ(second["messages"][1]["role"], "assistant");
    EXPECT_EQ(second["messages"][1]["content"], expected);
    // Member order kept; the number written as received.
    EXPECT_NE(requests[1].body.find(R"({"z":[1,-2,1.5e3,true,null],"a":{}})"), std::string::npos)
        << requests[1].body;
    // The body is the one the first request had, the conversation grown.
    json::Value first = json::parse(requests[0].body);
    json::Value rest = second;
    first.erase("messages");
    rest.erase("messages");
    EXPECT_EQ(first, rest);
    EXPECT_EQ(requests[1].body.substr(0, 40), requests[0].body.substr(0, 40));
}

// Sanitizers' allocators keep their own large overheads.
#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) ||                         \
    __has_feature(memory_sanitizer)
#define KESTRO_TEST_SANITIZED 1
#endif
#endif
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__) &&                             \
    !defined(KESTRO_TEST_SANITIZED)
namespace {

std::string ofSmallObjects(const std::string& before, const std::string& item,
                           const std::string& after) {
    std::string out = before;
    while (out.size() < (24u << 20)) {
        out += item + ",";
    }
    return out + after;
}

} // namespace

TEST(AnthropicClient, RepliesOfManySmallObjectsAreReadWithoutATreeOfThem) {
    auto answering = [](std::string reply) {
        auto transport = std::make_shared<FakeHttpTransport>();
        auto body = std::make_shared<std::string>(std::move(reply));
        transport->setHandler([body](const platform::HttpRequest&) {
            return HttpResponse{.status = 200, .body = std::move(*body)};
        });
        return AnthropicClient("key", "m", transport);
    };
    const std::string blocks =
        ofSmallObjects(R"({"content":[)", R"({"type":"mcp_tool_use","id":"t","input":{"a":1}})",
                       R"({"type":"text","text":"done"}],"stop_reason":"end_turn"})");
    const std::string junk = ofSmallObjects(R"({"content":[{"type":"text","text":"{}"}],"extra":[)",
                                            R"({"a":1})", "{}]}");
    struct Case {
        const char* what;
        std::string reply;
        std::function<void(std::string)> read;
    } cases[] = {
        {"a cast's turn", blocks,
         [&](std::string reply) {
             if (answering(std::move(reply)).runWithMCP("go", {}) != "done") {
                 _exit(1);
             }
         }},
        {"a structured reply", junk,
         [&](std::string reply) {
             (void)answering(std::move(reply)).structuredCompletion("s", {}, json::Value::object());
         }},
    };
    for (auto& c : cases) {
        const kestro::testing::PeakGrowth peak =
            kestro::testing::peakGrowthOfReading([&] { return c.reply; }, c.read);
        const double ratio = peak.bytes < 0 ? -1 : peak.bytes / static_cast<double>(peak.textBytes);
        std::printf("[ figure ] %s of %zu MiB: peak %.2f times the reply\n", c.what,
                    c.reply.size() >> 20, ratio);
        EXPECT_GE(ratio, 0) << c.what;
        EXPECT_LE(ratio, 6) << c.what;
    }
}
#endif
