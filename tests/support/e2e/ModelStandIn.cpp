#include "tests/support/e2e/ModelStandIn.h"

#include "KestroCore/Json.h"
#include "tests/support/e2e/Wait.h"

namespace kestro::testing::e2e {

std::string ModelStandIn::textReply(const std::string& text, const std::string& stopReason) {
    json::Value reply = {{"id", "msg_e2e"},
                         {"type", "message"},
                         {"role", "assistant"},
                         {"content", {{{"type", "text"}, {"text", text}}}},
                         {"stop_reason", stopReason}};
    return reply.dump();
}

std::string ModelStandIn::draftReply(const std::string& draftJson) {
    return textReply(draftJson);
}

void ModelStandIn::stall(const std::string& reply, std::chrono::milliseconds limit) {
    setHandler([this, reply, limit](const httplib::Request&, httplib::Response& response) {
        holdUntilReleased(limit);
        response.set_content(reply, "application/json");
    });
}

bool ModelStandIn::waitForRequests(std::size_t count, double seconds) const {
    return waitFor([&] { return received().size() >= count; }, seconds);
}

RequestImages imagesIn(const std::string& requestBody) {
    RequestImages out;
    const json::Value body = json::Value::parse(requestBody, nullptr, false);
    if (!body.is_object() || !body.contains("messages")) {
        return out;
    }
    for (const auto& message : body["messages"]) {
        if (!message.contains("content") || !message["content"].is_array()) {
            continue;
        }
        for (const auto& block : message["content"]) {
            if (block.value("type", "") != "image") {
                continue;
            }
            ++out.count;
            if (block.contains("source") &&
                block["source"].value("media_type", "") == "image/jpeg") {
                ++out.jpeg;
            }
        }
    }
    return out;
}

} // namespace kestro::testing::e2e
