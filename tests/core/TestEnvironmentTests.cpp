#include "KestroCore/Paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

TEST(TestEnvironment, DataFoldersNeverPointAtTheRealHome) {
    const std::string support = kestro::Paths::support().string();
    EXPECT_NE(support.find("kestro-home-"), std::string::npos) << support;
    EXPECT_EQ(std::getenv("ANTHROPIC_API_KEY"), nullptr);
}
