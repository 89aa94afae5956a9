#pragma once

#include "KestroCore/MCPServer.h"

#include <optional>
#include <string>
#include <vector>

namespace kestro {

// Every MCP server the system knows: the built-in ones, merged by name with the user's optional
// "mcp_servers.json" in the support folder, read once when the registry is made.
class MCPRegistry {
public:
    static constexpr const char* overrideFileName = "mcp_servers.json";

    MCPRegistry();

    // The list never changes after the registry is made.
    const std::vector<MCPServer>& servers() const { return servers_; }

    // In the order of servers(): those with a non-empty token that serve at least one of the
    // given bundle identifiers (compared exactly).
    std::vector<MCPServer> connectedServers(const std::vector<std::string>& bundleIDs) const;
    std::optional<MCPServer> server(const std::vector<std::string>& bundleIDs) const;

private:
    std::vector<MCPServer> servers_;
};

} // namespace kestro
