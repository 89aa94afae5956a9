#include "Kestro/SystemLog.h"

#include <gtest/gtest.h>

#include <vector>

using namespace kestro;

TEST(SystemLog, LinesReachTheSinkVerbatim) {
    std::vector<std::string> lines;
    setLogSink([&](const std::string& line) { lines.push_back(line); });
    systemLog("Kestro: 100% done %s %n");
    setLogSink({});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "Kestro: 100% done %s %n");
}
