#include "KestroCore/AnthropicClient.h"
#include "platform/Cancellation.h"
#include "platform/linux/CurlTransport.h"
#include "tests/net/LocalServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace kestro;
using ClientError = AnthropicClient::ClientError;
using ContentBlock = AnthropicClient::ContentBlock;
using kestro::platform::CancellationError;
using kestro::platform::TransportError;
using kestro::platform::linux_curl::CurlTransport;
using kestro::testing::LocalServer;
using namespace std::chrono_literals;

namespace {

class ClientHttpTest : public ::testing::Test {
protected:
    AnthropicClient client(std::string key = "sk-test-key") const {
        return AnthropicClient(std::move(key), std::string(AnthropicClient::Model::opus),
                               transport_, server_.url());
    }

    // The message of whatever the call threw, or "returned: <result>".
    template <typename Call> std::string outcome(Call call) const {
        try {
            return "returned: " + call();
        } catch (const ClientError& e) {
            return std::string("ClientError: ") + e.what();
        } catch (const json::DecodingError&) {
            return "DecodingError";
        } catch (const std::exception& e) {
            return std::string("other: ") + e.what();
        }
    }

    std::string complete() const {
        return outcome([&] {
            return client().structuredCompletion("system", {ContentBlock::text("hi")},
                                                 json::Value::object());
        });
    }

    std::string cast(int maxTurns = 8) const {
        return outcome([&] { return client().runWithMCP("do it", {}, 8000, maxTurns); });
    }

    json::Value body(std::size_t i) const { return json::parse(server_.received().at(i).body); }

    static std::vector<std::string> keys(const json::Value& object) {
        std::vector<std::string> out;
        for (auto it = object.begin(); it != object.end(); ++it) {
            out.push_back(it.key());
        }
        return out;
    }

    mutable LocalServer server_;
    std::shared_ptr<CurlTransport> transport_ = std::make_shared<CurlTransport>();
};

const char* const invalidUtf8 = "{\"error\":\"\xC3\x28\"}";

} // namespace

TEST_F(ClientHttpTest, StructuredCompletionRequest) {
    server_.reply(200, R"({"content":[{"type":"text","text":"{}"}],"stop_reason":"end_turn"})");
    json::Value schema = {{"type", "object"}, {"required", {"plan"}}};
    const std::string answer = client().structuredCompletion(
        "You are a test.", {ContentBlock::text("trace"), ContentBlock::image("image/jpeg", "AAAA")},
        schema);
    EXPECT_EQ(answer, "{}");

    const auto received = server_.received();
    ASSERT_EQ(received.size(), 1u);
    const auto& r = received[0];
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/v1/messages");
    EXPECT_EQ(r.version, "HTTP/1.1");
    EXPECT_EQ(r.header("content-type"), "application/json");
    EXPECT_EQ(r.header("x-api-key"), "sk-test-key");
    EXPECT_EQ(r.header("anthropic-version"), "2023-06-01");
    EXPECT_FALSE(r.has("anthropic-beta"));
    EXPECT_FALSE(r.has("expect"));
    EXPECT_EQ(r.body.find('\n'), std::string::npos) << "the body is compact JSON";

    const json::Value sent = json::parse(r.body);
    EXPECT_EQ(keys(sent), (std::vector<std::string>{"max_tokens", "messages", "model",
                                                    "output_config", "system", "thinking"}));
    EXPECT_EQ(sent["model"], "claude-opus-4-8");
    EXPECT_EQ(sent["max_tokens"], 16000);
    EXPECT_EQ(sent["system"], "You are a test.");
    EXPECT_EQ(sent["thinking"], json::Value({{"type", "adaptive"}}));
    EXPECT_EQ(sent["output_config"],
              json::Value({{"format", {{"type", "json_schema"}, {"schema", schema}}}}));
    EXPECT_EQ(sent["messages"], json::parse(R"([{"role":"user","content":[
        {"type":"text","text":"trace"},
        {"type":"image","source":{"type":"base64","media_type":"image/jpeg","data":"AAAA"}}]}])"));
}

TEST_F(ClientHttpTest, StructuredCompletionReplies) {
    struct Case {
        int status;
        std::string body;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {529, R"({"type":"error","error":{"type":"overloaded_error"}})",
         R"(ClientError: Anthropic API HTTP 529: {"type":"error","error":{"type":"overloaded_error"}})"},
        {500, invalidUtf8, "ClientError: Anthropic API HTTP 500: "},
        {404, "", "ClientError: Anthropic API HTTP 404: "},
        {302, "moved", "ClientError: Anthropic API HTTP 302: moved"},
        {200, R"({"content":[],"stop_reason":"refusal"})",
         "ClientError: The model declined the request: no explanation"},
        {200, R"({"content":[{"type":"text","text":"I can't help."}],"stop_reason":"refusal"})",
         "ClientError: The model declined the request: I can't help."},
        {200,
         R"({"content":[{"type":"text","text":"{\"name\":\"x\"}"}],"stop_reason":"max_tokens"})",
         "ClientError: The response was cut off (hit max_tokens)."},
        {200,
         R"({"content":[{"type":"thinking","thinking":"hmm"},{"type":"text","text":"answer"}]})",
         "returned: answer"},
        {200,
         R"({"content":[{"type":"text"},{"type":"text","text":"later"}],"stop_reason":"end_turn"})",
         "ClientError: The response contained no text content."},
        {201, R"({"content":[{"type":"text","text":"not json {"}],"stop_reason":"stop_sequence"})",
         "returned: not json {"},
        {200, R"({"content":[{"type":"text","text":""}]})", "returned: "},
        {200, R"({"stop_reason":"end_turn"})", "DecodingError"},
        {200, R"({"content":[],"stop_reason":"end_turn"})",
         "ClientError: The response contained no text content."},
        {200, R"({"content":[{"text":"no type"}]})", "DecodingError"},
        {200, "<html>", "DecodingError"},
    };
    for (const Case& c : cases) {
        server_.reply(c.status, c.body);
        EXPECT_EQ(complete(), c.expected) << c.status << " " << c.body;
    }
}

TEST_F(ClientHttpTest, ErrorCarriesStatusAndBody) {
    server_.reply(529, "overloaded");
    try {
        client().structuredCompletion("s", {}, json::Value::object());
        FAIL() << "no error";
    } catch (const ClientError& e) {
        EXPECT_EQ(e.kind(), ClientError::Kind::http);
        EXPECT_EQ(e.status(), 529);
        EXPECT_EQ(e.body(), "overloaded");
        EXPECT_EQ(e.errorDescription(), "Anthropic API HTTP 529: overloaded");
    }
}

TEST_F(ClientHttpTest, RunWithMCPRequest) {
    server_.reply(200, R"({"content":[{"type":"text","text":"done"}],"stop_reason":"end_turn"})");
    const std::vector<MCPServer> servers = {
        MCPServer{.name = "linear",
                  .url = "https://mcp.linear.app/mcp",
                  .bundleIDs = {"com.linear"},
                  .authToken = "tok-1"},
        MCPServer{.name = "notion",
                  .url = "https://mcp.notion.com/mcp",
                  .bundleIDs = {"notion.id"},
                  .authToken = ""},
    };
    EXPECT_EQ(client().runWithMCP("File the report", servers), "done");

    const auto r = server_.received().at(0);
    EXPECT_EQ(r.method, "POST");
    EXPECT_EQ(r.path, "/v1/messages");
    EXPECT_EQ(r.header("content-type"), "application/json");
    EXPECT_EQ(r.header("x-api-key"), "sk-test-key");
    EXPECT_EQ(r.header("anthropic-version"), "2023-06-01");
    EXPECT_EQ(r.header("anthropic-beta"), "mcp-client-2025-11-20");

    const json::Value sent = body(0);
    EXPECT_EQ(keys(sent), (std::vector<std::string>{"max_tokens", "mcp_servers", "messages",
                                                    "model", "thinking"}));
    EXPECT_EQ(sent["model"], "claude-opus-4-8");
    EXPECT_EQ(sent["max_tokens"], 8000);
    EXPECT_EQ(sent["thinking"], json::Value({{"type", "adaptive"}}));
    EXPECT_EQ(sent["mcp_servers"], json::parse(R"([
        {"type":"url","url":"https://mcp.linear.app/mcp","name":"linear","authorization_token":"tok-1"},
        {"type":"url","url":"https://mcp.notion.com/mcp","name":"notion"}])"));
    EXPECT_EQ(sent["messages"], json::parse(R"([{"role":"user","content":"File the report"}])"));

    server_.reply(200, R"({"content":[]})");
    client().runWithMCP("x", {});
    EXPECT_EQ(body(1)["mcp_servers"], json::Value::array());
}

TEST_F(ClientHttpTest, PauseTurnSendsTheConversationBackUnchanged) {
    const std::string first =
        R"({"content":[{"type":"text","text":"A"},)"
        R"({"type":"mcp_tool_use","id":"t1","name":"create_issue","input":{"n":1.5,"x":[null,true]}},)"
        R"({"type":"mcp_tool_result","tool_use_id":"t1","content":[{"type":"text","text":"ok"}]},)"
        R"({"type":"text","text":7}],"stop_reason":"pause_turn","usage":{"output_tokens":3}})";
    server_.script({{200, first}, {200, R"({"content":[{"type":"text","text":"B"}]})"}});
    EXPECT_EQ(cast(), "returned: AB");

    ASSERT_EQ(server_.received().size(), 2u);
    json::Value expected = json::parse(R"([{"role":"user","content":"do it"}])");
    expected.push_back({{"role", "assistant"}, {"content", json::parse(first)["content"]}});
    EXPECT_EQ(body(1)["messages"], expected);
}

TEST_F(ClientHttpTest, RunWithMCPReplies) {
    struct Case {
        std::vector<LocalServer::Reply> replies;
        std::string expected;
        std::size_t requests;
    };
    const std::string pauseA =
        R"({"content":[{"type":"text","text":"A"}],"stop_reason":"pause_turn"})";
    const std::vector<Case> cases = {
        {{{200, pauseA},
          {200, R"({"content":[{"type":"text","text":"B"}],"stop_reason":"refusal"})"}},
         "ClientError: The model declined the request: AB",
         2},
        {{{200, R"({"content":[{"type":"thinking"}],"stop_reason":"refusal"})"}},
         "ClientError: The model declined the request: no explanation",
         1},
        {{{200, R"({"content":[{"type":"text","text":"partial"}],"stop_reason":"max_tokens"})"}},
         "returned: partial",
         1},
        {{{200, R"([{"type":"text","text":"A"}])"}},
         "ClientError: The response contained no text content.",
         1},
        {{{200, R"("just a string")"}}, "DecodingError", 1},
        {{{200, "42"}}, "DecodingError", 1},
        {{{200, "not json"}}, "DecodingError", 1},
        {{{200, "{}"}}, "returned: ", 1},
        {{{200, pauseA}, {200, R"({"stop_reason":7})"}}, "returned: A", 2},
        {{{200, R"({"content":[{"type":"text","text":"x"},3],"stop_reason":"end_turn"})"}},
         "returned: ",
         1},
        {{{200, R"({"content":{"type":"text","text":"x"}})"}}, "returned: ", 1},
        {{{200, pauseA}, {529, invalidUtf8}}, "ClientError: Anthropic API HTTP 529: ", 2},
    };
    for (const Case& c : cases) {
        LocalServer server;
        server.script(c.replies);
        const AnthropicClient client("k", std::string(AnthropicClient::Model::opus), transport_,
                                     server.url());
        const std::string result = outcome([&] { return client.runWithMCP("do it", {}); });
        EXPECT_EQ(result, c.expected) << c.replies.back().body;
        EXPECT_EQ(server.received().size(), c.requests) << c.replies.back().body;
    }
}

TEST_F(ClientHttpTest, ContentThatIsNotAllObjectsIsSentBackEmpty) {
    server_.script(
        {{200, R"({"content":["stray"],"stop_reason":"pause_turn"})"}, {200, R"({"content":[]})"}});
    EXPECT_EQ(cast(), "returned: ");
    EXPECT_EQ(body(1)["messages"][1], json::parse(R"({"role":"assistant","content":[]})"));
}

TEST_F(ClientHttpTest, TurnLimit) {
    std::vector<LocalServer::Reply> pauses;
    for (int i = 0; i < 9; ++i) {
        pauses.push_back({200, R"({"content":[{"type":"text","text":")" + std::to_string(i) +
                                   R"("}],"stop_reason":"pause_turn"})"});
    }
    server_.script(pauses);
    EXPECT_EQ(cast(), "returned: 01234567");
    ASSERT_EQ(server_.received().size(), 8u);
    EXPECT_EQ(body(7)["messages"].size(), 8u);

    EXPECT_EQ(cast(0), "returned: ");
    EXPECT_EQ(cast(-1), "returned: ");
    EXPECT_EQ(server_.received().size(), 8u);
}

TEST_F(ClientHttpTest, CancelledBeforeTheFirstRequestSendsNothing) {
    server_.reply(200, "{}");
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(client().runWithMCP("x", {}, 8000, 8, stop.get_token()), CancellationError);
    EXPECT_THROW(
        client().structuredCompletion("s", {}, json::Value::object(), 16000, stop.get_token()),
        CancellationError);
    EXPECT_TRUE(server_.received().empty());
}

TEST_F(ClientHttpTest, CancelDuringASlowReplyEndsTheRun) {
    server_.setHandler([&](const httplib::Request&, httplib::Response& response) {
        server_.holdUntilReleased(10s);
        response.set_content(R"({"content":[]})", "application/json");
    });
    std::stop_source stop;
    std::jthread stopper([&] {
        server_.waitUntilHolding(5s);
        std::this_thread::sleep_for(100ms);
        stop.request_stop();
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(client().runWithMCP("x", {}, 8000, 8, stop.get_token()), CancellationError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(server_.received().size(), 1u);
}

TEST_F(ClientHttpTest, KeyWithALineBreakIsNeverSent) {
    server_.reply(200, R"({"content":[{"type":"text","text":"x"}]})");
    for (const std::string& key : {std::string("sk-1\r\nX-Injected: yes"), std::string("sk-1\n"),
                                   std::string("sk\0-1", 5)}) {
        EXPECT_EQ(outcome([&] { return client(key).runWithMCP("x", {}); }),
                  "other: Refusing to send the request: header field \"x-api-key\" holds a line "
                  "break or NUL character.");
        EXPECT_THROW(client(key).structuredCompletion("s", {}, json::Value::object()),
                     TransportError);
    }
    EXPECT_TRUE(server_.received().empty());
}
