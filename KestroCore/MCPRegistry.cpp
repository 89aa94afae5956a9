#include "KestroCore/MCPRegistry.h"

#include "KestroBase/FileIO.h"
#include "KestroCore/KeyConversion.h"
#include "KestroCore/Paths.h"

#include <algorithm>
#include <unordered_set>

namespace kestro {

namespace {

std::vector<MCPServer> builtIns() {
    return {
        MCPServer{.name = "linear",
                  .url = "https://mcp.linear.app/mcp",
                  .bundleIDs = {"com.linear", "com.linear.linear"}},
        MCPServer{
            .name = "notion", .url = "https://mcp.notion.com/mcp", .bundleIDs = {"notion.id"}},
    };
}

// The user's entries in file order; nothing at all when the file is missing or any part of it
// does not decode, so a typo never half-applies.
std::vector<MCPServer> loadOverrides() {
    const auto bytes = readFileIfPresent(Paths::support() / MCPRegistry::overrideFileName);
    if (!bytes) {
        return {};
    }
    try {
        const json::Value document = json::convertingKeysFromSnakeCase(json::parseForeign(*bytes));
        if (!document.is_array()) {
            return {};
        }
        std::vector<MCPServer> servers;
        for (const json::Value& entry : document) {
            servers.push_back(mcpServerFromJson(entry));
        }
        return servers;
    } catch (const json::DecodingError&) {
        return {};
    }
}

} // namespace

MCPRegistry::MCPRegistry() : servers_(builtIns()) {
    for (MCPServer& entry : loadOverrides()) {
        auto same = std::find_if(servers_.begin(), servers_.end(),
                                 [&](const MCPServer& s) { return s.name == entry.name; });
        if (same != servers_.end()) {
            *same = std::move(entry);
        } else {
            servers_.push_back(std::move(entry));
        }
    }
}

std::vector<MCPServer>
MCPRegistry::connectedServers(const std::vector<std::string>& bundleIDs) const {
    const std::unordered_set<std::string> wanted(bundleIDs.begin(), bundleIDs.end());
    std::vector<MCPServer> connected;
    for (const MCPServer& server : servers_) {
        if (!server.authToken || server.authToken->empty()) {
            continue;
        }
        if (std::any_of(server.bundleIDs.begin(), server.bundleIDs.end(),
                        [&](const std::string& id) { return wanted.contains(id); })) {
            connected.push_back(server);
        }
    }
    return connected;
}

std::optional<MCPServer> MCPRegistry::server(const std::vector<std::string>& bundleIDs) const {
    auto connected = connectedServers(bundleIDs);
    if (connected.empty()) {
        return std::nullopt;
    }
    return connected.front();
}

} // namespace kestro
