#pragma once

#include "KestroCore/Json.h"
#include "KestroCore/MCPServer.h"
#include "platform/HttpTransport.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace kestro {

// The client of the hosted model service's Messages API. A small immutable value, made afresh for
// each operation. It logs nothing and retries nothing: its own failures are ClientError; those of
// the transport (platform::TransportError, platform::CancellationError), of serialisation
// (json::EncodingError) and of decoding (json::DecodingError) pass through unchanged.
class AnthropicClient {
public:
    struct Model {
        static constexpr std::string_view opus = "claude-opus-4-8";
        static constexpr std::string_view sonnet = "claude-sonnet-4-6";
    };

    static constexpr std::string_view defaultEndpoint = "https://api.anthropic.com/v1/messages";
    static constexpr double idleTimeoutSeconds = 60;
    // Whole-request deadlines. A synthesis carries key frames and asks for up to 16000 tokens
    // with thinking: minutes at the service's slowest, well inside ten. A cast request asks
    // for at most 8000 tokens, but the service runs the tool calls of its turn inside it.
    static constexpr double synthesisDeadlineSeconds = 600;
    static constexpr double castRequestDeadlineSeconds = 300;
    // An error reply's body is kept, and shown in the error's message, up to this many bytes.
    static constexpr std::size_t maxErrorBodyBytes = 4096;
    // The most reply bytes one runWithMCP conversation holds.
    static constexpr std::size_t maxConversationBytes = std::size_t{64} << 20;

    // One block of a user message.
    class ContentBlock {
    public:
        struct Text {
            std::string text;
        };
        struct Image {
            std::string mediaType;
            // Sent exactly as given; the client neither encodes nor checks it.
            std::string base64;
        };

        static ContentBlock text(std::string text);
        static ContentBlock image(std::string mediaType, std::string base64);

        const std::variant<Text, Image>& value() const { return value_; }
        // The block's wire object.
        kestro::json::Value json() const;

    private:
        explicit ContentBlock(std::variant<Text, Image> value) : value_(std::move(value)) {}
        std::variant<Text, Image> value_;
    };

    class ClientError : public std::runtime_error {
    public:
        enum class Kind { http, refusal, noTextContent, truncated };

        static ClientError http(int status, std::string body);
        static ClientError refusal(std::string text);
        static ClientError noTextContent();
        static ClientError truncated();

        Kind kind() const { return kind_; }
        // For http: the status and the reply body as text (empty when it was not UTF-8), cut to
        // its first maxErrorBodyBytes bytes at a character boundary.
        int status() const { return status_; }
        const std::string& body() const { return text_; }
        // For refusal: the model's explanation.
        const std::string& text() const { return text_; }
        std::string errorDescription() const { return what(); }

    private:
        ClientError(Kind kind, int status, std::string text, const std::string& message)
            : std::runtime_error(message), kind_(kind), status_(status), text_(std::move(text)) {}
        Kind kind_;
        int status_ = 0;
        std::string text_;
    };

    // `session` defaults to the shared transport the application installs; `endpoint` to the
    // service's Messages address (tests point it elsewhere).
    explicit AnthropicClient(
        std::string apiKey, std::string model = std::string(Model::opus),
        std::shared_ptr<platform::HttpTransport> session = platform::HttpTransport::shared(),
        std::string endpoint = std::string(defaultEndpoint));

    const std::string& apiKey() const { return apiKey_; }
    const std::string& model() const { return model_; }
    const std::shared_ptr<platform::HttpTransport>& session() const { return session_; }
    const std::string& endpoint() const { return endpoint_; }

    // A copy whose every request has this deadline instead of the road's own (above); 0 sets
    // none.
    AnthropicClient withDeadline(double seconds) const;

    // One request whose answer must follow `schema`; returns the UTF-8 bytes of the reply's first
    // text block (the model's JSON object, unparsed). The stop token only reaches the transport.
    std::string structuredCompletion(std::string_view system,
                                     const std::vector<ContentBlock>& content,
                                     const json::Value& schema, int maxTokens = 16000,
                                     std::stop_token stop = {}) const;

    // Hands the instruction to the service with the servers' connector entries and follows
    // "pause_turn" replies for at most `maxTurns` requests (a negative count sends nothing).
    // Returns every text the service wrote, across all turns, joined without separator. A stop
    // before a request, or during one, throws platform::CancellationError. Replies that would
    // take the conversation past maxConversationBytes end the run with
    // platform::TransportError.
    std::string runWithMCP(std::string_view instruction, const std::vector<MCPServer>& servers,
                           int maxTokens = 8000, int maxTurns = 8, std::stop_token stop = {}) const;

private:
    platform::HttpResponse send(const json::Value& body, bool withMCP, std::stop_token stop) const;
    platform::HttpResponse sendText(std::string body, bool withMCP, std::stop_token stop) const;

    std::string apiKey_;
    std::string model_;
    std::shared_ptr<platform::HttpTransport> session_;
    std::string endpoint_;
    std::optional<double> deadlineSeconds_;
};

} // namespace kestro
