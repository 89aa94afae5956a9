#include "KestroCore/KeyConversion.h"

#include <gtest/gtest.h>

using namespace kestro;

TEST(KeyConversion, FromSnakeCase) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"app_bundle_id", "appBundleId"},
        {"bundle_i_ds", "bundleIDs"},
        {"bundle_ids", "bundleIds"},
        {"auth_token", "authToken"},
        {"appScope", "appScope"},
        {"bundleIDs", "bundleIDs"},
        {"name", "name"},
        {"NAME", "NAME"},
        {"IS_DESTRUCTIVE", "isDestructive"},
        {"is__destructive", "isDestructive"},
        {"_auth_token_", "_authToken_"},
        {"__a_b__", "__aB__"},
        {"_name", "_name"},
        {"name__", "name__"},
        {"___", "___"},
        {"", ""},
        {"a_2fa", "a2fa"},
        {"x_yZ", "xYz"},
    };
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(json::convertFromSnakeCase(in), out) << in;
    }
}

TEST(KeyConversion, ConvertsKeysAtEveryDepth) {
    const auto converted = json::convertingKeysFromSnakeCase(json::parse(
        R"({"app_scope":["a_b"],"plan":[{"is_destructive":true,"target":{"ax_role":"r_x"}}]})"));
    EXPECT_EQ(
        converted,
        json::parse(
            R"({"appScope":["a_b"],"plan":[{"isDestructive":true,"target":{"axRole":"r_x"}}]})"));
}
