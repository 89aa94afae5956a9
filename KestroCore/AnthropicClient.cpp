#include "KestroCore/AnthropicClient.h"

#include "KestroBase/Text.h"
#include "platform/Cancellation.h"

#include <algorithm>
#include <string>

namespace kestro {

namespace {

using ContentBlock = AnthropicClient::ContentBlock;
using ClientError = AnthropicClient::ClientError;

// At most `limit` bytes of valid UTF-8 text, cut before a character that would not fit whole.
std::string leadingBytes(std::string text, std::size_t limit) {
    if (text.size() > limit) {
        std::size_t cut = limit;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) {
            --cut;
        }
        text.resize(cut);
        text.shrink_to_fit();
    }
    return text;
}

void checkStatus(const platform::HttpResponse& response) {
    if (!response.isHttp) {
        throw ClientError::http(-1, "no HTTP response");
    }
    if (response.status < 200 || response.status >= 300) {
        throw ClientError::http(response.status,
                                text::isValidUtf8(response.body) ? response.body : std::string());
    }
}

void checkConversationSize(std::size_t bytes) {
    if (bytes > AnthropicClient::maxConversationBytes) {
        throw platform::TransportError("The conversation with the model service grew past " +
                                       std::to_string(AnthropicClient::maxConversationBytes >> 20) +
                                       " MiB; the run was stopped.");
    }
}

json::Value thinking() {
    json::Value v = json::Value::object();
    v["type"] = "adaptive";
    return v;
}

// The reply of a structured completion; only these members are read.
struct MessagesResponse {
    struct Block {
        std::string type;
        std::optional<std::string> text;
    };
    std::vector<Block> content;
    std::optional<std::string> stopReason;

    // The text of the first text-typed block; absent when that block has none.
    std::optional<std::string> firstText() const {
        for (const Block& block : content) {
            if (block.type == "text") {
                return block.text;
            }
        }
        return std::nullopt;
    }
};

MessagesResponse decodeMessagesResponse(const std::string& bytes) {
    const json::Value document = json::parseForeign(bytes);
    const json::ObjectReader r(document, "MessagesResponse");
    MessagesResponse response;
    response.content =
        r.requiredList<MessagesResponse::Block>("content", [](const json::Value& element) {
            const json::ObjectReader b(element, "MessagesResponse.Block");
            return MessagesResponse::Block{.type = b.requiredString("type"),
                                           .text = b.optionalString("text")};
        });
    response.stopReason = r.optionalString("stop_reason");
    return response;
}

// The general parser's rule: the top level must be an object or an array.
json::Value parseContainer(const std::string& bytes) {
    json::Value document = json::parseForeign(bytes);
    if (!document.is_object() && !document.is_array()) {
        throw json::DecodingError("The data couldn't be read because it isn't in the correct "
                                  "format: JSON text did not start with array or object.");
    }
    return document;
}

} // namespace

ContentBlock ContentBlock::text(std::string text) {
    return ContentBlock(Text{std::move(text)});
}

ContentBlock ContentBlock::image(std::string mediaType, std::string base64) {
    return ContentBlock(Image{std::move(mediaType), std::move(base64)});
}

json::Value ContentBlock::json() const {
    kestro::json::Value v = kestro::json::Value::object();
    if (const auto* t = std::get_if<Text>(&value_)) {
        v["type"] = "text";
        v["text"] = t->text;
    } else {
        const auto& image = std::get<Image>(value_);
        kestro::json::Value source = kestro::json::Value::object();
        source["type"] = "base64";
        source["media_type"] = image.mediaType;
        source["data"] = image.base64;
        v["type"] = "image";
        v["source"] = std::move(source);
    }
    return v;
}

ClientError ClientError::http(int status, std::string body) {
    // An error page may be megabytes long, and the message ends up in log lines.
    body = leadingBytes(std::move(body), maxErrorBodyBytes);
    const std::string message = "Anthropic API HTTP " + std::to_string(status) + ": " + body;
    return ClientError(Kind::http, status, std::move(body), message);
}

ClientError ClientError::refusal(std::string text) {
    const std::string message = "The model declined the request: " + text;
    return ClientError(Kind::refusal, 0, std::move(text), message);
}

ClientError ClientError::noTextContent() {
    return ClientError(Kind::noTextContent, 0, {}, "The response contained no text content.");
}

ClientError ClientError::truncated() {
    return ClientError(Kind::truncated, 0, {}, "The response was cut off (hit max_tokens).");
}

AnthropicClient::AnthropicClient(std::string apiKey, std::string model,
                                 std::shared_ptr<platform::HttpTransport> session,
                                 std::string endpoint)
    : apiKey_(std::move(apiKey)), model_(std::move(model)),
      session_(session ? std::move(session) : platform::HttpTransport::shared()),
      endpoint_(std::move(endpoint)) {}

AnthropicClient AnthropicClient::withDeadline(double seconds) const {
    AnthropicClient copy = *this;
    copy.deadlineSeconds_ = seconds;
    return copy;
}

platform::HttpResponse AnthropicClient::send(const json::Value& body, bool withMCP,
                                             std::stop_token stop) const {
    platform::HttpRequest request;
    request.url = endpoint_;
    request.idleTimeoutSeconds = idleTimeoutSeconds;
    request.deadlineSeconds =
        deadlineSeconds_.value_or(withMCP ? castRequestDeadlineSeconds : synthesisDeadlineSeconds);
    request.headers = {{"Content-Type", "application/json"},
                       {"x-api-key", apiKey_},
                       {"anthropic-version", "2023-06-01"}};
    if (withMCP) {
        request.headers.emplace_back("anthropic-beta", "mcp-client-2025-11-20");
    }
    request.body = json::writeCompact(body);
    return session_->post(request, std::move(stop));
}

std::string AnthropicClient::structuredCompletion(std::string_view system,
                                                  const std::vector<ContentBlock>& content,
                                                  const json::Value& schema, int maxTokens,
                                                  std::stop_token stop) const {
    json::Value blocks = json::Value::array();
    for (const ContentBlock& block : content) {
        blocks.push_back(block.json());
    }
    json::Value message = json::Value::object();
    message["role"] = "user";
    message["content"] = std::move(blocks);

    json::Value format = json::Value::object();
    format["type"] = "json_schema";
    format["schema"] = schema;
    json::Value outputConfig = json::Value::object();
    outputConfig["format"] = std::move(format);

    json::Value body = json::Value::object();
    body["model"] = model_;
    body["max_tokens"] = maxTokens;
    body["system"] = std::string(system);
    body["thinking"] = thinking();
    body["output_config"] = std::move(outputConfig);
    body["messages"] = json::Value::array({std::move(message)});

    const platform::HttpResponse response = send(body, false, std::move(stop));
    checkStatus(response);
    const MessagesResponse reply = decodeMessagesResponse(response.body);
    if (reply.stopReason == "refusal") {
        throw ClientError::refusal(reply.firstText().value_or("no explanation"));
    }
    if (reply.stopReason == "max_tokens") {
        throw ClientError::truncated();
    }
    if (auto text = reply.firstText()) {
        return *text;
    }
    throw ClientError::noTextContent();
}

std::string AnthropicClient::runWithMCP(std::string_view instruction,
                                        const std::vector<MCPServer>& servers, int maxTokens,
                                        int maxTurns, std::stop_token stop) const {
    json::Value connectors = json::Value::array();
    for (const MCPServer& server : servers) {
        connectors.push_back(server.connectorJSON());
    }
    json::Value first = json::Value::object();
    first["role"] = "user";
    first["content"] = std::string(instruction);
    json::Value conversation = json::Value::array({std::move(first)});

    std::string result;
    // Every reply is kept for the next request, so the conversation is held, and moved rather
    // than copied, within a bound.
    std::size_t conversationBytes = instruction.size();
    for (int turn = 0; turn < maxTurns; ++turn) {
        if (stop.stop_requested()) {
            throw platform::CancellationError();
        }
        checkConversationSize(conversationBytes);
        json::Value body = json::Value::object();
        body["model"] = model_;
        body["max_tokens"] = maxTokens;
        body["thinking"] = thinking();
        body["mcp_servers"] = connectors;
        body["messages"] = std::move(conversation);

        platform::HttpResponse response = send(body, true, stop);
        conversation = std::move(body["messages"]);
        body = json::Value();
        checkStatus(response);
        conversationBytes += response.body.size();
        checkConversationSize(conversationBytes);
        json::Value reply = parseContainer(response.body);
        response.body = std::string();
        if (!reply.is_object()) {
            throw ClientError::noTextContent();
        }

        std::optional<std::string> stopReason;
        if (auto it = reply.find("stop_reason"); it != reply.end() && it->is_string()) {
            stopReason = it->get<std::string>();
        }
        json::Value blocks = json::Value::array();
        if (auto it = reply.find("content");
            it != reply.end() && it->is_array() &&
            std::all_of(it->begin(), it->end(),
                        [](const json::Value& b) { return b.is_object(); })) {
            blocks = std::move(*it);
        }
        reply = json::Value();
        for (const json::Value& block : blocks) {
            auto type = block.find("type");
            auto text = block.find("text");
            if (type != block.end() && type->is_string() && *type == "text" &&
                text != block.end() && text->is_string()) {
                result += text->get_ref<const std::string&>();
            }
        }

        if (stopReason == "refusal") {
            throw ClientError::refusal(result.empty() ? std::string("no explanation") : result);
        }
        if (stopReason != "pause_turn") {
            return result;
        }
        // Sent back exactly as received: tool calls, results and thinking blocks included.
        json::Value assistant = json::Value::object();
        assistant["role"] = "assistant";
        assistant["content"] = std::move(blocks);
        conversation.push_back(std::move(assistant));
    }
    return result;
}

} // namespace kestro
