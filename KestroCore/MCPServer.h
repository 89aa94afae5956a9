#pragma once

#include "KestroCore/Json.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro {

// A remote tool server that the model service may call during a cast, and the applications it
// acts for.
struct MCPServer {
    std::string name;
    std::string url;
    std::vector<std::string> bundleIDs;
    // A server without a token takes no part in casts.
    std::optional<std::string> authToken;

    // The server's entry in a request's "mcp_servers" list; the token goes in only when it is
    // present and not empty.
    json::Value connectorJSON() const;
};

// Keys "name", "url", "bundleIDs" and, when present, "authToken".
json::Value toJson(const MCPServer& server);
// Requires "name", "url" and "bundleIDs"; other keys are ignored. Throws json::DecodingError.
MCPServer mcpServerFromJson(const json::Value& value);

} // namespace kestro
