#include "KestroCore/MCPRegistry.h"
#include "KestroCore/Paths.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

using namespace kestro;
using kestro::testing::DataFolderTest;

namespace {

class MCPRegistryTest : public DataFolderTest {
protected:
    void writeOverrides(std::string_view text) {
        kestro::testing::writeFile(Paths::support() / "mcp_servers.json", text);
    }

    // "name url [bundle ids] token" for each server, sorted by name (the order is not fixed).
    static std::vector<std::string> describe(const MCPRegistry& registry) {
        std::vector<std::string> out;
        for (const MCPServer& s : registry.servers()) {
            std::string line = s.name + " " + s.url + " [";
            for (std::size_t i = 0; i < s.bundleIDs.size(); ++i) {
                line += (i ? "," : "") + s.bundleIDs[i];
            }
            line += "] " + (s.authToken ? "'" + *s.authToken + "'" : std::string("none"));
            out.push_back(line);
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    static std::vector<std::string> names(const std::vector<MCPServer>& servers) {
        std::vector<std::string> out;
        for (const MCPServer& s : servers) {
            out.push_back(s.name);
        }
        return out;
    }
};

const std::vector<std::string> builtIns = {
    "linear https://mcp.linear.app/mcp [com.linear,com.linear.linear] none",
    "notion https://mcp.notion.com/mcp [notion.id] none",
};

} // namespace

TEST_F(MCPRegistryTest, OverrideFiles) {
    struct Case {
        const char* what;
        std::optional<std::string> file;
        std::vector<std::string> servers;
    };
    const std::vector<Case> cases = {
        {"no file", std::nullopt, builtIns},
        {"replace whole",
         R"([{"name":"linear","url":"https://l.example/mcp","bundleIDs":["com.linear"],"authToken":"t"}])",
         {"linear https://l.example/mcp [com.linear] 't'", builtIns[1]}},
        {"add, unknown keys ignored",
         R"([{"name":"jira","url":"https://j.example/mcp","bundleIDs":["org.jira"],"extra":1}])",
         {"jira https://j.example/mcp [org.jira] none", builtIns[0], builtIns[1]}},
        {"later wins",
         R"([{"name":"x","url":"u1","bundleIDs":["a"],"authToken":"1"},
             {"name":"x","url":"u2","bundleIDs":["b"]}])",
         {builtIns[0], builtIns[1], "x u2 [b] none"}},
        {"snake-case keys accepted",
         R"([{"name":"linear","url":"u","bundle_i_ds":["com.linear"],"auth_token":"t"}])",
         {"linear u [com.linear] 't'", builtIns[1]}},
        {"camel-case and capitalised snake keys",
         R"([{"name":"a","url":"u","BUNDLE_I_DS":["x"],"__auth_token":"t"},
             {"name":"b","url":"u","bundleIDs":[],"authToken":null}])",
         {"a u [x] none", "b u [] none", builtIns[0], builtIns[1]}},
        {"bundle_ids does not convert to bundleIDs",
         R"([{"name":"linear","url":"u","bundle_ids":["com.linear"],"authToken":"t"}])", builtIns},
        {"one bad entry discards the file",
         R"([{"name":"ok","url":"u","bundleIDs":["a"]},{"name":"bad","bundleIDs":["a"]}])",
         builtIns},
        {"wrong value type", R"([{"name":"a","url":"u","bundleIDs":"a"}])", builtIns},
        {"non-string bundle id", R"([{"name":"a","url":"u","bundleIDs":["a",1]}])", builtIns},
        {"token of the wrong type", R"([{"name":"a","url":"u","bundleIDs":[],"authToken":5}])",
         builtIns},
        {"top-level object", R"({"name":"a","url":"u","bundleIDs":[]})", builtIns},
        {"not JSON", "[{", builtIns},
        {"empty list", "[]", builtIns},
        {"empty token kept as given",
         R"([{"name":"notion","url":"u","bundleIDs":["notion.id"],"authToken":""}])",
         {builtIns[0], "notion u [notion.id] ''"}},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(Paths::support());
        if (c.file) {
            writeOverrides(*c.file);
        }
        EXPECT_EQ(describe(MCPRegistry()), c.servers) << c.what;
    }
}

TEST_F(MCPRegistryTest, FileIsReadOnceWhenTheRegistryIsMade) {
    const MCPRegistry registry;
    writeOverrides(R"([{"name":"x","url":"u","bundleIDs":["a"],"authToken":"t"}])");
    EXPECT_EQ(describe(registry), builtIns);
    EXPECT_EQ(describe(MCPRegistry()).size(), 3u);
}

TEST_F(MCPRegistryTest, UnreadableFileLeavesTheBuiltIns) {
    std::filesystem::create_directories(Paths::support() / "mcp_servers.json");
    EXPECT_EQ(describe(MCPRegistry()), builtIns);
}

TEST_F(MCPRegistryTest, DeeplyNestedFileLeavesTheBuiltIns) {
    const std::string deep = std::string(100000, '[') + std::string(100000, ']');
    writeOverrides(R"([{"name":"x","url":"u","bundleIDs":["a"],"extra":)" + deep + "}]");
    EXPECT_EQ(describe(MCPRegistry()), builtIns);
}

TEST_F(MCPRegistryTest, ConnectedServers) {
    writeOverrides(R"([
        {"name":"linear","url":"u","bundleIDs":["com.linear"],"authToken":"t1"},
        {"name":"tracker","url":"u","bundleIDs":["com.linear","org.other"],"authToken":"t2"},
        {"name":"empty","url":"u","bundleIDs":["com.linear"],"authToken":""},
        {"name":"nobundles","url":"u","bundleIDs":[],"authToken":"t3"}])");
    const MCPRegistry registry;
    const auto both = registry.connectedServers({"com.linear"});
    EXPECT_EQ(names(both), (std::vector<std::string>{"linear", "tracker"}));
    // Same order as the registry's own list.
    std::vector<std::string> order;
    for (const MCPServer& s : registry.servers()) {
        if (s.name == "linear" || s.name == "tracker") {
            order.push_back(s.name);
        }
    }
    EXPECT_EQ(names(both), order);

    EXPECT_EQ(names(registry.connectedServers({"org.other", "x"})),
              std::vector<std::string>{"tracker"});
    EXPECT_TRUE(registry.connectedServers({"com.linear.linear"}).empty()); // replaced whole
    EXPECT_TRUE(registry.connectedServers({"COM.LINEAR"}).empty());
    EXPECT_TRUE(registry.connectedServers({}).empty());
    EXPECT_TRUE(registry.connectedServers({"notion.id"}).empty()); // no token
    ASSERT_TRUE(registry.server({"org.other"}));
    EXPECT_EQ(registry.server({"org.other"})->name, "tracker");
    EXPECT_FALSE(registry.server({"notion.id"}));
}

TEST_F(MCPRegistryTest, WithoutAFileNothingIsConnected) {
    const MCPRegistry registry;
    EXPECT_TRUE(
        registry.connectedServers({"com.linear", "com.linear.linear", "notion.id"}).empty());
}

TEST(MCPServer, ConnectorEntryAndJson) {
    MCPServer server{.name = "n", .url = "https://h/mcp", .bundleIDs = {"a"}};
    EXPECT_EQ(server.connectorJSON(),
              json::parse(R"({"type":"url","url":"https://h/mcp","name":"n"})"));
    server.authToken = "";
    EXPECT_FALSE(server.connectorJSON().contains("authorization_token"));
    server.authToken = "tok";
    EXPECT_EQ(server.connectorJSON()["authorization_token"], "tok");

    EXPECT_EQ(
        toJson(server),
        json::parse(R"({"name":"n","url":"https://h/mcp","bundleIDs":["a"],"authToken":"tok"})"));
    server.authToken.reset();
    EXPECT_FALSE(toJson(server).contains("authToken"));
    const MCPServer back = mcpServerFromJson(toJson(server));
    EXPECT_EQ(back.name, "n");
    EXPECT_EQ(back.bundleIDs, std::vector<std::string>{"a"});
    EXPECT_FALSE(back.authToken);
    // The plain coder does not convert keys.
    EXPECT_THROW(mcpServerFromJson(json::parse(R"({"name":"n","url":"u","bundle_i_ds":[]})")),
                 json::DecodingError);
}
