#include "KestroCore/MCPServer.h"

namespace kestro {

json::Value MCPServer::connectorJSON() const {
    json::Value v = json::Value::object();
    v["type"] = "url";
    v["url"] = url;
    v["name"] = name;
    if (authToken && !authToken->empty()) {
        v["authorization_token"] = *authToken;
    }
    return v;
}

json::Value toJson(const MCPServer& server) {
    json::Value v = json::Value::object();
    v["name"] = server.name;
    v["url"] = server.url;
    v["bundleIDs"] = server.bundleIDs;
    json::setOptional(v, "authToken", server.authToken);
    return v;
}

MCPServer mcpServerFromJson(const json::Value& value) {
    const json::ObjectReader r(value, "MCPServer");
    MCPServer server;
    server.name = r.requiredString("name");
    server.url = r.requiredString("url");
    server.bundleIDs = r.requiredList<std::string>("bundleIDs", [&](const json::Value& e) {
        if (!e.is_string()) {
            r.fail("bundleIDs", "typeMismatch: expected a string");
        }
        return e.get<std::string>();
    });
    server.authToken = r.optionalString("authToken");
    return server;
}

} // namespace kestro
