#pragma once

#include "tests/net/LocalServer.h"

#include <chrono>
#include <string>
#include <vector>

namespace kestro::testing::e2e {

// The model service as the scenarios play it: a server on 127.0.0.1 that records every request
// (method, path, headers, body) and answers from a script, or holds its answer back until the
// test lets it go.
class ModelStandIn : public LocalServer {
public:
    std::string endpoint() const { return url("/v1/messages"); }

    // A reply of the messages endpoint carrying `text`, stopped for `stopReason`.
    static std::string textReply(const std::string& text,
                                 const std::string& stopReason = "end_turn");
    // The structured reply of a synthesis: the draft as the model's JSON text.
    static std::string draftReply(const std::string& draftJson);

    // Every request from now on is held until release() (or `limit`), then answered with
    // `reply`.
    void stall(const std::string& reply,
               std::chrono::milliseconds limit = std::chrono::seconds(60));
    // Waits until `count` requests have arrived.
    bool waitForRequests(std::size_t count, double seconds) const;
};

// The images, decoded base64 bodies aside, of a model request: how many, and of which types.
struct RequestImages {
    int count = 0;
    int jpeg = 0;
};
RequestImages imagesIn(const std::string& requestBody);

} // namespace kestro::testing::e2e
