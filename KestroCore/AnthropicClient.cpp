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

// A reply read as the parser goes, keeping only what the client uses of it: "stop_reason", the
// content blocks' "type" and "text", and (when asked) the content array as compact text. A tree
// of a reply of many small objects would take dozens of times its size.
class ReplyReader {
public:
    explicit ReplyReader(bool keepContent) : keepContent_(keepContent) {}

    // Parses `bytes`; malformed text and too deep nesting throw DecodingError as json::parse and
    // json::parseForeign do. What the reply's shape gets wrong is left to the caller.
    void read(std::string_view bytes) {
        json::checkForeignNesting(bytes);
        json::Value::sax_parse(bytes.begin(), bytes.end(), this);
    }

    enum class Member { absent, null, string, other };

    // The top level.
    bool topIsObject = false;
    bool topIsContainer = false;
    Member stopReasonKind = Member::absent;
    std::string stopReason;
    // "content": an array (its blocks seen below), or what else it was.
    Member contentKind = Member::absent;
    bool contentIsArray = false;
    bool everyBlockIsObject = true;
    // The first block that is not as a structured reply requires, as the reader of the tree
    // would have reported it.
    std::optional<std::string> blockError;
    // The first block typed "text", and its text when it is a string.
    bool textBlockFound = false;
    std::optional<std::string> firstText;
    // Every text-typed block's string text, one after the other.
    std::string allText;
    // The content array as compact JSON, when kept.
    std::string content;

    // nlohmann's SAX interface.
    bool null() {
        scalar(Member::null, nullptr);
        write("null");
        return true;
    }
    bool boolean(bool value) {
        scalar(Member::other, nullptr);
        write(value ? "true" : "false");
        return true;
    }
    bool number_integer(json::Value::number_integer_t value) {
        scalar(Member::other, nullptr);
        write(std::to_string(value));
        return true;
    }
    bool number_unsigned(json::Value::number_unsigned_t value) {
        scalar(Member::other, nullptr);
        write(std::to_string(value));
        return true;
    }
    bool number_float(json::Value::number_float_t, const std::string& lexeme) {
        scalar(Member::other, nullptr);
        write(lexeme);
        return true;
    }
    bool string(std::string& value) {
        if (writing()) {
            separate();
            json::writeCompactString(content, value);
        }
        scalar(Member::string, &value);
        return true;
    }
    bool binary(json::Value::binary_t&) { return true; }
    bool start_object(std::size_t) {
        open('{');
        return true;
    }
    bool key(std::string& name) {
        if (writing()) {
            separate();
            json::writeCompactString(content, name);
            content.push_back(':');
            afterKey_ = true;
        }
        if (!stack_.empty()) {
            stack_.back().key = name;
        }
        return true;
    }
    bool end_object() {
        close('}');
        return true;
    }
    bool start_array(std::size_t) {
        open('[');
        return true;
    }
    bool end_array() {
        close(']');
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) {
        json::failMalformed(e.what());
    }

private:
    enum class Place { top, content, block, other };
    struct Level {
        Place place;
        std::string key;   // the member being read, in an object
        bool first = true; // nothing written in it yet
        bool writes = false;
    };

    // Where a value that begins now lies.
    Place placeOfValue() const {
        if (stack_.empty()) {
            return Place::other; // the top level itself
        }
        const Level& l = stack_.back();
        if (l.place == Place::top && l.key == "content") {
            return Place::content;
        }
        if (l.place == Place::content) {
            return Place::block;
        }
        return Place::other;
    }

    void scalar(Member kind, std::string* text) {
        if (stack_.empty()) {
            return; // a bare value: neither object nor array
        }
        Level& l = stack_.back();
        if (l.place == Place::top) {
            if (l.key == "stop_reason") {
                stopReasonKind = kind;
                stopReason = text ? *text : std::string();
            } else if (l.key == "content") {
                contentKind = kind;
                contentIsArray = false;
            }
        } else if (l.place == Place::content) {
            notAnObject();
        } else if (l.place == Place::block) {
            if (l.key == "type") {
                blockType_ = kind;
                type_ = text ? *text : std::string();
            } else if (l.key == "text") {
                blockText_ = kind;
                text_ = text ? std::move(*text) : std::string();
            }
        }
    }

    void open(char bracket) {
        const bool top = stack_.empty();
        const Place place = top ? Place::top : placeOfValue();
        if (top) {
            topIsContainer = true;
            topIsObject = bracket == '{';
        }
        if (!top) {
            scalarOfContainer(place, bracket);
        }
        if (writing()) {
            separate();
        }
        Place inner = Place::other;
        if (top && bracket == '{') {
            inner = Place::top;
        } else if (place == Place::content && bracket == '[') {
            inner = Place::content;
        } else if (place == Place::block && bracket == '{') {
            inner = Place::block;
            blockType_ = Member::absent;
            blockText_ = Member::absent;
        }
        const bool writes = writing() || (keepContent_ && inner == Place::content);
        if (keepContent_ && inner == Place::content) {
            content.clear();
        }
        stack_.push_back(Level{inner, {}, true, writes});
        if (writes) {
            content.push_back(bracket);
        }
    }

    // A container where a member of interest was expected to be a string or an array.
    void scalarOfContainer(Place place, char bracket) {
        Level& l = stack_.back();
        if (l.place == Place::top) {
            if (l.key == "stop_reason") {
                stopReasonKind = Member::other;
            } else if (l.key == "content") {
                contentKind = Member::other;
                contentIsArray = bracket == '[';
                if (contentIsArray) {
                    // A second "content" replaces the first, as in a tree.
                    everyBlockIsObject = true;
                    blockError.reset();
                    textBlockFound = false;
                    firstText.reset();
                    allText.clear();
                }
            }
        } else if (place == Place::block && bracket == '[') {
            notAnObject();
        } else if (l.place == Place::block) {
            if (l.key == "type") {
                blockType_ = Member::other;
            } else if (l.key == "text") {
                blockText_ = Member::other;
            }
        }
    }

    void close(char bracket) {
        const Level level = std::move(stack_.back());
        stack_.pop_back();
        if (level.writes) {
            content.push_back(bracket);
        }
        if (level.place == Place::block) {
            endBlock();
        }
    }

    void notAnObject() {
        everyBlockIsObject = false;
        if (!blockError) {
            blockError = "typeMismatch: expected an object for MessagesResponse.Block";
        }
    }

    void endBlock() {
        const char* record = "\" in MessagesResponse.Block";
        if (!blockError) {
            if (blockType_ == Member::absent || blockType_ == Member::null) {
                blockError = std::string("keyNotFound: \"type") + record;
            } else if (blockType_ != Member::string) {
                blockError = std::string("typeMismatch: expected a string: \"type") + record;
            } else if (blockText_ == Member::other) {
                blockError = std::string("typeMismatch: expected a string: \"text") + record;
            }
        }
        if (blockType_ == Member::string && type_ == "text") {
            if (!textBlockFound) {
                textBlockFound = true;
                if (blockText_ == Member::string) {
                    firstText = text_;
                }
            }
            if (blockText_ == Member::string) {
                allText += text_;
            }
        }
        text_.clear();
    }

    bool writing() const { return !stack_.empty() && stack_.back().writes; }
    void write(std::string_view token) {
        if (writing()) {
            separate();
            content.append(token);
        }
    }
    // The comma before a value or key; none after a key or at a container's start.
    void separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        Level& l = stack_.back();
        if (!l.first) {
            content.push_back(',');
        }
        l.first = false;
    }

    bool keepContent_;
    std::vector<Level> stack_;
    bool afterKey_ = false;
    Member blockType_ = Member::absent;
    Member blockText_ = Member::absent;
    std::string type_;
    std::string text_;
};

// The reply of a structured completion; only these members are read.
struct MessagesResponse {
    bool textBlockFound = false;
    std::optional<std::string> text;
    std::optional<std::string> stopReason;

    // The text of the first text-typed block; absent when that block has none.
    std::optional<std::string> firstText() const { return textBlockFound ? text : std::nullopt; }
};

MessagesResponse decodeMessagesResponse(const std::string& bytes) {
    ReplyReader reader(false);
    reader.read(bytes);
    // The errors a reader of the whole tree reports, in its order.
    if (!reader.topIsObject) {
        throw json::DecodingError("typeMismatch: expected an object for MessagesResponse");
    }
    using Member = ReplyReader::Member;
    if (reader.contentKind == Member::absent || reader.contentKind == Member::null) {
        throw json::DecodingError("keyNotFound: \"content\" in MessagesResponse");
    }
    if (!reader.contentIsArray) {
        throw json::DecodingError(
            "typeMismatch: expected an array: \"content\" in MessagesResponse");
    }
    if (reader.blockError) {
        throw json::DecodingError(*reader.blockError);
    }
    MessagesResponse response;
    if (reader.stopReasonKind == Member::string) {
        response.stopReason = std::move(reader.stopReason);
    } else if (reader.stopReasonKind == Member::other) {
        throw json::DecodingError(
            "typeMismatch: expected a string: \"stop_reason\" in MessagesResponse");
    }
    response.textBlockFound = reader.textBlockFound;
    response.text = std::move(reader.firstText);
    return response;
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
    return sendText(json::writeCompact(body), withMCP, std::move(stop));
}

platform::HttpResponse AnthropicClient::sendText(std::string body, bool withMCP,
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
    request.body = std::move(body);
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
    // The messages as compact JSON: every reply's blocks are sent back exactly as received,
    // and held as text rather than as a tree many times their size.
    std::vector<std::string> conversation{json::writeCompact(first)};
    // Members of the body around "messages", in the sorted order of every other body.
    const std::string head =
        json::concat({"{\"max_tokens\":", json::writeCompact(maxTokens),
                      ",\"mcp_servers\":", json::writeCompact(connectors), ",\"messages\":["});
    const std::string tail = json::concat({"],\"model\":", json::writeCompact(model_),
                                           ",\"thinking\":", json::writeCompact(thinking()), "}"});

    std::string result;
    std::size_t conversationBytes = instruction.size();
    for (int turn = 0; turn < maxTurns; ++turn) {
        if (stop.stop_requested()) {
            throw platform::CancellationError();
        }
        checkConversationSize(conversationBytes);
        std::string body = head;
        for (std::size_t i = 0; i < conversation.size(); ++i) {
            if (i > 0) {
                body.push_back(',');
            }
            body += conversation[i];
        }
        body += tail;

        platform::HttpResponse response = sendText(std::move(body), true, stop);
        checkStatus(response);
        conversationBytes += response.body.size();
        checkConversationSize(conversationBytes);
        ReplyReader reply(true);
        reply.read(response.body);
        response.body = std::string();
        if (!reply.topIsContainer) {
            throw json::DecodingError("The data couldn't be read because it isn't in the correct "
                                      "format: JSON text did not start with array or object.");
        }
        if (!reply.topIsObject) {
            throw ClientError::noTextContent();
        }
        std::optional<std::string> stopReason;
        if (reply.stopReasonKind == ReplyReader::Member::string) {
            stopReason = std::move(reply.stopReason);
        }
        std::string blocks = "[]";
        if (reply.contentIsArray && reply.everyBlockIsObject) {
            blocks = std::move(reply.content);
            result += reply.allText;
        }

        if (stopReason == "refusal") {
            throw ClientError::refusal(result.empty() ? std::string("no explanation") : result);
        }
        if (stopReason != "pause_turn") {
            return result;
        }
        conversation.push_back(json::concat({"{\"content\":", blocks, ",\"role\":\"assistant\"}"}));
    }
    return result;
}

} // namespace kestro
